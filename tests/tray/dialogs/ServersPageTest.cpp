#include "tray/dialogs/ServersPage.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "core/config/CredentialCodec.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/ListViewRows.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/ServerSettingsDialog.h"

namespace vantel {
namespace {

using Editor = ServerSettingsDialog;

ServerEntry Entry(ServerType type, int localPort, int remotePort, std::string name) {
    ServerEntry entry;
    entry.Type = StoredServerType(type);
    entry.LocalPort = localPort;
    entry.RemotePort = remotePort;
    entry.Name = std::move(name);
    return entry;
}

std::pair<std::string, std::string> Login(const ServerEntry& entry) {
    std::pair<std::string, std::string> login;
    UnpackCredentials(entry.Credentials, entry.CredentialLength, login.first, login.second);
    return login;
}

class ServersPageTest : public ::testing::Test {
  protected:
    ServersPageTest() {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
        context_.runModal = [this](Dialog& dialog, HWND owner) { return editors_(dialog, owner); };
        parent_ = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                                context_.instance, nullptr);
    }
    ~ServersPageTest() override {
        page_.reset();
        DestroyWindow(parent_);
    }

    /// The page over `servers_`, created as the Options dialog creates it.
    void Open() {
        page_ = std::make_unique<ServersPage>(context_, host_, settings_, settings_);
        ASSERT_NE(page_->CreateModeless(parent_), nullptr);
        list_ = page_->Item(ServersPage::kServerListView);
        ASSERT_NE(list_, nullptr);
    }
    LRESULT Notify(NMHDR& header, UINT code) {
        header.hwndFrom = list_;
        header.idFrom = ServersPage::kServerListView;
        header.code = code;
        return SendMessageA(page_->window(), WM_NOTIFY, header.idFrom,
                            reinterpret_cast<LPARAM>(&header));
    }
    void Mouse(UINT code) {
        NMITEMACTIVATE activate{};
        activate.iItem = -1;
        EXPECT_EQ(Notify(activate.hdr, code), 0);
    }
    void DoubleClick() { Mouse(NM_DBLCLK); }
    void RightClick() { Mouse(NM_RCLICK); }
    void Key(WORD key) {
        NMLVKEYDOWN down{};
        down.wVKey = key;
        EXPECT_EQ(Notify(down.hdr, LVN_KEYDOWN), 0);
    }
    void Focus(int item) {
        LVITEMA state{};
        state.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
        state.state = LVIS_FOCUSED | LVIS_SELECTED;
        SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(&state));
    }
    int Count() const { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }
    /// What the list view shows in a cell (it asks the page for the port columns).
    std::string Cell(int item, int subItem) const {
        char text[64] = {};
        LVITEMA request{};
        request.iSubItem = subItem;
        request.pszText = text;
        request.cchTextMax = sizeof text;
        SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(&request));
        return text;
    }
    int Image(int item) const {
        LVITEMA request{};
        request.mask = LVIF_IMAGE;
        request.iItem = item;
        SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request));
        return request.iImage;
    }
    /// Every row as "name local remote".
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        for (int i = 0; i < Count(); ++i) {
            rows.push_back(Cell(i, 0) + " " + Cell(i, 1) + " " + Cell(i, 2));
        }
        return rows;
    }

    test::FakeDialogNotifier notifier_;
    test::ScriptedEditors editors_;
    test::CountingHost host_;
    DialogContext context_;
    RelaySettings settings_;  // the draft and the live settings at once
    std::vector<ServerEntry>& servers_ = settings_.ServerList;
    HWND parent_ = nullptr;
    std::unique_ptr<ServersPage> page_;
    HWND list_ = nullptr;
};

