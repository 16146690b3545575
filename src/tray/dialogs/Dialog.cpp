#include "tray/dialogs/Dialog.h"

namespace vantel {

Dialog::~Dialog() {
    if (window_ != nullptr && !modal_) {
        DestroyWindow(window_);
    }
}

INT_PTR Dialog::RunModal(HWND owner) {
    modal_ = true;
    const INT_PTR result = DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId_), owner,
                                           DialogProc, reinterpret_cast<LPARAM>(this));
    modal_ = false;
    return result;
}

HWND Dialog::CreateModeless(HWND parent) {
    modal_ = false;
    return CreateDialogParamA(instance_, MAKEINTRESOURCEA(templateId_), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

void Dialog::EndDialog(INT_PTR result) {
    if (window_ != nullptr && modal_) {
        ::EndDialog(window_, result);
    }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        self->window_ = nullptr;
        return FALSE;
    }
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog() ? TRUE : FALSE;
        case WM_COMMAND: {
            const UINT id = LOWORD(wParam);
            if (OnCommand(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam))) {
                return TRUE;
            }
            if (id == IDOK) {
                OnOK();
                return TRUE;
            }
            if (id == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
            return FALSE;
        }
        case WM_NOTIFY: {
            bool handled = false;
            const LRESULT result = OnNotify(*reinterpret_cast<NMHDR*>(lParam), handled);
            if (handled) {
                SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
            }
            return handled ? TRUE : FALSE;
        }
        default: {
            LRESULT result = 0;
            if (!OnMessage(message, wParam, lParam, result)) {
                return FALSE;
            }
            // These answer through the dialog procedure's return value itself.
            if ((message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) ||
                message == WM_COMPAREITEM || message == WM_VKEYTOITEM || message == WM_CHARTOITEM ||
                message == WM_QUERYDRAGICON) {
                return static_cast<INT_PTR>(result);
            }
            SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }
}

}  // namespace vantel
