#include "tray/dialogs/ServerSettingsDialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/config/ServerPreset.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/FakeSignInService.h"
#include "tray/dialogs/LocalPasswordDialog.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/OAuthAdvancedDialog.h"

namespace vantel {
namespace {

using Editor = ServerSettingsDialog;

class ServerSettingsDialogTest : public ::testing::Test {
  protected:
    ServerSettingsDialogTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
        context_.runModal = [this](Dialog& dialog, HWND owner) { return editors_(dialog, owner); };
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
    test::FakeSignInService service_;
    test::ScriptedEditors editors_;  // the Advanced and local password dialogs
    DialogContext context_;
};

using PortTexts = std::pair<std::string, std::string>;

TEST_F(ServerSettingsDialogTest, TypeChangeMovesOnlyPortsThatHoldTheOldDefault) {
    Editor editor(context_);
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        EXPECT_TRUE(IsItemChecked(window, Editor::kSmtpRadio));
        EXPECT_EQ(Ports(window), PortTexts("25", "25"));
        EXPECT_FALSE(Enabled(window, Editor::kUserNameEdit));
        EXPECT_TRUE(Enabled(window, Editor::kImap4Radio));

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

constexpr int kPassword = 0;
constexpr int kMicrosoft = 1;
constexpr int kGoogle = 2;
constexpr int kOther = 3;
constexpr int kOAuth2 = 1;

OAuthSignIn SignIn(const char* provider, const char* account) {
    OAuthSignIn oauth;
    oauth.Provider = provider;
    oauth.Account = account;
    return oauth;
}

/// Whether each control that follows the type and the method is enabled, as '0' and '1':
/// the login, account, client ID, secret, Advanced, the two sign-in buttons and Stop.
std::string EnabledMask(HWND window) {
    std::string mask;
    for (int id :
         {Editor::kUserNameEdit, Editor::kPasswordEdit, Editor::kAccountEdit, Editor::kClientIdEdit,
          Editor::kClientSecretEdit, Editor::kAdvancedButton, Editor::kSignInButton,
          Editor::kSignInWithCodeButton, Editor::kStopSignInButton}) {
        mask += IsWindowEnabled(GetDlgItem(window, id)) != FALSE ? '1' : '0';
    }
    return mask;
}

TEST_F(ServerSettingsDialogTest, SignInMethodEnablesOnlyTheControlsThatApply) {
    const struct {
        int radio, method;
        const char* mask;
    } cases[] = {
        {Editor::kPop3Radio, kPassword, "110000000"},  {Editor::kSmtpRadio, kPassword, "000000000"},
        {Editor::kPop3Radio, kMicrosoft, "001101110"}, {Editor::kImap4Radio, kGoogle, "001111100"},
        {Editor::kSmtpRadio, kOther, "001101100"},     {Editor::kPop3Radio, kPassword, "110000000"},
    };
    SignInService* const services[] = {&service_, nullptr};
    for (SignInService* service : services) {
        context_.signIn = service;
        Editor editor(context_);
        test::RunModalWith(editor, [&](HWND window) {
            for (const auto& c : cases) {
                test::Click(window, c.radio);
                test::Choose(window, Editor::kSignInCombo, c.method);
                // Without a service nothing signs in; the values can still be edited.
                std::string mask = c.mask;
                if (service == nullptr) {
                    mask.replace(6, 2, "00");
                }
                EXPECT_EQ(EnabledMask(window), mask) << c.radio << " " << c.method;
            }
            test::Click(window, IDCANCEL);
        });
    }
}

TEST_F(ServerSettingsDialogTest, PresetFillsTheServerOfTheChosenTypeAndKeepsTheUsersPort) {
    const struct {
        int radio;
        const char* preset;
        const char* host;  // empty: the provider has none of the type
        const char* remotePort;
        int security, method;
        const char* smtpHost;  // once SMTP is chosen after
    } cases[] = {
        {Editor::kSmtpRadio, "microsoft", "smtp.office365.com", "587", kStartTls, kMicrosoft,
         "smtp.office365.com"},
        {Editor::kImap4Radio, "google", "imap.gmail.com", "993", kSslTls, kGoogle,
         "smtp.gmail.com"},
        {Editor::kPop3Radio, "fastmail", "pop.fastmail.com", "995", kSslTls, kPassword,
         "smtp.fastmail.com"},
        {Editor::kPop3Radio, "icloud", "", "110", kNone, kPassword, ""},
    };
    const std::vector<std::string> names = ServerPreset::Names();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preset);
        notifier_.messages.clear();
        Editor editor(context_);
        test::RunModalWith(editor, [&](HWND window) {
            test::Click(window, c.radio);
            SetItemText(window, Editor::kLocalPortEdit, "2500");
            SetItemText(window, Editor::kAccountEdit, "ann@example.org");
            const auto at = std::find(names.begin(), names.end(), c.preset) - names.begin();
            test::Choose(window, Editor::kPresetCombo, static_cast<int>(at) + 1);
            EXPECT_EQ(Text(window, Editor::kServerNameEdit), c.host);
            EXPECT_EQ(Ports(window), PortTexts("2500", c.remotePort));
            EXPECT_EQ(test::Chosen(window, Editor::kSecurityCombo), c.security);
            EXPECT_EQ(test::Chosen(window, Editor::kSignInCombo), c.method);
            EXPECT_EQ(Text(window, Editor::kAccountEdit), "ann@example.org");
            EXPECT_EQ(notifier_.messages.size(), *c.host == '\0' ? 1u : 0u);
            // A preset still chosen follows the type.
            test::Click(window, Editor::kSmtpRadio);
            EXPECT_EQ(Text(window, Editor::kServerNameEdit), c.smtpHost);
            test::Click(window, IDCANCEL);
        });
    }
    EXPECT_EQ(notifier_.messages, std::vector<std::string>{"iCloud has no POP3 server."});