TEST_F(ServersPageTest, ListsTheEntriesAndAsksForPortsWhenDrawing) {
    servers_ = {Entry(ServerType::Smtp, 25, 587, "smtp.example.org"),
                Entry(ServerType::Pop3, 1110, 110, "pop.example.org")};
    Open();

    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"smtp.example.org 25 587", "pop.example.org 1110 110"}));
    EXPECT_EQ(Image(0), 0);
    EXPECT_EQ(Image(1), 1);
    servers_[1].LocalPort = 1995;  // the live entry, read at every drawing
    EXPECT_EQ(Cell(1, 1), "1995");

    // Cells that are no port, and rows past the list, read "N/A".
    for (auto [item, subItem] : {std::pair{0, 3}, std::pair{5, 1}}) {
        char text[16] = "unset";
        NMLVDISPINFOA info{};
        info.item.mask = LVIF_TEXT;
        info.item.iItem = item;
        info.item.iSubItem = subItem;
        info.item.pszText = text;
        info.item.cchTextMax = sizeof text;
        EXPECT_EQ(Notify(info.hdr, LVN_GETDISPINFOA), 0);
        EXPECT_STREQ(text, "N/A");
    }
}

TEST_F(ServersPageTest, RightClickAddsToTheLiveListAtOnce) {
    editors_.acts = {
        [](HWND editor) { test::Click(editor, IDOK); },
        [](HWND editor) {
            test::Click(editor, Editor::kPop3Radio);
            SetItemText(editor, Editor::kServerNameEdit, "pop.example.org");
            SetItemText(editor, Editor::kUserNameEdit, "joe");
            SetItemText(editor, Editor::kPasswordEdit, "secret");
            test::Click(editor, IDOK);
        },
        // A login typed while POP3 was chosen does not go with an SMTP entry.
        [](HWND editor) {
            test::Click(editor, Editor::kPop3Radio);
            SetItemText(editor, Editor::kUserNameEdit, "joe");
            SetItemText(editor, Editor::kPasswordEdit, "secret");
            test::Click(editor, Editor::kSmtpRadio);
            SetItemText(editor, Editor::kServerNameEdit, "smtp.example.org");
            test::Click(editor, IDOK);
        },
        [](HWND editor) {
            SetItemText(editor, Editor::kServerNameEdit, "cancelled");
            test::Click(editor, IDCANCEL);
        },
    };
    Open();
    ASSERT_EQ(Count(), 0);

    RightClick();
    ASSERT_EQ(servers_.size(), 1u);
    EXPECT_EQ(servers_[0].Name, "");
    EXPECT_EQ(servers_[0].LocalPort, 25);
    EXPECT_EQ(servers_[0].RemotePort, 25);
    EXPECT_TRUE(servers_[0].Is(ServerType::Smtp));
    EXPECT_EQ(servers_[0].CredentialLength, 0);
    EXPECT_EQ(servers_[0].PassDataIndex, -1);
    EXPECT_EQ(Rows(), std::vector<std::string>{" 25 25"});
    EXPECT_EQ(Image(0), 0);

    RightClick();
    ASSERT_EQ(servers_.size(), 2u);
    const ServerEntry& pop = servers_[1];
    EXPECT_TRUE(pop.Is(ServerType::Pop3));
    EXPECT_EQ(pop.LocalPort, 110);
    EXPECT_EQ(pop.RemotePort, 110);
    EXPECT_EQ(pop.CredentialLength, 10);
    EXPECT_EQ(Login(pop), std::make_pair(std::string("joe"), std::string("secret")));
    EXPECT_NE(pop.PassDataIndex, -1);
    EXPECT_EQ(Image(1), 1);

    RightClick();
    ASSERT_EQ(servers_.size(), 3u);
    EXPECT_TRUE(servers_[2].Is(ServerType::Smtp));
    EXPECT_EQ(servers_[2].CredentialLength, 0);
    EXPECT_EQ(servers_[2].PassDataIndex, -1);

    RightClick();
    EXPECT_EQ(editors_.ran, 4);
    EXPECT_EQ(servers_.size(), 3u);
    EXPECT_EQ(Rows(), (std::vector<std::string>{" 25 25", "pop.example.org 110 110",
                                                "smtp.example.org 25 25"}));
}

