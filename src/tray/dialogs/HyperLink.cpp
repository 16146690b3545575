#include "tray/dialogs/HyperLink.h"

#include <commctrl.h>

#include <vector>

namespace vantel {
namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT kToolId = 1;

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    return std::string(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

}  // namespace

HyperLink::~HyperLink() {
    if (control_ != nullptr && IsWindow(control_)) {
        RemoveWindowSubclass(control_, SubclassProc, kSubclassId);
    }
    if (tooltip_ != nullptr && IsWindow(tooltip_)) {
        DestroyWindow(tooltip_);
    }
    if (underlineFont_ != nullptr) {
        if (control_ != nullptr && IsWindow(control_)) {
            SendMessageA(control_, WM_SETFONT, reinterpret_cast<WPARAM>(originalFont_), FALSE);
        }
        DeleteObject(underlineFont_);
    }
}

void HyperLink::Attach(HWND control) {
    control_ = control;
    SetWindowLongPtrA(control_, GWL_STYLE, GetWindowLongPtrA(control_, GWL_STYLE) | SS_NOTIFY);
    const std::string text = WindowText(control_);
    if (url_.empty()) {
        url_ = text;
    }
    if (text.empty()) {
        SetWindowTextA(control_, url_.c_str());
    }
    PositionWindow();
    SetWindowSubclass(control_, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));

    tooltip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, GetParent(control_),
                               nullptr, nullptr, nullptr);
    if (tooltip_ != nullptr) {
        TOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_SUBCLASS;  // the tooltip sees the control's mouse messages itself
        tool.hwnd = control_;
        tool.uId = kToolId;
        GetClientRect(control_, &tool.rect);
        tool.lpszText = url_.data();
        SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void HyperLink::SetURL(const std::string& url) {
    url_ = url;
    if (control_ == nullptr) {
        return;
    }
    PositionWindow();
    if (tooltip_ != nullptr) {
        TOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = control_;
        tool.uId = kToolId;
        tool.lpszText = url_.data();
        SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void HyperLink::SetVisited(bool visited) {
    visited_ = visited;
    Redraw();
}

void HyperLink::SetUnderline(bool underline) {
    underline_ = underline;
    ApplyFont();
    Redraw();
}

void HyperLink::ApplyFont() {
    if (control_ == nullptr) {
        return;
    }
    if (originalFont_ == nullptr) {
        originalFont_ = reinterpret_cast<HFONT>(SendMessageA(control_, WM_GETFONT, 0, 0));
    }
    if (underline_ && underlineFont_ == nullptr) {
        LOGFONTA font{};
        GetObjectA(originalFont_ != nullptr ? static_cast<HGDIOBJ>(originalFont_)
                                            : GetStockObject(DEFAULT_GUI_FONT),
                   sizeof font, &font);
        font.lfUnderline = TRUE;
        underlineFont_ = CreateFontIndirectA(&font);
    }
    // Some static controls select their own font after asking the parent for colours, so the
    // control is given the underlined font itself.
    SendMessageA(control_, WM_SETFONT,
                 reinterpret_cast<WPARAM>(underline_ ? underlineFont_ : originalFont_), FALSE);
}

void HyperLink::SetAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    PositionWindow();
}

void HyperLink::Redraw() {
    if (control_ != nullptr) {
        InvalidateRect(control_, nullptr, TRUE);
    }
}

void HyperLink::PositionWindow() {
    if (control_ == nullptr || !autoSize_) {
        return;
    }
    HWND parent = GetParent(control_);
    RECT rect{};
    GetWindowRect(control_, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);

    const std::string text = WindowText(control_);
    HDC dc = GetDC(control_);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control_, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control_, dc);

    const LONG_PTR style = GetWindowLongPtrA(control_, GWL_STYLE);
    if ((style & SS_CENTERIMAGE) != 0) {
        const LONG spare = (rect.bottom - rect.top - extent.cy) / 2;
        rect.top += spare;
        rect.bottom -= spare;
    } else {
        rect.bottom = rect.top + extent.cy;
    }
    const LONG alignment = static_cast<LONG>(style & SS_TYPEMASK);
    if (alignment == SS_CENTER) {
        const LONG spare = (rect.right - rect.left - extent.cx) / 2;
        rect.left += spare;
        rect.right -= spare;
    } else if (alignment == SS_RIGHT) {
        rect.left = rect.right - extent.cx;
    } else {
        rect.right = rect.left + extent.cx;
    }
    SetWindowPos(control_, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER);
}

HBRUSH HyperLink::OnCtlColor(HDC dc) {
    SetTextColor(dc, visited_ ? kVisitedColour : kLinkColour);
    if (underline_) {
        if (underlineFont_ == nullptr) {
            LOGFONTA font{};
            auto current = reinterpret_cast<HFONT>(SendMessageA(control_, WM_GETFONT, 0, 0));
            GetObjectA(current != nullptr ? current : GetStockObject(DEFAULT_GUI_FONT), sizeof font,
                       &font);
            font.lfUnderline = TRUE;
            underlineFont_ = CreateFontIndirectA(&font);
        }
        SelectObject(dc, underlineFont_);
    }
    SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(HOLLOW_BRUSH));
}

void HyperLink::OnClicked() {
    const INT_PTR result = launcher_.GotoURL(url_, SW_SHOWNORMAL);
    if (result > 32) {
        SetVisited(true);
        return;
    }
    MessageBeep(MB_ICONEXCLAMATION);
    notifier_.ShowWarning(control_,
                          "Unable to open hyperlink:\n\n" + LinkLauncher::ErrorText(result));
}

LRESULT CALLBACK HyperLink::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
    if (message == WM_SETCURSOR) {
        SetCursor(reinterpret_cast<HyperLink*>(self)->cursor_);
        return TRUE;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace vantel
