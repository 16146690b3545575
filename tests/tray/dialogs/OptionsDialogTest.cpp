#include "tray/dialogs/OptionsDialog.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cctype>
#include <map>

#include "TempDir.h"
#include "tray/MessageBoxNotifier.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/FakeLauncher.h"
#include "tray/dialogs/GeneralSettingsPage.h"
#include "tray/dialogs/KludgesPage.h"
#include "tray/dialogs/ListPageDriver.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/ServersPage.h"
#include "tray/dialogs/SpecialKludgesPage.h"
#include "tray/dialogs/WindowGeometry.h"

namespace vantel {
namespace {

using Page = GeneralSettingsPage;

/// Runs the dialog's own message handling for what was posted, as its modal loop would.
void Pump(HWND dialog) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

class OptionsDialogTest : public ::testing::Test {
  protected:
    OptionsDialogTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
        context_.isNT = true;
        dialog_ = std::make_unique<OptionsDialog>(context_);
        for (int i = 0; i < 4; ++i) {
            drafts_[i].DefaultPort = 100 + i;
            drafts_[i].DefaultPOPPort = 200 + i;
            drafts_[i].ConnectTimeout = 0;
            pages_[i] = &dialog_->AddPage(
                std::make_unique<Page>(context_, *dialog_, drafts_[i], launcher_, log_));
        }
    }
    static void SelectTab(HWND dialog, int index) {
        HWND tabs = GetDlgItem(dialog, OptionsDialog::kTabControl);
        NMHDR header{tabs, OptionsDialog::kTabControl, static_cast<UINT>(TCN_SELCHANGING)};
        SendMessageA(dialog, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
        SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
        header.code = static_cast<UINT>(TCN_SELCHANGE);
        SendMessageA(dialog, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    }

    test::FakeDialogNotifier notifier_;
    test::FakeLauncher launcher_;
    test::TempDir dir_;
    RollingLogFile log_{dir_.path() / "vantel.log"};
    DialogContext context_;
    RelaySettings drafts_[4];
    std::unique_ptr<OptionsDialog> dialog_;
    Page* pages_[4] = {};
};

TEST_F(OptionsDialogTest, OpensOnTheFirstTabWithEveryPageInTheTabArea) {
    test::RunModalWith(*dialog_, [&](HWND dialog) {
        HWND tabs = GetDlgItem(dialog, OptionsDialog::kTabControl);
        EXPECT_EQ(TabCtrl_GetItemCount(tabs), 4);
        const char* titles[] = {"Servers", "Kludges", "Special", "General Settings"};
        for (int i = 0; i < 4; ++i) {
            char text[64] = {};
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(&item));
            EXPECT_STREQ(text, titles[i]);
        }
        EXPECT_EQ(dialog_->CurrentTab(), 0);

        RECT area{};
        GetWindowRect(tabs, &area);
        TabCtrl_AdjustRect(tabs, FALSE, &area);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(IsWindowVisible(pages_[i]->window()) != FALSE, i == 0) << i;
            RECT page{};
            GetWindowRect(pages_[i]->window(), &page);
            EXPECT_TRUE(EqualRect(&page, &area)) << i;
            EXPECT_EQ(GetItemText(pages_[i]->window(), Page::kSmtpPortEdit),
                      std::to_string(100 + i))
                << "controls loaded from the fields";
        }

        SelectTab(dialog, 3);
        EXPECT_FALSE(IsWindowVisible(pages_[0]->window()));
        EXPECT_TRUE(IsWindowVisible(pages_[3]->window()));
        SelectTab(dialog, 1);
        EXPECT_FALSE(IsWindowVisible(pages_[3]->window()));
        EXPECT_TRUE(IsWindowVisible(pages_[1]->window()));
        test::Click(dialog, IDCANCEL);
    });
}

TEST_F(OptionsDialogTest, EnterAndEscapeInsideAPageCloseNothing) {
    bool stillOpen = false;
    const INT_PTR result = test::RunModalWith(*dialog_, [&](HWND dialog) {
        HWND edit = GetDlgItem(pages_[0]->window(), Page::kSmtpPortEdit);
        SetFocus(edit);
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            PostMessageA(edit, WM_KEYDOWN, key, 0);
            PostMessageA(edit, WM_KEYUP, key, 0);
            Pump(dialog);
        }
        stillOpen = IsWindowVisible(dialog) != FALSE;
        test::Click(dialog, IDCANCEL);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(OptionsDialogTest, OkReadsEveryPageBackEvenAfterOneRefusesAField) {
    const INT_PTR result = test::RunModalWith(*dialog_, [&](HWND) {
        for (int i = 0; i < 4; ++i) {
            SetItemText(pages_[i]->window(), Page::kSmtpPortEdit, std::to_string(1000 + i));
            SetItemText(pages_[i]->window(), Page::kPopPortEdit, std::to_string(2000 + i));
        }
        // The second page refuses its POP3 port: it and the fields after it stay.
        SetItemText(pages_[1]->window(), Page::kPopPortEdit, "pop");
        SetItemText(pages_[1]->window(), Page::kConnectTimeoutEdit, "77");
        test::Click(dialog_->window(), IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(drafts_[1].DefaultPort, 1001);
    EXPECT_EQ(drafts_[1].DefaultPOPPort, 201);
    EXPECT_EQ(drafts_[1].ConnectTimeout, 0);
    for (int i : {0, 2, 3}) {
        EXPECT_EQ(drafts_[i].DefaultPort, 1000 + i);
        EXPECT_EQ(drafts_[i].DefaultPOPPort, 2000 + i);
    }
}

TEST_F(OptionsDialogTest, CancelReadsNothingAndSchemesRunsOverTheDialog) {
    HWND schemesOwner = nullptr;
    dialog_->onSchemes = [&](HWND owner) { schemesOwner = owner; };
    HWND shown = nullptr;
    const INT_PTR result = test::RunModalWith(*dialog_, [&](HWND dialog) {
        shown = dialog;
        SetItemText(pages_[0]->window(), Page::kSmtpPortEdit, "9999");
        test::Click(dialog, OptionsDialog::kSchemesButton);
        test::Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(schemesOwner, shown);
    EXPECT_EQ(drafts_[0].DefaultPort, 100);
}

/// The key a caption's '&' marks (upper case), or 0.
char AccessKey(const std::string& caption) {
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (caption[i + 1] != '&') {
                return static_cast<char>(std::toupper(static_cast<unsigned char>(caption[i + 1])));
            }
            ++i;
        }
    }
    return 0;
}

/// The captions of `window`'s own buttons and labels that the template shows.
std::vector<std::string> Captions(HWND window) {
    std::vector<std::string> captions;
    for (HWND control = GetWindow(window, GW_CHILD); control != nullptr;
         control = GetWindow(control, GW_HWNDNEXT)) {
        char name[32] = {};
        GetClassNameA(control, name, sizeof name);
        const LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE);
        const bool label = lstrcmpiA(name, "Static") == 0 && (style & SS_NOPREFIX) == 0;
        char text[128] = {};
        GetWindowTextA(control, text, sizeof text);
        const std::string caption = text;
        if ((label || lstrcmpiA(name, "Button") == 0) && (style & WS_VISIBLE) != 0 &&
            !caption.empty()) {
            captions.push_back(caption);
        }
    }
    return captions;
}

/// The Options dialog with the program's four pages.
class OptionsPagesTest : public ::testing::Test {
  protected:
    OptionsPagesTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.isNT = true;
        context_.runModal = std::ref(editors_);
        for (const char* name : {"smtp.example.org", "pop.example.org"}) {
            settings_.ServerList.emplace_back();
            settings_.ServerList.back().Name = name;
        }
    }
    void Build(DialogNotifier& notifier) {
        context_.notifier = &notifier;
        dialog_ = std::make_unique<OptionsDialog>(context_);
        servers_ = &dialog_->AddPage(
            std::make_unique<ServersPage>(context_, *dialog_, settings_, settings_));
        kludges_ = &dialog_->AddPage(
            std::make_unique<KludgesPage>(context_, *dialog_, settings_, settings_.SpecialKludges));
        special_ = &dialog_->AddPage(
            std::make_unique<SpecialKludgesPage>(context_, *dialog_, settings_, settings_));
        general_ = &dialog_->AddPage(
            std::make_unique<GeneralSettingsPage>(context_, *dialog_, settings_, launcher_, log_));
    }
    /// Each list page with its list's id.
    std::vector<std::pair<OptionsPage*, int>> Lists() const {
        return {{servers_, ServersPage::kServerListView},
                {kludges_, KludgesPage::kList},
                {special_, SpecialKludgesPage::kList}};
    }

    test::FakeDialogNotifier notifier_;
    test::ScriptedEditors editors_;
    test::FakeLauncher launcher_;
    test::TempDir dir_;
    RollingLogFile log_{dir_.path() / "vantel.log"};
    DialogContext context_;
    RelaySettings settings_;
    std::unique_ptr<OptionsDialog> dialog_;
    OptionsPage* servers_ = nullptr;
    OptionsPage* kludges_ = nullptr;
    OptionsPage* special_ = nullptr;
    OptionsPage* general_ = nullptr;
};

TEST_F(OptionsPagesTest, DeleteConfirmationHoldsTheDialogUntilAnsweredAndOpensOverIt) {
    MessageBoxNotifier boxes;
    Build(boxes);
    HWND options = nullptr;
    HWND owner = nullptr;
    bool enabledUnderBox = true;
    RECT box{};
    RECT under{};
    test::RunModalWith(*dialog_, [&](HWND window) {
        options = window;
        test::FocusRow(servers_->Item(ServersPage::kServerListView), 0);
        const auto pressDelete = [this] {
            test::PressListKey(servers_->window(), ServersPage::kServerListView, VK_DELETE);
        };
        EXPECT_TRUE(test::AnswerBox(pressDelete, [&](HWND shown) {
            owner = GetWindow(shown, GW_OWNER);
            enabledUnderBox = IsWindowEnabled(window) != FALSE;
            box = test::WindowRect(shown);
            under = test::WindowRect(window);
            test::Click(shown, IDOK);
        }));
        EXPECT_TRUE(IsWindowEnabled(window)) << "enabled again once answered";
        test::Click(window, IDCANCEL);
    });
    EXPECT_EQ(owner, options);
    EXPECT_FALSE(enabledUnderBox);
    EXPECT_TRUE(test::CentredOn(box, under));
    ASSERT_EQ(settings_.ServerList.size(), 1u);
    EXPECT_EQ(settings_.ServerList[0].Name, "pop.example.org");
}

TEST_F(OptionsPagesTest, ListsKeepOneMarginAllRoundAndShowTheirSelectionUnfocused) {
    Build(notifier_);
    test::RunModalWith(*dialog_, [&](HWND window) {
        for (auto [page, id] : Lists()) {
            HWND list = page->Item(id);
            RECT area{};
            GetClientRect(page->window(), &area);
            RECT rect = test::WindowRect(list);
            MapWindowPoints(nullptr, page->window(), reinterpret_cast<POINT*>(&rect), 2);
            const LONG margins[] = {rect.left, rect.top, area.right - rect.right,
                                    area.bottom - rect.bottom};
            EXPECT_GT(margins[0], 0) << id;
            for (LONG margin : margins) {
                EXPECT_LE(std::abs(margin - margins[0]), 2)
                    << id << ": left, top, right, bottom " << margins[0] << " " << margins[1] << " "
                    << margins[2] << " " << margins[3];
            }
            EXPECT_NE(GetWindowLongPtrA(list, GWL_STYLE) & LVS_SHOWSELALWAYS, 0) << id;
        }
        test::Click(window, IDCANCEL);
    });
}

TEST_F(OptionsPagesTest, EveryCaptionOnAPageHasAnAccessKeyNoOtherOneInSightShares) {
    Build(notifier_);
    test::RunModalWith(*dialog_, [&](HWND window) {
        for (OptionsPage* page : {servers_, kludges_, special_, general_}) {
            // The dialog's own buttons take keys while any page shows.
            std::map<char, std::string> taken;
            for (const std::string& caption : Captions(window)) {
                if (const char key = AccessKey(caption)) {
                    taken.emplace(key, caption);
                }
            }
            for (const std::string& caption : Captions(page->window())) {
                const char key = AccessKey(caption);
                EXPECT_NE(key, 0) << caption;
                const auto [holder, added] = taken.emplace(key, caption);
                EXPECT_TRUE(key == 0 || added) << caption << " has the key of " << holder->second;
            }
        }
        test::Click(window, IDCANCEL);
    });
}

TEST_F(OptionsPagesTest, EveryControlShowsWholeInsideTheTabArea) {
    Build(notifier_);
    test::RunModalWith(*dialog_, [&](HWND window) {
        RECT area = test::WindowRect(GetDlgItem(window, OptionsDialog::kTabControl));
        SendMessageA(GetDlgItem(window, OptionsDialog::kTabControl), TCM_ADJUSTRECT, FALSE,
                     reinterpret_cast<LPARAM>(&area));
        for (OptionsPage* page : {servers_, kludges_, special_, general_}) {
            for (HWND control = GetWindow(page->window(), GW_CHILD); control != nullptr;
                 control = GetWindow(control, GW_HWNDNEXT)) {
                if ((GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) == 0) {
                    continue;
                }
                const RECT rect = test::WindowRect(control);
                EXPECT_TRUE(rect.left >= area.left && rect.top >= area.top &&
                            rect.right <= area.right && rect.bottom <= area.bottom)
                    << GetDlgCtrlID(control) << " at " << test::Text(rect) << " outside "
                    << test::Text(area);
            }
        }
        test::Click(window, IDCANCEL);
    });
}

TEST_F(OptionsPagesTest, OpensInTheMiddleOfTheWorkAreaWithItsCaptionOnScreen) {
    const auto openIn = [this](const RECT& area) {
        context_.workArea = [area] { return area; };
        Build(notifier_);
        RECT shown{};
        test::RunModalWith(*dialog_, [&](HWND window) {
            shown = test::WindowRect(window);
            test::Click(window, IDCANCEL);
        });
        return shown;
    };
    const RECT roomy{150, 90, 950, 690};  // away from the screen's corner
    EXPECT_TRUE(test::CentredOn(openIn(roomy), roomy));
    const RECT small{40, 30, 240, 180};  // smaller than the dialog
    const RECT shown = openIn(small);
    EXPECT_EQ(shown.left, small.left);
    EXPECT_EQ(shown.top, small.top);
}

}  // namespace
}  // namespace vantel