TEST_F(ServersPageTest, DoubleClickEditsTheFocusedEntryInPlace) {
    servers_ = {Entry(ServerType::Smtp, 25, 25, "a"), Entry(ServerType::Pop3, 1110, 110, "b"),
                Entry(ServerType::Pop3, 1111, 110, "c")};
    servers_[1].CredentialLength = PackCredentials(servers_[1].Credentials, "joe", "secret");
    servers_[1].PassDataIndex = 1234;
    editors_.acts = {
        [](HWND editor) {
            EXPECT_TRUE(IsItemChecked(editor, Editor::kPop3Radio));
            EXPECT_EQ(GetItemText(editor, Editor::kServerNameEdit), "b");
            EXPECT_EQ(GetItemText(editor, Editor::kLocalPortEdit), "1110");
            EXPECT_EQ(GetItemText(editor, Editor::kUserNameEdit), "joe");
            EXPECT_EQ(GetItemText(editor, Editor::kPasswordEdit), "secret");
            SetItemText(editor, Editor::kServerNameEdit, "b2");
            SetItemText(editor, Editor::kRemotePortEdit, "995");
            SetItemText(editor, Editor::kPasswordEdit, "");
            test::Click(editor, IDOK);
        },
        // Without a password nothing of the login was kept.
        [](HWND editor) {
            EXPECT_EQ(GetItemText(editor, Editor::kUserNameEdit), "");
            SetItemText(editor, Editor::kUserNameEdit, "joe");
            SetItemText(editor, Editor::kPasswordEdit, "new");
            test::Click(editor, IDOK);
        },
        [](HWND editor) {
            SetItemText(editor, Editor::kUserNameEdit, "ann");
            SetItemText(editor, Editor::kPasswordEdit, "pw");
            test::Click(editor, IDOK);
        },
        [](HWND editor) {
            SetItemText(editor, Editor::kServerNameEdit, "cancelled");
            test::Click(editor, IDCANCEL);
        },
    };
    Open();

    DoubleClick();  // nothing has the focus yet
    EXPECT_EQ(editors_.ran, 0);

    Focus(1);
    DoubleClick();
    ASSERT_EQ(servers_.size(), 3u);
    EXPECT_EQ(servers_[1].Name, "b2");
    EXPECT_EQ(servers_[1].RemotePort, 995);
    EXPECT_EQ(servers_[1].CredentialLength, 0);
    EXPECT_EQ(servers_[1].PassDataIndex, 1234);  // kept for the login to come
    EXPECT_EQ(Rows(), (std::vector<std::string>{"a 25 25", "b2 1110 995", "c 1111 110"}));
    EXPECT_EQ(Image(1), 1);

    Focus(1);
    DoubleClick();
    EXPECT_EQ(Login(servers_[1]), std::make_pair(std::string("joe"), std::string("new")));
    EXPECT_EQ(servers_[1].PassDataIndex, 1234);

    Focus(2);
    DoubleClick();
    EXPECT_EQ(Login(servers_[2]), std::make_pair(std::string("ann"), std::string("pw")));
    EXPECT_NE(servers_[2].PassDataIndex, -1);
    EXPECT_NE(servers_[2].PassDataIndex, 1234);

    const std::vector<ServerEntry> before = servers_;
    Focus(0);
    DoubleClick();
    EXPECT_EQ(editors_.ran, 4);
    EXPECT_EQ(servers_[0].Name, before[0].Name);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"a 25 25", "b2 1110 995", "c 1111 110"}));
}

TEST_F(ServersPageTest, DeleteKeyAsksOnceAndOnlyOkRemoves) {
    servers_ = {Entry(ServerType::Smtp, 25, 25, "a"), Entry(ServerType::Pop3, 110, 110, "b"),
                Entry(ServerType::Smtp, 26, 25, "c")};
    Open();

    Key(VK_DELETE);  // no focused item
    EXPECT_TRUE(notifier_.questions.empty());

    Focus(1);
    Key('D');
    EXPECT_TRUE(notifier_.questions.empty());

    notifier_.answer = false;
    Key(VK_DELETE);
    EXPECT_EQ(notifier_.questions,
              std::vector<std::string>{"Are you sure you want to delete this item?"});
    EXPECT_EQ(servers_.size(), 3u);
    EXPECT_EQ(Count(), 3);

    notifier_.answer = true;
    Key(VK_DELETE);
    EXPECT_EQ(notifier_.questions.size(), 2u);
    EXPECT_EQ(notifier_.askers, (std::vector<HWND>{page_->window(), page_->window()}));
    ASSERT_EQ(servers_.size(), 2u);
    EXPECT_EQ(servers_[0].Name, "a");
    EXPECT_EQ(servers_[1].Name, "c");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"a 25 25", "c 26 25"}));
    EXPECT_EQ(editors_.ran, 0);
}

