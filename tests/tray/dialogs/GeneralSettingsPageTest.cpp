#include "tray/dialogs/GeneralSettingsPage.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <fstream>
#include <iterator>

#include "TempDir.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/FakeLauncher.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/OptionsDialog.h"

namespace vantel {
namespace {

using Page = GeneralSettingsPage;

class GeneralSettingsPageTest : public ::testing::Test {
  protected:
    GeneralSettingsPageTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
    }
    /// Runs an Options dialog holding only this page; `act` works on the page's window.
    INT_PTR Run(const std::function<void(HWND)>& act, bool ok = true) {
        OptionsDialog dialog(context_);
        RelaySettings draft;
        draft.DefaultPort = 25;
        draft.DefaultPOPPort = 110;
        draft.ConnectTimeout = 5;
        draft.MessageTimeout = 6;
        draft.UseService = 1;
        draft.ListenAddress = listenAddress_;
        draft.LogTraffic = logTraffic_;
        page_ = &dialog.AddPage(std::make_unique<Page>(context_, dialog, draft, launcher_, *log_));
        const INT_PTR result = test::RunModalWith(dialog, [&](HWND window) {
            act(page_->window());
            test::Click(window, ok ? IDOK : IDCANCEL);
        });
        read_ = draft;  // the fields as OnOptions would read them
        return result;
    }

    struct Fields {
        int DefaultPort, DefaultPOPPort, ConnectTimeout, MessageTimeout, UseService, LogTraffic;
        std::string ListenAddress;
        Fields& operator=(const RelaySettings& page) {
            DefaultPort = page.DefaultPort;
            DefaultPOPPort = page.DefaultPOPPort;
            ConnectTimeout = page.ConnectTimeout;
            MessageTimeout = page.MessageTimeout;
            UseService = page.UseService;
            ListenAddress = page.ListenAddress;
            LogTraffic = page.LogTraffic;
            return *this;
        }
    };

    test::FakeDialogNotifier notifier_;
    test::FakeLauncher launcher_;
    test::TempDir dir_;
    /// In a folder not made yet, as on the first run.
    std::unique_ptr<RollingLogFile> log_ =
        std::make_unique<RollingLogFile>(dir_.path() / "Vantel" / "vantel.log");
    DialogContext context_;
    Page* page_ = nullptr;
    std::string listenAddress_;
    int logTraffic_ = 0;
    Fields read_{};
};

TEST_F(GeneralSettingsPageTest, NumbersAreTakenAsTheyAreAndAFailureStopsTheRest) {
    context_.isNT = true;
    Run([](HWND page) {
        EXPECT_EQ(GetItemText(page, Page::kSmtpPortEdit), "25");
        EXPECT_TRUE(IsItemChecked(page, Page::kUseServiceCheck));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, Page::kImapPortEdit)));
        EXPECT_EQ(GetItemText(page, Page::kImapPortEdit), "");
        SetItemText(page, Page::kSmtpPortEdit, "70000");  // no range check
        SetItemText(page, Page::kPopPortEdit, "-1");
        SetItemText(page, Page::kConnectTimeoutEdit, "0");
        SetItemText(page, Page::kMessageTimeoutEdit, "9");
        CheckItem(page, Page::kUseServiceCheck, false);
    });
    EXPECT_EQ(read_.DefaultPort, 70000);
    EXPECT_EQ(read_.DefaultPOPPort, -1);
    EXPECT_EQ(read_.ConnectTimeout, 0);
    EXPECT_EQ(read_.MessageTimeout, 9);
    EXPECT_EQ(read_.UseService, 0);
    EXPECT_TRUE(notifier_.messages.empty());

    Run([](HWND page) {
        SetItemText(page, Page::kSmtpPortEdit, "26");
        SetItemText(page, Page::kPopPortEdit, "1 10");
        SetItemText(page, Page::kConnectTimeoutEdit, "30");
        CheckItem(page, Page::kUseServiceCheck, false);
    });
    EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(read_.DefaultPort, 26);
    EXPECT_EQ(read_.DefaultPOPPort, 110);
    EXPECT_EQ(read_.ConnectTimeout, 5);
    EXPECT_EQ(read_.UseService, 1) << "fields after the failing one keep their values";
}

TEST_F(GeneralSettingsPageTest, WithoutServicesTheBoxIsClearedAndDisabled) {
    context_.isNT = false;
    Run([](HWND page) {
        EXPECT_FALSE(IsItemChecked(page, Page::kUseServiceCheck));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, Page::kUseServiceCheck)));
    });
    EXPECT_EQ(read_.UseService, 0);
}

