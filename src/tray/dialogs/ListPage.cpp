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

bool ListPage::OnMessage(UINT message, WPARAM, LPARAM lParam, LRESULT&) {
    HWND list = List();
    if (message != WM_SIZE || list == nullptr) {
        return false;  // the first size comes before the controls exist
    }
    // The Options dialog sizes the page to its tab's display area; the template's left and
    // top margins then hold on the right and at the bottom too.
    RECT rect{};
    GetWindowRect(list, &rect);
    MapWindowPoints(nullptr, window(), reinterpret_cast<POINT*>(&rect), 2);
    const int width = LOWORD(lParam) - 2 * rect.left;
    const int height = HIWORD(lParam) - 2 * rect.top;
    MoveWindow(list, rect.left, rect.top, width > 0 ? width : 0, height > 0 ? height : 0, TRUE);
    return false;
}

}  // namespace vantel
