// The tabbed Options dialog. It holds no settings of its own: the caller fills the pages'
// fields before the run and reads them back after OK.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/OptionsPage.h"
#include "tray/dialogs/OptionsPageHost.h"

namespace vantel {

class OptionsDialog : public Dialog, public OptionsPageHost {
  public:
    static constexpr int kTabControl = 1000;
    static constexpr int kSchemesButton = 3;

    explicit OptionsDialog(const DialogContext& context);
    ~OptionsDialog() override;

    /// Adds the next page, in tab order (Servers, Kludges, Special, General Settings); the
    /// dialog owns it. Returns it for the caller to fill.
    template <typename Page>
    Page& AddPage(std::unique_ptr<Page> page) {
        Page& added = *page;
        pages_.push_back(std::move(page));
        return added;
    }
    /// What "&Schemes..." does (runs the Schemes dialog over `owner`).
    std::function<void(HWND owner)> onSchemes;

    /// Enter and Escape inside a page close nothing.
    void OptionsPageHook(int code) override { (void)code; }

    /// The tab shown, or -1.
    int CurrentTab() const;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;
    void OnOK() override;
    LRESULT OnNotify(NMHDR& header, bool& handled) override;

  private:
    void ShowPage(int index, bool show);
    static LRESULT CALLBACK PageKeySubclass(HWND control, UINT message, WPARAM wParam,
                                            LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    static BOOL CALLBACK HookPageControl(HWND control, LPARAM self);

    DialogContext context_;
    std::vector<std::unique_ptr<OptionsPage>> pages_;
};

}  // namespace vantel