TEST_F(GeneralSettingsPageTest, RemoteConnectionsBoxEditsTheListenAddress) {
    context_.isNT = true;
    Run([](HWND page) {
        EXPECT_FALSE(IsItemChecked(page, Page::kAcceptRemoteCheck));
        CheckItem(page, Page::kAcceptRemoteCheck, true);
    });
    EXPECT_EQ(read_.ListenAddress, "*");

    listenAddress_ = "192.168.1.5";
    Run([](HWND page) { EXPECT_TRUE(IsItemChecked(page, Page::kAcceptRemoteCheck)); });
    EXPECT_EQ(read_.ListenAddress, "192.168.1.5") << "a chosen address stays";

    listenAddress_ = "*";
    Run([](HWND page) { CheckItem(page, Page::kAcceptRemoteCheck, false); });
    EXPECT_EQ(read_.ListenAddress, "");

    listenAddress_ = "*";
    Run([](HWND page) { CheckItem(page, Page::kAcceptRemoteCheck, false); }, false);
    EXPECT_EQ(read_.ListenAddress, "*") << "Cancel reads nothing back";
}

TEST_F(GeneralSettingsPageTest, LogTrafficBoxShowsItsValueAndIsReadBackOnOk) {
    logTraffic_ = 1;
    Run([](HWND page) {
        EXPECT_TRUE(IsItemChecked(page, Page::kLogTrafficCheck));
        test::Click(page, Page::kLogTrafficCheck);
    });
    EXPECT_EQ(read_.LogTraffic, 0);

    logTraffic_ = 0;
    Run([](HWND page) {
        EXPECT_FALSE(IsItemChecked(page, Page::kLogTrafficCheck));
        test::Click(page, Page::kLogTrafficCheck);
    });
    EXPECT_EQ(read_.LogTraffic, 1);

    Run([](HWND page) { test::Click(page, Page::kLogTrafficCheck); }, false);
    EXPECT_EQ(read_.LogTraffic, 0) << "Cancel reads nothing back";
}

TEST_F(GeneralSettingsPageTest, OpenLogOpensTheLogFileMadeEmptyWhenThereIsNoneYet) {
    const std::filesystem::path path = log_->path();
    ASSERT_FALSE(std::filesystem::exists(path.parent_path()));
    Run([](HWND page) { test::Click(page, Page::kOpenLogButton); });
    ASSERT_EQ(launcher_.files, std::vector<std::filesystem::path>{path});
    EXPECT_TRUE(launcher_.existed[0]) << "the editor is given a file to open";
    EXPECT_EQ(std::filesystem::file_size(path), 0u);

    // What the log holds already stays.
    log_->WriteLine("2026-01-02 03:04:05 kept");
    Run([](HWND page) { test::Click(page, Page::kOpenLogButton); });
    EXPECT_EQ(launcher_.files.size(), 2u);
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(text, "2026-01-02 03:04:05 kept\r\n");
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(GeneralSettingsPageTest, OpenLogFailuresAreToldOverThePage) {
    launcher_.shellResult = SE_ERR_NOASSOC;
    HWND button = nullptr;
    Run([&](HWND page) {
        button = GetDlgItem(page, Page::kOpenLogButton);
        test::Click(page, Page::kOpenLogButton);
    });
    EXPECT_EQ(notifier_.messages,
              std::vector<std::string>{"Unable to open the log:\n\n" +
                                       LinkLauncher::ErrorText(SE_ERR_NOASSOC)});
    EXPECT_EQ(notifier_.askers, std::vector<HWND>{button});

    // A log whose folder cannot be made: a file stands where it would be.
    std::ofstream(dir_.path() / "taken").put('x');
    log_ = std::make_unique<RollingLogFile>(dir_.path() / "taken" / "vantel.log");
    launcher_.files.clear();
    notifier_.messages.clear();
    Run([&](HWND page) { test::Click(page, Page::kOpenLogButton); });
    EXPECT_TRUE(launcher_.files.empty());
    ASSERT_EQ(notifier_.messages.size(), 1u);
    EXPECT_EQ(notifier_.messages[0].rfind("Unable to open the log:\n\ncannot open ", 0), 0u)
        << notifier_.messages[0];
}

}  // namespace
}  // namespace vantel
