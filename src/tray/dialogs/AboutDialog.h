// The About box: icon, version line and the two links.
#pragma once

#include <functional>

#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/HyperLink.h"
#include "tray/dialogs/LinkLauncher.h"

namespace vantel {

class AboutDialog : public Dialog {
  public:
    static constexpr int kHomepageLink = 1030;
    static constexpr int kMailLink = 1031;
    /// "Vantel v. " and the version, the one the version resource carries.
    static constexpr int kVersionText = 1032;

    /// `launcher` opens the links (the shell, in the program).
    AboutDialog(const DialogContext& context, LinkLauncher& launcher);

    HyperLink& mailLink() { return mailLink_; }
    HyperLink& homepageLink() { return homepageLink_; }

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    std::function<RECT()> workArea_;
    HyperLink mailLink_;
    HyperLink homepageLink_;
};

}  // namespace vantel
