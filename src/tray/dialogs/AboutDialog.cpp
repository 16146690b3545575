#include "tray/dialogs/AboutDialog.h"

#include <initializer_list>
#include <string>
#include <utility>

#include "tray/ResourceStrings.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {

AboutDialog::AboutDialog(const DialogContext& context, LinkLauncher& launcher)
    : Dialog(context.instance, IDD_ABOUTBOX),
      workArea_(context.workArea),
      mailLink_(launcher, *context.notifier),
      homepageLink_(launcher, *context.notifier) {}

bool AboutDialog::OnInitDialog() {
    // Its owner, the hidden main window, may be anywhere.
    CentreInArea(window(), workArea_());
    // The project version, as in the version resource and every program's --version.
    const std::string version = std::string("Vantel v. ") + VANTEL_VERSION;
    SetDlgItemTextA(window(), kVersionText, version.c_str());
    mailLink_.Attach(Item(kMailLink));
    homepageLink_.Attach(Item(kHomepageLink));
    HCURSOR hand = LoadCursorA(instance(), MAKEINTRESOURCEA(IDC_LINK_HAND));
    for (auto [link, url] :
         {std::pair{&mailLink_, IDS_SUPPORT_MAIL}, std::pair{&homepageLink_, IDS_HOMEPAGE}}) {
        link->SetURL(LoadResourceString(url));
        link->SetUnderline(true);
        link->SetLinkCursor(hand);
        link->SetAutoSize(true);
    }
    return true;
}

bool AboutDialog::OnCommand(UINT id, UINT code, HWND control) {
    (void)control;
    if (code != STN_CLICKED) {
        return false;
    }
    if (id == kMailLink) {
        mailLink_.OnClicked();
        return true;
    }
    if (id == kHomepageLink) {
        homepageLink_.OnClicked();
        return true;
    }
    return false;
}

bool AboutDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message != WM_CTLCOLORSTATIC) {
        return false;
    }
    for (HyperLink* link : {&mailLink_, &homepageLink_}) {
        if (reinterpret_cast<HWND>(lParam) == link->control()) {
            result = reinterpret_cast<LRESULT>(link->OnCtlColor(reinterpret_cast<HDC>(wParam)));
            return true;
        }
    }
    return false;
}

}  // namespace vantel
