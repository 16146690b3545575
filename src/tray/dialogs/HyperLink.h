// A static text control that looks and acts like a link in a web page: coloured and
// underlined, its target in a tooltip, opened by the shell when clicked.
#pragma once

#include <windows.h>

#include <string>

#include "tray/dialogs/DialogNotifier.h"
#include "tray/dialogs/LinkLauncher.h"

namespace vantel {

class HyperLink {
  public:
    static constexpr COLORREF kLinkColour = RGB(0, 0, 238);
    static constexpr COLORREF kVisitedColour = RGB(85, 26, 139);

    HyperLink(LinkLauncher& launcher, DialogNotifier& notifier)
        : launcher_(launcher), notifier_(notifier) {}
    ~HyperLink();
    HyperLink(const HyperLink&) = delete;
    HyperLink& operator=(const HyperLink&) = delete;

    /// Takes over the static control: it reports clicks, shows the URL (or its own text
    /// becomes the URL), fits its text and gets the tooltip.
    void Attach(HWND control);

    void SetURL(const std::string& url);
    void SetVisited(bool visited);
    void SetUnderline(bool underline);
    void SetAutoSize(bool autoSize);
    void SetLinkCursor(HCURSOR cursor) { cursor_ = cursor; }

    const std::string& url() const { return url_; }
    bool visited() const { return visited_; }
    HWND control() const { return control_; }

    /// The parent's WM_CTLCOLORSTATIC for this control: colours and font; the brush to answer.
    HBRUSH OnCtlColor(HDC dc);
    /// The parent's STN_CLICKED for this control.
    void OnClicked();

  private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    void PositionWindow();
    /// Gives the control the underlined font, or its own back.
    void ApplyFont();
    void Redraw();

    LinkLauncher& launcher_;
    DialogNotifier& notifier_;
    HWND control_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT originalFont_ = nullptr;
    HFONT underlineFont_ = nullptr;
    HCURSOR cursor_ = LoadCursor(nullptr, IDC_ARROW);
    std::string url_;
    bool visited_ = false;
    bool underline_ = true;
    bool autoSize_ = true;
};

}  // namespace vantel
