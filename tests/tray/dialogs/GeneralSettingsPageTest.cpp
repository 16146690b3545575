#include "tray/dialogs/GeneralSettingsPage.h"

#include <gtest/gtest.h>

#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
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
        page_ = &dialog.AddPage(std::make_unique<Page>(context_, dialog));
        page_->DefaultPort = 25;
        page_->DefaultPOPPort = 110;
        page_->ConnectTimeout = 5;
        page_->MessageTimeout = 6;
        page_->UseService = 1;
        page_->ListenAddress = listenAddress_;
        const INT_PTR result = test::RunModalWith(dialog, [&](HWND window) {
            act(page_->window());
            test::Click(window, ok ? IDOK : IDCANCEL);
        });
        read_ = *page_;  // the fields as OnOptions would read them
        return result;
    }

    struct Fields {
        int DefaultPort, DefaultPOPPort, ConnectTimeout, MessageTimeout, UseService;
        std::string ListenAddress;
        Fields& operator=(const Page& page) {
            DefaultPort = page.DefaultPort;
            DefaultPOPPort = page.DefaultPOPPort;
            ConnectTimeout = page.ConnectTimeout;
            MessageTimeout = page.MessageTimeout;
            UseService = page.UseService;
            ListenAddress = page.ListenAddress;
            return *this;
        }
    };

    test::FakeDialogNotifier notifier_;
    DialogContext context_;
    Page* page_ = nullptr;
    std::string listenAddress_;
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

}  // namespace
}  // namespace vantel
