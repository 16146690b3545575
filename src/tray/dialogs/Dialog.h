// A dialog from a resource template, modal or modeless, with its messages routed to virtual
// handlers. The base of every window of the Options dialog and its editors.
#pragma once

#include <windows.h>

#include <string>

namespace vantel {

class Dialog {
  public:
    Dialog(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    /// Runs the dialog in its own loop until EndDialog; IDOK, IDCANCEL or -1 (no window).
    INT_PTR RunModal(HWND owner);
    /// Creates the dialog as a modeless window (a child when the template says so).
    HWND CreateModeless(HWND parent);
    /// Ends a modal run with `result`.
    void EndDialog(INT_PTR result);

    HWND window() const { return window_; }
    /// Whether the window runs its own modal loop (else it is modeless).
    bool isModal() const { return modal_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    HINSTANCE instance() const { return instance_; }

  protected:
    /// After the controls exist; return false when the focus was set here.
    virtual bool OnInitDialog() { return true; }
    /// A command; return false to let the default handling (OK, Cancel) run.
    virtual bool OnCommand(UINT id, UINT code, HWND control) {
        (void)id;
        (void)code;
        (void)control;
        return false;
    }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    /// A WM_NOTIFY from a control; set `handled` and return the notification's result.
    virtual LRESULT OnNotify(NMHDR& header, bool& handled) {
        (void)header;
        handled = false;
        return 0;
    }
    /// Any other message; return true when handled (`result` is then the message's result).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        (void)message;
        (void)wParam;
        (void)lParam;
        (void)result;
        return false;
    }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    int templateId_;
    HWND window_ = nullptr;
    bool modal_ = false;
};

}  // namespace vantel
