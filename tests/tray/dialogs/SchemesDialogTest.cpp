#include "tray/dialogs/SchemesDialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StoreFactory.h"
#include "platform/win32/RegistryStore.h"
#include "tray/TrayFakes.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/ModalDriver.h"

namespace vantel {
namespace {

class FakeRelay : public RelayControl {
  public:
    void RestartListeners() override { ++restarts; }
    void OnRelayStateChanged() override {}
    int restarts = 0;
};

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[300] = {};
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

/// Notes what the combo box showed whenever the user was told something.
class WatchingNotifier : public test::FakeDialogNotifier {
  public:
    using FakeDialogNotifier::ShowMessage;
    void ShowMessage(std::string_view text) override {
        FakeDialogNotifier::ShowMessage(text);
        if (combo != nullptr) {
            listedAtMessage.push_back(ComboItems(combo));
        }
    }
    HWND combo = nullptr;
    std::vector<std::vector<std::string>> listedAtMessage;
};

class SchemesDialogTest : public ::testing::Test {
  protected:
    SchemesDialogTest() : productKey_(test::UniqueProductKey()), store_(productKey_) {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
    }
    ~SchemesDialogTest() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, productKey_.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, productKey_.c_str());
    }

    /// Runs the dialog; `act` gets the dialog and its combo box, and the dialog is closed
    /// after it.
    INT_PTR Run(const std::function<void(HWND, HWND)>& act) {
        SchemesDialog dialog(context_, settings_, schemas_);
        return test::RunModalWith(dialog, [&](HWND window) {
            HWND combo = GetDlgItem(window, SchemesDialog::kNameCombo);
            notifier_.combo = combo;
            act(window, combo);
            notifier_.combo = nullptr;
            test::Click(window, IDOK);
        });
    }
    static void Type(HWND window, HWND combo, const std::string& text) {
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        SetItemText(window, SchemesDialog::kNameCombo, text);
    }
    static void Pick(HWND combo, const std::string& text) {
        SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(text.c_str()));
    }
    std::string Stored(const std::string& key, const char* name) {
        return store_.ReadValueText(key, name, "<absent>", StoreRoot::CurrentUser);
    }

    std::string productKey_;
    RegistryStore store_;
    SettingsPersistence persistence_{store_};
    RelaySettings settings_;
    test::FakeCompanionService service_;
    FakeRelay relay_;
    WatchingNotifier notifier_;
    SchemaManager schemas_{settings_, persistence_, service_, relay_, notifier_, false};
    DialogContext context_;
};

using Names = std::vector<std::string>;

TEST_F(SchemesDialogTest, SaveStoresTheTypedNameAndLeavesTheListAsOpened) {
    settings_.Schemes = {"Home", "Beach"};
    settings_.DefaultPort = 2525;
    Run([&](HWND window, HWND combo) {
        EXPECT_EQ(ComboItems(combo), (Names{"Beach", "Home"}));
        EXPECT_EQ(GetItemText(window, SchemesDialog::kNameCombo), "");
        test::Click(window, SchemesDialog::kSaveButton);
        EXPECT_EQ(notifier_.messages.back(), "Please enter a name for schema before saving");
        EXPECT_EQ(settings_.Schemes, (Names{"Home", "Beach"}));

        Type(window, combo, "Office");
        test::Click(window, SchemesDialog::kSaveButton);
        EXPECT_EQ(notifier_.messages.back(), "Schema 'Office' was successfully saved");
        EXPECT_EQ(ComboItems(combo), (Names{"Beach", "Home"}));
    });
    EXPECT_EQ(notifier_.messages.size(), 2u);
    EXPECT_EQ(settings_.Schemes, (Names{"Home", "Beach", "Office"}));
    EXPECT_EQ(settings_.DefaultSchema, 3);
    EXPECT_EQ(Stored("Settings\\Office", "DefaultPort"), "2525");
    EXPECT_EQ(Stored("Settings", "DefaultSchema"), "3");
    EXPECT_EQ(Stored("Settings", "DefaultPort"), "<absent>");
}

TEST_F(SchemesDialogTest, DeleteUpdatesTheListBeforeItConfirms) {
    settings_.Schemes = {"A", "B", "C"};
    settings_.DefaultSchema = 2;
    schemas_.SaveEverywhere();
    Run([&](HWND window, HWND combo) {
        Pick(combo, "B");
        EXPECT_EQ(GetItemText(window, SchemesDialog::kNameCombo), "B");
        test::Click(window, SchemesDialog::kDeleteButton);
        EXPECT_EQ(notifier_.messages.back(), "Schema 'B' was successfully deleted");
        EXPECT_EQ(notifier_.listedAtMessage.back(), (Names{"A", "C"}));
        EXPECT_EQ(GetItemText(window, SchemesDialog::kNameCombo), "");
        EXPECT_EQ(settings_.DefaultSchema, 0);

        // A typed name goes from the list too, so the list never offers a deleted schema.
        Type(window, combo, "C");
        test::Click(window, SchemesDialog::kDeleteButton);
        EXPECT_EQ(notifier_.messages.back(), "Schema 'C' was successfully deleted");
        EXPECT_EQ(ComboItems(combo), Names{"A"});
        EXPECT_EQ(GetItemText(window, SchemesDialog::kNameCombo), "");

        Type(window, combo, "(default)");
        test::Click(window, SchemesDialog::kDeleteButton);
        EXPECT_EQ(notifier_.messages.back(), "Schema \"(default)\" not found");
        EXPECT_EQ(ComboItems(combo), Names{"A"});
        EXPECT_EQ(GetItemText(window, SchemesDialog::kNameCombo), "(default)");

        Pick(combo, "A");
        test::Click(window, SchemesDialog::kDeleteButton);
        EXPECT_EQ(notifier_.listedAtMessage.back(), Names{});
        EXPECT_EQ(GetItemText(window, SchemesDialog::kNameCombo), "");
    });
    EXPECT_EQ(notifier_.messages.size(), 4u);
    EXPECT_TRUE(settings_.Schemes.empty());
    EXPECT_EQ(Stored("Settings", "SchemesCount"), "0");
    EXPECT_EQ(Stored("Settings\\B", "DefaultPort"), "<absent>");
}

}  // namespace
}  // namespace vantel