TEST_F(ServersPageTest, EntryOfUnknownTypeIsEditedAndSavedAsSmtp) {
    // -1 as an image index would have the list ask the page for the picture.
    for (int stored : {5, -1}) {
        servers_ = {Entry(ServerType::Smtp, 110, 587, "odd")};
        servers_[0].Type = stored;
        editors_ = {};
        editors_.acts = {[stored](HWND editor) {
            EXPECT_TRUE(IsItemChecked(editor, Editor::kSmtpRadio)) << stored;
            EXPECT_FALSE(IsItemChecked(editor, Editor::kPop3Radio)) << stored;
            // Opening as SMTP moves no port: neither holds the SMTP default.
            EXPECT_EQ(GetItemText(editor, Editor::kLocalPortEdit), "110") << stored;
            EXPECT_EQ(GetItemText(editor, Editor::kRemotePortEdit), "587") << stored;
            test::Click(editor, IDOK);
        }};
        Open();
        EXPECT_EQ(Image(0), kNoRowImage) << stored;
        Focus(0);
        DoubleClick();
        EXPECT_EQ(editors_.ran, 1) << stored;
        EXPECT_TRUE(servers_[0].Is(ServerType::Smtp)) << stored;
        EXPECT_EQ(servers_[0].LocalPort, 110) << stored;
        EXPECT_EQ(servers_[0].RemotePort, 587) << stored;
        EXPECT_EQ(Image(0), 0) << stored;
    }
}

TEST_F(ServersPageTest, SecurityIsMarkedInTheListAndEditedWithTheEntry) {
    const std::string print =
        "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:"
        "DD:EE:FF";
    servers_ = {Entry(ServerType::Pop3, 1110, 995, "tls"), Entry(ServerType::Smtp, 25, 587, "st"),
                Entry(ServerType::Smtp, 25, 25, "plain"), Entry(ServerType::Smtp, 25, 25, "odd")};
    servers_[0].Security = StoredSecurityMode(SecurityMode::SslTls);
    servers_[0].Fingerprint = print;
    servers_[1].Security = StoredSecurityMode(SecurityMode::StartTls);
    servers_[3].Security = 12;
    editors_.acts = {
        [&print](HWND editor) {
            EXPECT_EQ(test::Chosen(editor, Editor::kSecurityCombo), 1);
            EXPECT_EQ(GetItemText(editor, Editor::kFingerprintEdit), print);
            test::Choose(editor, Editor::kSecurityCombo, 0);
            SetItemText(editor, Editor::kFingerprintEdit, "");
            test::Click(editor, IDOK);
        },
        [](HWND editor) {
            test::Choose(editor, Editor::kSecurityCombo, 1);
            test::Click(editor, IDOK);
        },
        // Left alone, a mode this program does not know stays.
        [](HWND editor) {
            EXPECT_EQ(test::Chosen(editor, Editor::kSecurityCombo), -1);
            test::Click(editor, IDOK);
        },
        [](HWND editor) {
            test::Choose(editor, Editor::kSecurityCombo, 2);
            test::Click(editor, IDOK);
        },
    };
    Open();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"tls 1110 995 (TLS)", "st 25 587 (STARTTLS)",
                                                "plain 25 25", "odd 25 25 (?)"}));

    Focus(0);
    DoubleClick();
    EXPECT_TRUE(servers_[0].Uses(SecurityMode::None));
    EXPECT_EQ(servers_[0].Fingerprint, "");
    EXPECT_EQ(servers_[0].RemotePort, 110);  // it held the POP3 SSL/TLS default
    Focus(2);
    DoubleClick();
    Focus(3);
    DoubleClick();
    EXPECT_EQ(servers_[3].Security, 12);
    RightClick();
    ASSERT_EQ(servers_.size(), 5u);
    EXPECT_TRUE(servers_[4].Uses(SecurityMode::StartTls));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"tls 1110 110", "st 25 587 (STARTTLS)",
                                                "plain 25 465 (TLS)", "odd 25 25 (?)",
                                                " 25 587 (STARTTLS)"}));
}

