#include "tray/dialogs/ListViewRows.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantel {

void AddListColumn(HWND list, int index, const std::string& title, int width) {
    std::vector<char> text(title.begin(), title.end());
    text.push_back('\0');
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = text.data();
    column.cx = width;
    column.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

namespace {

/// Row `index` with `text` in column 0 and `image`; `buffer` holds the text for the call.
LVITEMA RowItem(int index, const std::string& text, int image, std::vector<char>& buffer) {
    buffer.assign(text.begin(), text.end());
    buffer.push_back('\0');
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = buffer.data();
    item.iImage = image;
    return item;
}

}  // namespace

void InsertListRow(HWND list, int index, const std::string& text, int image, int columnCount) {
    std::vector<char> buffer;
    LVITEMA item = RowItem(index, text, image, buffer);
    const int row =
        static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) {
        return;
    }
    for (int column = 1; column < columnCount; ++column) {
        LVITEMA sub{};
        sub.iSubItem = column;
        sub.pszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&sub));
    }
}

void SetListRow(HWND list, int index, const std::string& text, int image) {
    std::vector<char> buffer;
    LVITEMA item = RowItem(index, text, image, buffer);
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    SendMessageA(list, LVM_REDRAWITEMS, static_cast<WPARAM>(index), static_cast<LPARAM>(index));
}

void DeleteListRow(HWND list, int index) {
    SendMessageA(list, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
}

void ClearListRows(HWND list) {
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
}

int FocusedListRow(HWND list) {
    return static_cast<int>(
        SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

void SupplyListText(NMLVDISPINFOA& request, std::string_view text) {
    if ((request.item.mask & LVIF_TEXT) == 0 || request.item.pszText == nullptr ||
        request.item.cchTextMax <= 0) {
        return;
    }
    const std::size_t room = static_cast<std::size_t>(request.item.cchTextMax) - 1;
    const std::size_t length = std::min(text.size(), room);
    std::memcpy(request.item.pszText, text.data(), length);
    request.item.pszText[length] = '\0';
}

}  // namespace vantel
