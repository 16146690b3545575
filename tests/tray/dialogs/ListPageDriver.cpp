#include "tray/dialogs/ListPageDriver.h"

#include <gtest/gtest.h>

#include <vector>

#include "tray/dialogs/ModalDriver.h"

namespace vantel::test {

PageParent::PageParent() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    window_ = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
}

PageParent::~PageParent() {
    DestroyWindow(window_);
}

HWND PageParent::Open(OptionsPage& page) {
    return page.CreateModeless(window_);
}

void NotifyList(HWND page, int listId, UINT code) {
    NMITEMACTIVATE activate{};
    activate.hdr.hwndFrom = GetDlgItem(page, listId);
    activate.hdr.idFrom = static_cast<UINT_PTR>(listId);
    activate.hdr.code = code;
    activate.iItem = -1;
    SendMessageA(page, WM_NOTIFY, static_cast<WPARAM>(listId), reinterpret_cast<LPARAM>(&activate));
}

void PressListKey(HWND page, int listId, WORD key) {
    NMLVKEYDOWN keyDown{};
    keyDown.hdr.hwndFrom = GetDlgItem(page, listId);
    keyDown.hdr.idFrom = static_cast<UINT_PTR>(listId);
    keyDown.hdr.code = LVN_KEYDOWN;
    keyDown.wVKey = key;
    SendMessageA(page, WM_NOTIFY, static_cast<WPARAM>(listId), reinterpret_cast<LPARAM>(&keyDown));
}

std::string RequestCellText(HWND page, int listId, int row, int column, int room) {
    std::vector<char> buffer(static_cast<std::size_t>(room), 'x');
    buffer.back() = '\0';
    NMLVDISPINFOA request{};
    request.hdr.hwndFrom = GetDlgItem(page, listId);
    request.hdr.idFrom = static_cast<UINT_PTR>(listId);
    request.hdr.code = LVN_GETDISPINFOA;
    request.item.mask = LVIF_TEXT;
    request.item.iItem = row;
    request.item.iSubItem = column;
    request.item.pszText = buffer.data();
    request.item.cchTextMax = room;
    SendMessageA(page, WM_NOTIFY, static_cast<WPARAM>(listId), reinterpret_cast<LPARAM>(&request));
    return std::string(request.item.pszText);
}

std::string CellText(HWND list, int row, int column) {
    char buffer[512] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return std::string(item.pszText != nullptr ? item.pszText : "");
}

int RowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

int RowImage(HWND list, int row) {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

std::string ColumnTitle(HWND list, int column) {
    char buffer[128] = {};
    LVCOLUMNA header{};
    header.mask = LVCF_TEXT;
    header.pszText = buffer;
    header.cchTextMax = sizeof buffer;
    SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&header));
    return buffer;
}

void ClickOkToClose(HWND editor) {
    Click(editor, IDOK);
    if (IsWindowVisible(editor)) {
        ADD_FAILURE() << "OK did not close the editor";
        Click(editor, IDCANCEL);
    }
}

void FocusRow(HWND list, int row) {
    LVITEMA state{};
    state.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    state.state = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&state));
}

}  // namespace vantel::test