TEST_F(ServersPageTest, SignInAndOAuthValuesTravelThroughTheEditor) {
    servers_ = {Entry(ServerType::Imap4, 143, 993, "outlook.office365.com"),
                Entry(ServerType::Pop3, 110, 995, "pop.example.org")};
    OAuthSignIn& oauth = servers_[0].OAuth;
    servers_[0].SignIn = StoredSignInMethod(SignInMethod::OAuth2);
    oauth = {"microsoft",   "organizations", "ann@example.org", "id-1",  "",
             "https://a/x", "https://a/t",   "https://a/d",     "s1 s2", "XOAUTH2"};
    servers_[1].SignIn = 9;  // a newer program's method, with no provider
    servers_[1].CredentialLength = PackCredentials(servers_[1].Credentials, "joe", "secret");
    servers_[1].PassDataIndex = 77;
    const OAuthSignIn stored = oauth;
    editors_.acts = {
        [](HWND editor) {
            EXPECT_TRUE(IsItemChecked(editor, Editor::kImap4Radio));
            EXPECT_EQ(test::Chosen(editor, Editor::kSignInCombo), 1);
            EXPECT_EQ(GetItemText(editor, Editor::kAccountEdit), "ann@example.org");
            EXPECT_EQ(GetItemText(editor, Editor::kClientIdEdit), "id-1");
            SetItemText(editor, Editor::kAccountEdit, "bob@example.org");
            test::Click(editor, IDOK);
        },
        [](HWND editor) { test::Click(editor, IDOK); },
        // A new Google entry; a login typed before the switch is not stored with it.
        [](HWND editor) {
            test::Click(editor, Editor::kPop3Radio);
            SetItemText(editor, Editor::kUserNameEdit, "joe");
            SetItemText(editor, Editor::kPasswordEdit, "secret");
            test::Choose(editor, Editor::kSignInCombo, 2);
            SetItemText(editor, Editor::kAccountEdit, "cy@gmail.com");
            SetItemText(editor, Editor::kClientSecretEdit, "gs");
            test::Click(editor, IDOK);
        },
    };
    Open();
    Focus(0);
    DoubleClick();
    OAuthSignIn expected = stored;
    expected.Account = "bob@example.org";
    EXPECT_EQ(servers_[0].OAuth, expected);
    EXPECT_EQ(servers_[0].SignIn, StoredSignInMethod(SignInMethod::OAuth2));
    EXPECT_TRUE(servers_[0].Is(ServerType::Imap4));

    Focus(1);
    DoubleClick();
    EXPECT_EQ(servers_[1].SignIn, 9);
    EXPECT_EQ(Login(servers_[1]), std::make_pair(std::string("joe"), std::string("secret")));
    EXPECT_EQ(servers_[1].PassDataIndex, 77);

    RightClick();
    ASSERT_EQ(servers_.size(), 3u);
    EXPECT_EQ(servers_[2].SignIn, StoredSignInMethod(SignInMethod::OAuth2));
    EXPECT_EQ(servers_[2].OAuth.Provider, "google");
    EXPECT_EQ(servers_[2].OAuth.Account, "cy@gmail.com");
    EXPECT_EQ(servers_[2].OAuth.ClientSecret, "gs");
    EXPECT_EQ(servers_[2].CredentialLength, 0);
    EXPECT_EQ(servers_[2].PassDataIndex, -1);
    EXPECT_EQ(editors_.ran, 3);
}

TEST(ServersPagePassData, NewIndexIsTheTickUnlessTakenOrNone) {
    std::vector<ServerEntry> servers(3);
    servers[0].PassDataIndex = 5000;
    servers[1].PassDataIndex = 5001;
    EXPECT_EQ(ChoosePassDataIndex(servers, 4000), 4000);
    EXPECT_EQ(ChoosePassDataIndex(servers, 5000), 5002);
    // A tick count that reads as -1 would mean "no stored login".
    EXPECT_EQ(ChoosePassDataIndex(servers, 0xFFFFFFFFu), 0);
    servers[2].PassDataIndex = 0x7FFFFFFF;
    EXPECT_EQ(ChoosePassDataIndex(servers, 0x7FFFFFFFu), INT_MIN);
}

}  // namespace
}  // namespace vantel
