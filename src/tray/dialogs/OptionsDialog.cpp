#include "tray/dialogs/OptionsDialog.h"

#include <commctrl.h>

#include "tray/ResourceStrings.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {

OptionsDialog::OptionsDialog(const DialogContext& context)
    : Dialog(context.instance, IDD_OPTIONS), context_(context) {}

OptionsDialog::~OptionsDialog() {
    // The pages' windows are children of ours; they go first.
    pages_.clear();
}

int OptionsDialog::CurrentTab() const {
    return window() == nullptr
               ? -1
               : static_cast<int>(SendMessageA(Item(kTabControl), TCM_GETCURSEL, 0, 0));
}

void OptionsDialog::ShowPage(int index, bool show) {
    if (index >= 0 && static_cast<std::size_t>(index) < pages_.size()) {
        ShowWindow(pages_[static_cast<std::size_t>(index)]->window(), show ? SW_SHOW : SW_HIDE);
    }
}

bool OptionsDialog::OnInitDialog() {
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        pages_[i]->CreateModeless(window());
        if (i > 0) {
            ShowWindow(pages_[i]->window(), SW_HIDE);
        }
        // Enter and Escape inside a page are the page's own OK and Cancel, not the dialog's.
        EnumChildWindows(pages_[i]->window(), HookPageControl, reinterpret_cast<LPARAM>(this));
    }
    // The template's place is relative to the hidden main window, wherever that is.
    CentreInArea(window(), context_.workArea());
    SetForegroundWindow(window());
    BringWindowToTop(window());

    HWND tabs = Item(kTabControl);
    const unsigned titles[] = {IDS_TAB_SERVERS, IDS_TAB_KLUDGES, IDS_TAB_SPECIAL, IDS_TAB_GENERAL};
    for (int i = 0; i < 4; ++i) {
        std::string text = LoadResourceString(titles[i]);
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&item));
    }
    SendMessageA(tabs, TCM_SETCURSEL, 0, 0);
    ShowPage(0, true);

    // Every page fills the tab's display area, above the tab control.
    RECT area{};
    GetWindowRect(tabs, &area);
    SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    MapWindowPoints(nullptr, window(), reinterpret_cast<POINT*>(&area), 2);
    for (auto& page : pages_) {
        SetWindowPos(page->window(), HWND_TOP, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, 0);
    }
    for (auto& page : pages_) {
        page->LoadControls();
    }
    return true;
}

LRESULT OptionsDialog::OnNotify(NMHDR& header, bool& handled) {
    if (header.idFrom != kTabControl) {
        handled = false;
        return 0;
    }
    if (header.code == TCN_SELCHANGING) {
        ShowPage(CurrentTab(), false);
        handled = true;
    } else if (header.code == TCN_SELCHANGE) {
        ShowPage(CurrentTab(), true);
        handled = true;
    }
    return 0;
}

LRESULT CALLBACK OptionsDialog::PageKeySubclass(HWND control, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR id, DWORD_PTR self) {
    const auto isPageKey = [](WPARAM key) { return key == VK_RETURN || key == VK_ESCAPE; };
    switch (message) {
        case WM_GETDLGCODE: {
            // Keeps the dialog's own keyboard handling from turning the key into OK or Cancel.
            const auto* pending = reinterpret_cast<const MSG*>(lParam);
            const LRESULT code = DefSubclassProc(control, message, wParam, lParam);
            if (pending != nullptr && pending->message == WM_KEYDOWN &&
                isPageKey(pending->wParam)) {
                return code | DLGC_WANTMESSAGE;
            }
            return code;
        }
        case WM_KEYDOWN:
            if (isPageKey(wParam)) {
                reinterpret_cast<OptionsDialog*>(self)->OptionsPageHook(wParam == VK_RETURN ? 1
                                                                                            : 2);
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == '\r' || wParam == 0x1B) {
                return 0;  // no beep from an edit that was given the key
            }
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(control, PageKeySubclass, id);
            break;
        default:
            break;
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

BOOL CALLBACK OptionsDialog::HookPageControl(HWND control, LPARAM self) {
    SetWindowSubclass(control, PageKeySubclass, 1, static_cast<DWORD_PTR>(self));
    return TRUE;
}

bool OptionsDialog::OnCommand(UINT id, UINT code, HWND control) {
    (void)code;
    (void)control;
    if (id == kSchemesButton) {
        if (onSchemes) {
            onSchemes(window());
        }
        return true;
    }
    return false;
}

void OptionsDialog::OnOK() {
    // Every page is read back; a page that refuses a field has told the user, and the dialog
    // closes all the same.
    for (auto& page : pages_) {
        page->ReadBack();
    }
    EndDialog(IDOK);
}

}  // namespace vantel