    // The provider's own preset keeps the client, whatever the letter case it was stored in;
    // another provider's drops it.
    for (const char* preset : {"google", "microsoft"}) {
        Editor editor(context_);
        editor.signIn = kOAuth2;
        editor.oauth = SignIn("Google", "ann@example.org");
        editor.oauth.ClientId = "id-9";
        test::RunModalWith(editor, [&](HWND window) {
            test::Choose(window, Editor::kPresetCombo, preset[0] == 'g' ? 2 : 1);
            EXPECT_EQ(Text(window, Editor::kClientIdEdit), preset[0] == 'g' ? "id-9" : "");
            test::Click(window, IDCANCEL);
        });
    }
}

TEST_F(ServerSettingsDialogTest, Imap4IsChosenLikeTheOtherTypes) {
    Editor editor(context_);
    const INT_PTR result = test::RunModalWith(editor, [&](HWND window) {
        test::Click(window, Editor::kImap4Radio);
        EXPECT_EQ(Ports(window), PortTexts("143", "143"));
        test::Choose(window, Editor::kSecurityCombo, kSslTls);
        test::Click(window, Editor::kPop3Radio);
        test::Click(window, Editor::kImap4Radio);
        EXPECT_EQ(Ports(window), PortTexts("143", "993"));
        test::Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(editor.serverType, ServerType::Imap4);
    EXPECT_EQ(editor.remotePort, 993);
}

TEST_F(ServerSettingsDialogTest, StatusLineShowsTheServiceThenTheSignInsLinesAndOutcome) {
    context_.signIn = &service_;
    service_.status = "Sign-in needed: the refresh token expired";
    Editor editor(context_);
    editor.signIn = kOAuth2;
    editor.oauth = SignIn("microsoft", "ann@example.org");
    editor.oauth.ClientId = "id";
    editor.oauth.ClientSecret = "s3cret";
    test::RunModalWith(editor, [&](HWND window) {
        EXPECT_EQ(Text(window, Editor::kStatusText), service_.status);
        EXPECT_EQ(service_.asked.back(), editor.oauth);
        service_.startError = "the entry has no OAuth client ID";
        test::Click(window, Editor::kSignInButton);
        EXPECT_EQ(Text(window, Editor::kStatusText), service_.startError);

        service_.startError.clear();
        test::Click(window, Editor::kSignInWithCodeButton);
        EXPECT_EQ(service_.ways.back(), SignInService::Way::Device);
        EXPECT_EQ(EnabledMask(window), "000000001");  // what it signs in with stays put
        // A provider's line ends no line of ours.
        service_.progress("Enter the code AB-CD\r\nX\x1b");
        SetItemText(window, Editor::kClientIdEdit, "typed meanwhile");
        EXPECT_EQ(Text(window, Editor::kStatusText), "Enter the code AB-CD  X\\x1b");

        service_.done({false, "the provider refused: invalid_grant", ""});
        EXPECT_EQ(Text(window, Editor::kStatusText), "the provider refused: invalid_grant");
        EXPECT_EQ(
            notifier_.messages,
            std::vector<std::string>{"The sign-in failed: the provider refused: invalid_grant"});
        EXPECT_EQ(EnabledMask(window), "001101110");
        test::Click(window, IDCANCEL);
    });
    EXPECT_EQ(editors_.ran, 0);  // no local password after a failure
}

std::string ClipboardText() {
    std::string text;
    if (OpenClipboard(nullptr) != FALSE) {
        if (HANDLE data = GetClipboardData(CF_TEXT); data != nullptr) {
            text = static_cast<const char*>(GlobalLock(data));
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

TEST_F(ServerSettingsDialogTest, SignedInShowsTheLocalPasswordOnceAndCopyPutsItOnTheClipboard) {
    context_.signIn = &service_;
    editors_.acts = {[](HWND shown) {
        EXPECT_EQ(GetItemText(shown, LocalPasswordDialog::kPasswordEdit), "kq7-Zp2-9xW");
        EXPECT_NE(GetItemText(shown, LocalPasswordDialog::kExplanationText).find("ann@example.org"),
                  std::string::npos);
        test::Click(shown, LocalPasswordDialog::kCopyButton);
        EXPECT_EQ(ClipboardText(), "kq7-Zp2-9xW");
        test::Click(shown, IDOK);
    }};
    Editor editor(context_);
    test::RunModalWith(editor, [&](HWND window) {
        test::Choose(window, Editor::kSignInCombo, kGoogle);
        SetItemText(window, Editor::kAccountEdit, "ann@example.org");
        SetItemText(window, Editor::kClientSecretEdit, "s3cret");
        test::Click(window, Editor::kSignInButton);
        ASSERT_EQ(service_.ways, std::vector<SignInService::Way>{SignInService::Way::Browser});
        EXPECT_EQ(service_.started[0].Provider, "google");
        EXPECT_EQ(service_.started[0].ClientSecret, "s3cret");

        service_.status = "Signed in as ann@example.org; renewed automatically";
        service_.done({true, "", "kq7-Zp2-9xW"});
        EXPECT_EQ(Text(window, Editor::kStatusText), service_.status);
        test::Click(window, IDCANCEL);
    });
    EXPECT_EQ(editors_.ran, 1);
    EXPECT_TRUE(notifier_.messages.empty());
    EXPECT_EQ(service_.cancels, 0);  // nothing ran any more to cancel
}

TEST_F(ServerSettingsDialogTest, StoppingOrClosingCancelsTheSignInAndALateOutcomeDoesNothing) {
    for (int button : {Editor::kStopSignInButton, IDCANCEL, IDOK}) {
        SCOPED_TRACE(button);
        test::FakeSignInService service;
        context_.signIn = &service;
        auto editor = std::make_unique<Editor>(context_);
        editor->signIn = kOAuth2;
        editor->oauth = SignIn("other", "ann@example.org");
        const INT_PTR result = test::RunModalWith(*editor, [&](HWND window) {
            test::Click(window, Editor::kSignInButton);
            test::Click(window, button);
            if (button == Editor::kStopSignInButton) {
                service.done({true, "", "late"});
                service.progress("late");
                EXPECT_EQ(Text(window, Editor::kStatusText), "Not signed in");
                EXPECT_EQ(EnabledMask(window), "001101100");
                test::Click(window, IDCANCEL);
            }
        });
        EXPECT_EQ(result, button == IDOK ? IDOK : IDCANCEL);
        EXPECT_EQ(service.cancels, 1);
        // Outcomes that come anyway, while the dialog object lives and once it has gone.
        service.done({true, "", "late"});
        editor.reset();
        service.done({false, "late", ""});
        EXPECT_EQ(service.cancels, 1);
    }
    EXPECT_EQ(editors_.ran, 0);
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(ServerSettingsDialogTest, UnknownSignInOrProviderStaysUnlessOneIsChosen) {
    const struct {
        int signIn;
        const char* provider;
        int shown;
    } stored[] = {
        {7, "microsoft", -1}, {kUnreadableSignInMethod, "", -1}, {kOAuth2, "yahoo", -1},
        {kOAuth2, "", -1},    {kOAuth2, "Google", kGoogle},      {kPassword, "other", kPassword},
    };
    for (const auto& entry : stored) {
        SCOPED_TRACE(entry.provider);
        Editor editor(context_);
        editor.signIn = entry.signIn;
        editor.oauth = SignIn(entry.provider, "ann@example.org");
        test::RunModalWith(editor, [&](HWND window) {
            EXPECT_EQ(test::Chosen(window, Editor::kSignInCombo), entry.shown);
            test::Click(window, IDOK);
        });
        EXPECT_EQ(editor.signIn, entry.signIn);
        EXPECT_EQ(editor.oauth.Provider, entry.provider);  // "Google" as stored
    }
    Editor editor(context_);
    editor.signIn = 7;
    editor.oauth = SignIn("yahoo", "ann@example.org");
    test::RunModalWith(editor, [&](HWND window) {
        test::Choose(window, Editor::kSignInCombo, kMicrosoft);
        test::Click(window, IDOK);
    });
    EXPECT_EQ(editor.signIn, kOAuth2);
    EXPECT_EQ(editor.oauth.Provider, "microsoft");
}

TEST_F(ServerSettingsDialogTest, OkRefusesAnOAuthEntryWithoutAccountOrWithALineBreak) {
    const struct {
        const char* account;
        const char* clientId;
        std::string scopes;  // as the Advanced dialog left it
        const char* text;
        int blamed;
    } bad[] = {
        {" \t", "", "", Editor::kNoAccountText, Editor::kAccountEdit},
        {"ann@example.org\r\nRCPT TO:<x>", "", "", Editor::kOAuthLineBreakText,
         Editor::kAccountEdit},
        {"ann@example.org", "id\n", "", Editor::kOAuthLineBreakText, Editor::kClientIdEdit},
        {"ann@example.org", "id", std::string("mail\0read", 9), Editor::kOAuthLineBreakText,
         Editor::kAdvancedButton},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.account);
        notifier_.messages.clear();
        Editor editor(context_);
        editor.signIn = kOAuth2;
        editor.oauth.Provider = "other";
        editor.oauth.Scopes = c.scopes;
        test::RunModalWith(editor, [&](HWND window) {
            SetItemText(window, Editor::kAccountEdit, c.account);
            SetItemText(window, Editor::kClientIdEdit, c.clientId);
            test::Click(window, IDOK);
            ASSERT_TRUE(IsWindow(window));
            EXPECT_EQ(notifier_.messages, std::vector<std::string>{c.text});
            EXPECT_EQ(GetFocus(), GetDlgItem(window, c.blamed));
            test::Click(window, IDCANCEL);
        });
    }
}

TEST_F(ServerSettingsDialogTest, AdvancedDialogEditsTheValuesThatApplyToTheProvider) {
    using Advanced = OAuthAdvancedDialog;
    editors_.acts = {
        [](HWND advanced) {  // Microsoft: the tenant only; unknown "PLAIN" chooses nothing
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(advanced, Advanced::kTokenUrlEdit)));
            EXPECT_EQ(test::Chosen(advanced, Advanced::kMechanismCombo), -1);
            SetItemText(advanced, Advanced::kTenantEdit, "organizations");
            test::Click(advanced, IDOK);
        },
        [](HWND advanced) {
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(advanced, Advanced::kTenantEdit)));
            SetItemText(advanced, Advanced::kTokenUrlEdit, "https://id.example.org/token");
            SetItemText(advanced, Advanced::kDeviceUrlEdit, "https://id.example.org/device");
            test::Click(advanced, IDOK);
        },
        [](HWND advanced) {
            SetItemText(advanced, Advanced::kScopesEdit, "thrown away");
            test::Choose(advanced, Advanced::kMechanismCombo, 2);
            test::Click(advanced, IDCANCEL);
        },
    };
    context_.signIn = &service_;
    Editor editor(context_);
    editor.signIn = kOAuth2;
    editor.oauth = SignIn("microsoft", "ann@example.org");
    editor.oauth.Mechanism = "PLAIN";
    test::RunModalWith(editor, [&](HWND window) {
        test::Click(window, Editor::kAdvancedButton);
        test::Choose(window, Editor::kSignInCombo, kOther);
        EXPECT_FALSE(Enabled(window, Editor::kSignInWithCodeButton));
        test::Click(window, Editor::kAdvancedButton);
        EXPECT_TRUE(Enabled(window, Editor::kSignInWithCodeButton));  // a device URL now
        test::Click(window, Editor::kAdvancedButton);
        test::Click(window, IDOK);
    });
    EXPECT_EQ(editors_.ran, 3);
    OAuthSignIn expected = SignIn("other", "ann@example.org");
    expected.Tenant = "organizations";
    expected.TokenUrl = "https://id.example.org/token";
    expected.DeviceUrl = "https://id.example.org/device";
    expected.Mechanism = "PLAIN";
    EXPECT_EQ(editor.oauth, expected);
}

}  // namespace
}  // namespace vantel
