#include "tray/dialogs/ListPage.h"

#include "tray/dialogs/ListViewRows.h"

namespace vantel {

LRESULT ListPage::OnNotify(NMHDR& header, bool& handled) {
    handled = false;
    if (header.idFrom != static_cast<UINT_PTR>(listId_)) {
        return 0;
    }
    switch (header.code) {
        case NM_RCLICK:
            Add();
            break;
        case NM_DBLCLK:
            Edit();
            break;
        case LVN_KEYDOWN:
            if (reinterpret_cast<NMLVKEYDOWN&>(header).wVKey == VK_DELETE) {
                Delete();
            }
            break;
        case LVN_GETDISPINFOA: {
            auto& request = reinterpret_cast<NMLVDISPINFOA&>(header);
            SupplyListText(request, CellText(request.item.iItem, request.item.iSubItem));
            break;
        }
        default:
            return 0;
    }
    handled = true;
    return 0;
}

}  // namespace vantel
