#include "tray/dialogs/ServerSettingsDialog.h"

#include <gtest/gtest.h>

#include <string>

#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/ModalDriver.h"

namespace vantel {
namespace {

using Editor = ServerSettingsDialog;

class ServerSettingsDialogTest : public ::testing::Test {
  protected:
    ServerSettingsDialogTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
    }
    static std::string Text(HWND window, int id) { return GetItemText(window, id); }
    static bool Enabled(HWND window, int id) {
        return IsWindowEnabled(GetDlgItem(window, id)) != FALSE;
    }
    /// Local and remote port as the edits show them.
    static std::pair<std::string, std::string> Ports(HWND window) {
        return {Text(window, Editor::kLocalPortEdit), Text(window, Editor::kRemotePortEdit)};
    }

    test::FakeDialogNotifier notifier_;
    DialogContext context_;
};

using PortTexts = std::pair<std::string, std::string>;

TEST_F(ServerSettingsDialogTest, TypeChangeMovesOnlyPortsThatHoldTheOldDefault) {
    Editor editor(context_);
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        EXPECT_TRUE(IsItemChecked(window, Editor::kSmtpRadio));
        EXPECT_EQ(Ports(window), PortTexts("25", "25"));
        EXPECT_FALSE(Enabled(window, Editor::kUserNameEdit));
        EXPECT_FALSE(Enabled(window, Editor::kImap4Radio));

        test::Click(window, Editor::kPop3Radio);
        EXPECT_EQ(Ports(window), PortTexts("110", "110"));
        EXPECT_TRUE(Enabled(window, Editor::kUserNameEdit));
        EXPECT_TRUE(Enabled(window, Editor::kPasswordEdit));
        SetItemText(window, Editor::kUserNameEdit, "joe");

        test::Click(window, Editor::kSmtpRadio);
        EXPECT_EQ(Ports(window), PortTexts("25", "25"));
        EXPECT_FALSE(Enabled(window, Editor::kUserNameEdit));
        EXPECT_EQ(Text(window, Editor::kUserNameEdit), "joe");  // disabled, not cleared

        // A port of the user's own stays; so do a half-typed port and the other fields.
        SetItemText(window, Editor::kLocalPortEdit, "1025");
        SetItemText(window, Editor::kRemotePortEdit, "2x");
        SetItemText(window, Editor::kServerNameEdit, "mail.example.org");
        test::Click(window, Editor::kPop3Radio);
        EXPECT_EQ(Ports(window), PortTexts("1025", "2x"));
        EXPECT_EQ(Text(window, Editor::kServerNameEdit), "mail.example.org");
        EXPECT_TRUE(notifier_.messages.empty());

        SetItemText(window, Editor::kRemotePortEdit, " 110 ");
        test::Click(window, Editor::kSmtpRadio);
        EXPECT_EQ(Ports(window), PortTexts("1025", "25"));
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(editor.serverType, ServerType::Smtp);
    EXPECT_EQ(editor.localPort, 1025);
    EXPECT_EQ(editor.remotePort, 25);
}

TEST_F(ServerSettingsDialogTest, NonIntegerPortKeepsTheDialogOpen) {
    Editor editor(context_);
    editor.serverType = ServerType::Pop3;
    editor.localPort = 1110;
    editor.remotePort = 995;
    editor.serverName = "pop.example.org";
    editor.userName = "joe";
    editor.password = "secret";
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        EXPECT_TRUE(IsItemChecked(window, Editor::kPop3Radio));
        EXPECT_EQ(Ports(window), PortTexts("1110", "995"));
        EXPECT_EQ(Text(window, Editor::kPasswordEdit), "secret");
        EXPECT_TRUE(Enabled(window, Editor::kPasswordEdit));

        SetItemText(window, Editor::kRemotePortEdit, "pop3");
        test::Click(window, IDOK);
        ASSERT_TRUE(IsWindow(window));
        EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Please enter an integer."});
        EXPECT_EQ(GetFocus(), GetDlgItem(window, Editor::kRemotePortEdit));

        SetItemText(window, Editor::kRemotePortEdit, "110");
        SetItemText(window, Editor::kUserNameEdit, "ann");
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(editor.serverType, ServerType::Pop3);
    EXPECT_EQ(editor.localPort, 1110);
    EXPECT_EQ(editor.remotePort, 110);
    EXPECT_EQ(editor.serverName, "pop.example.org");
    EXPECT_EQ(editor.userName, "ann");
    EXPECT_EQ(editor.password, "secret");
}

TEST_F(ServerSettingsDialogTest, LoginTooLongToStoreIsRefusedNotDropped) {
    Editor editor(context_);
    editor.serverType = ServerType::Pop3;
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        SetItemText(window, Editor::kUserNameEdit, std::string(200, 'u'));
        SetItemText(window, Editor::kPasswordEdit, std::string(54, 'p'));
        test::Click(window, IDOK);
        ASSERT_TRUE(IsWindow(window));
        ASSERT_EQ(notifier_.messages.size(), 1u);
        EXPECT_EQ(notifier_.messages[0],
                  "The user name and password together can have at most 253 characters.");
        EXPECT_EQ(notifier_.askers, std::vector<HWND>{window});

        SetItemText(window, Editor::kPasswordEdit, std::string(53, 'p'));
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(editor.userName.size() + editor.password.size(), 253u);
}

TEST_F(ServerSettingsDialogTest, LoginWithALineBreakIsRefusedNotStored) {
    Editor editor(context_);
    editor.serverType = ServerType::Pop3;
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        // Sent as "USER ..." and "PASS ...", the text after a CR or LF would reach the server
        // as commands of their own.
        const struct {
            const char* user;
            const char* password;
            int blamed;
        } logins[] = {{"alice\r\nDELE 1", "pw", Editor::kUserNameEdit},
                      {"alice\n", "pw", Editor::kUserNameEdit},
                      {"alice", "pw\rRSET", Editor::kPasswordEdit}};
        for (const auto& login : logins) {
            SCOPED_TRACE(login.user);
            notifier_.messages.clear();
            SetItemText(window, Editor::kUserNameEdit, login.user);
            SetItemText(window, Editor::kPasswordEdit, login.password);
            ASSERT_EQ(Text(window, Editor::kUserNameEdit), login.user) << "the edit kept it";
            test::Click(window, IDOK);
            ASSERT_TRUE(IsWindow(window));
            EXPECT_EQ(notifier_.messages, std::vector<std::string>{Editor::kLoginLineBreakText});
            EXPECT_EQ(GetFocus(), GetDlgItem(window, login.blamed));
        }
        SetItemText(window, Editor::kUserNameEdit, "alice");
        SetItemText(window, Editor::kPasswordEdit, "pw");
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(editor.userName, "alice");
    EXPECT_EQ(editor.password, "pw");
}

constexpr int kNone = 0;
constexpr int kSslTls = 1;
constexpr int kStartTls = 2;

TEST_F(ServerSettingsDialogTest, SecurityChoiceMovesOnlyARemotePortHoldingTheOldDefault) {
    Editor editor(context_);
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        EXPECT_EQ(test::Chosen(window, Editor::kSecurityCombo), kNone);
        EXPECT_EQ(Text(window, Editor::kFingerprintEdit), "");

        // The client still talks plain text to the relay: the local port stays.
        test::Choose(window, Editor::kSecurityCombo, kSslTls);
        EXPECT_EQ(Ports(window), PortTexts("25", "465"));
        test::Choose(window, Editor::kSecurityCombo, kStartTls);
        EXPECT_EQ(Ports(window), PortTexts("25", "587"));

        // The type switch moves the remote port by the chosen mode's defaults.
        test::Click(window, Editor::kPop3Radio);
        EXPECT_EQ(Ports(window), PortTexts("110", "110"));
        test::Choose(window, Editor::kSecurityCombo, kSslTls);
        EXPECT_EQ(Ports(window), PortTexts("110", "995"));
        test::Click(window, Editor::kSmtpRadio);
        EXPECT_EQ(Ports(window), PortTexts("25", "465"));

        // A port of the user's own stays through mode and type switches.
        SetItemText(window, Editor::kRemotePortEdit, "2465");
        test::Choose(window, Editor::kSecurityCombo, kNone);
        test::Click(window, Editor::kPop3Radio);
        test::Choose(window, Editor::kSecurityCombo, kStartTls);
        EXPECT_EQ(Ports(window), PortTexts("110", "2465"));

        SetItemText(window, Editor::kRemotePortEdit, "110");
        test::Choose(window, Editor::kSecurityCombo, kSslTls);
        EXPECT_EQ(Ports(window), PortTexts("110", "995"));
        EXPECT_TRUE(notifier_.messages.empty());
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(editor.serverType, ServerType::Pop3);
    EXPECT_EQ(editor.security, kSslTls);
    EXPECT_EQ(editor.remotePort, 995);
    EXPECT_EQ(editor.fingerprint, "");
}

TEST_F(ServerSettingsDialogTest, FingerprintIsEmptyOrSha256AndComesBackNormalized) {
    const std::string pasted =
        "00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff 00 11 22 33 44 55 66 77 88 99 aa bb cc dd "
        "ee ff";
    Editor editor(context_);
    editor.security = kSslTls;
    editor.remotePort = 465;
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        EXPECT_EQ(test::Chosen(window, Editor::kSecurityCombo), kSslTls);
        for (const std::string& bad : {std::string("AB:CD"), pasted + " 00", std::string("zz")}) {
            notifier_.messages.clear();
            SetItemText(window, Editor::kFingerprintEdit, bad);
            test::Click(window, IDOK);
            ASSERT_TRUE(IsWindow(window)) << bad;
            EXPECT_EQ(notifier_.messages, std::vector<std::string>{Editor::kBadFingerprintText});
            EXPECT_EQ(notifier_.askers.back(), window);
            EXPECT_EQ(GetFocus(), GetDlgItem(window, Editor::kFingerprintEdit)) << bad;
            EXPECT_EQ(Text(window, Editor::kFingerprintEdit), bad) << "the text stays to be fixed";
        }
        SetItemText(window, Editor::kFingerprintEdit, pasted);
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(editor.fingerprint,
              "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:"
              "CC:DD:EE:FF");
    EXPECT_EQ(editor.security, kSslTls);

    // Emptied (blanks count as empty), the pin is gone.
    const INT_PTR again = test::RunModalWith(editor, [&](HWND window) {
        EXPECT_EQ(Text(window, Editor::kFingerprintEdit), editor.fingerprint);
        SetItemText(window, Editor::kFingerprintEdit, "  ");
        test::Click(window, IDOK);
    });
    EXPECT_EQ(again, IDOK);
    EXPECT_EQ(editor.fingerprint, "");
}

TEST_F(ServerSettingsDialogTest, UnknownModeStaysUnlessOneIsChosen) {
    Editor editor(context_);
    editor.security = 7;
    editor.remotePort = 25;
    const INT_PTR kept = test::RunModalWith(editor, [&](HWND window) {
        EXPECT_EQ(test::Chosen(window, Editor::kSecurityCombo), -1);
        // Its default is unknown, so the type switch moves the local port only.
        test::Click(window, Editor::kPop3Radio);
        EXPECT_EQ(Ports(window), PortTexts("110", "25"));
        test::Click(window, IDOK);
    });
    EXPECT_EQ(kept, IDOK);
    EXPECT_EQ(editor.security, 7);

    const INT_PTR chosen = test::RunModalWith(editor, [&](HWND window) {
        test::Choose(window, Editor::kSecurityCombo, kNone);
        EXPECT_EQ(Ports(window), PortTexts("110", "25"));
        test::Click(window, IDOK);
    });
    EXPECT_EQ(chosen, IDOK);
    EXPECT_EQ(editor.security, kNone);
}

}  // namespace
}  // namespace vantel
