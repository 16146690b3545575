#include "tray/MessageBoxNotifier.h"

#include <gtest/gtest.h>

#include <string>

#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/SpecialKludgeDialog.h"
#include "tray/dialogs/WindowGeometry.h"

namespace vantel {
namespace {

struct Shown {
    HWND owner = nullptr;
    bool ownerEnabled = false;
    LONG_PTR exStyle = 0;
};

/// What `show` put on screen, answered at once.
Shown ShowBox(HWND dialog, const std::function<void()>& show) {
    Shown shown;
    EXPECT_TRUE(test::AnswerBox(show, [&](HWND box) {
        shown.owner = GetWindow(box, GW_OWNER);
        shown.ownerEnabled = IsWindowEnabled(dialog) != FALSE;
        shown.exStyle = GetWindowLongPtrA(box, GWL_EXSTYLE);
        test::Click(box, IDOK);
    }));
    return shown;
}

TEST(MessageBoxNotifier, NoticesHoldTheActiveDialogAndRelayFailuresHoldNothing) {
    DialogContext context;
    context.instance = GetModuleHandleA(nullptr);
    SpecialKludgeDialog dialog(context);  // any dialog of the program
    MessageBoxNotifier boxes;
    HWND window = nullptr;
    Shown notice, failure, overHidden;
    test::RunModalWith(dialog, [&](HWND shown) {
        window = shown;
        SetActiveWindow(window);
        // The core's notices (a schema saved) name no window.
        notice =
            ShowBox(window, [&] { boxes.ShowMessage("Schema 'Home' was successfully saved"); });
        failure = ShowBox(window, [&] {
            boxes.ShowError({"Unable to reach the server", "", "", ""});
        });
        // The modal driver's owner window is never shown.
        overHidden = ShowBox(window, [&] { boxes.ShowMessage(GetWindow(window, GW_OWNER), "?"); });
        test::Click(window, IDCANCEL);
    });
    EXPECT_EQ(notice.owner, window);
    EXPECT_FALSE(notice.ownerEnabled);
    EXPECT_EQ(failure.owner, nullptr);
    EXPECT_TRUE(failure.ownerEnabled);
    EXPECT_NE(failure.exStyle & WS_EX_TOPMOST, 0);
    EXPECT_EQ(overHidden.owner, nullptr);
}

TEST(MessageBoxNotifier, AFailureBoxShowsTheControlsAServerSentEscaped) {
    MessageBoxNotifier boxes;
    std::string shown;
    EXPECT_TRUE(test::AnswerBox(
        [&] {
            boxes.ShowError({"Error securing the connection to host", "local port 1110",
                             "127.0.0.1:995",
                             "certificate is for a\r\nVantel: all is well\x1b[2J, not b"});
        },
        [&](HWND box) {
            char text[512] = {};
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the box's text
            shown = text;
            test::Click(box, IDOK);
        }));
    EXPECT_NE(shown.find("Reason: certificate is for a\\r\\nVantel: all is well\\x1b[2J, not b"),
              std::string::npos)
        << shown;
    EXPECT_EQ(shown.find_first_of("\r\x1b"), std::string::npos) << shown;
}

}  // namespace
}  // namespace vantel
