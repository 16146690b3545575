#include "tray/dialogs/SetKludgeDialog.h"

#include <gtest/gtest.h>

#include "core/config/StoredKludges.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/ListPageDriver.h"
#include "tray/dialogs/ModalDriver.h"

namespace vantel {
namespace {

class SetKludgeDialogTest : public ::testing::Test {
  protected:
    SetKludgeDialogTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
    }
    int ComboSelection(HWND editor) const {
        return static_cast<int>(
            SendDlgItemMessageA(editor, SetKludgeDialog::kSignalCombo, CB_GETCURSEL, 0, 0));
    }

    test::FakeDialogNotifier notifier_;
    DialogContext context_;
    std::vector<SpecialKludgeRecord> signals_ = PairSpecialKludges({"[list]", "[LIST]", ""}, {});
};

TEST_F(SetKludgeDialogTest, StartsEmptyWithChangeToTextForSmtpAndOffersTheSignalStrings) {
    SetKludgeDialog dialog(context_, signals_);
    const INT_PTR result = test::RunModalWith(dialog, [&](HWND editor) {
        char caption[32] = {};
        GetWindowTextA(editor, caption, sizeof caption);
        EXPECT_STREQ(caption, "Set Kludge");
        EXPECT_EQ(GetItemText(editor, SetKludgeDialog::kKludgeEdit), "");
        EXPECT_TRUE(IsItemChecked(editor, SetKludgeDialog::kChangeToRadio));
        EXPECT_TRUE(IsItemChecked(editor, SetKludgeDialog::kSmtpRadio));
        EXPECT_FALSE(IsItemChecked(editor, SetKludgeDialog::kPop3Radio));
        EXPECT_EQ(SendDlgItemMessageA(editor, SetKludgeDialog::kSignalCombo, CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(ComboSelection(editor), CB_ERR);
        for (int id : {SetKludgeDialog::kKludgeEdit, SetKludgeDialog::kChangeToEdit}) {
            EXPECT_EQ(SendDlgItemMessageA(editor, id, EM_GETLIMITTEXT, 0, 0), 254) << id;
        }
        test::Click(editor, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(SetKludgeDialogTest, AColonIsAppendedOnlyToANameWithoutOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"Subject", "Subject:"}, {"Subject:", "Subject:"}, {"X:Y", "X:Y"}, {"", ""}};
    for (const auto& [typed, stored] : cases) {
        SetKludgeDialog dialog(context_, signals_);
        const INT_PTR result = test::RunModalWith(dialog, [&](HWND editor) {
            SetItemText(editor, SetKludgeDialog::kKludgeEdit, typed);
            test::ClickOkToClose(editor);
        });
        EXPECT_EQ(result, IDOK) << typed;
        EXPECT_EQ(dialog.kludgeText, stored) << typed;
    }
}

TEST_F(SetKludgeDialogTest, TakeFromFileNeedsAPathWhichBecomesTheText) {
    SetKludgeDialog dialog(context_, signals_);
    const INT_PTR result = test::RunModalWith(dialog, [&](HWND editor) {
        SetItemText(editor, SetKludgeDialog::kKludgeEdit, "X-Quote");
        SetItemText(editor, SetKludgeDialog::kChangeToEdit, "ignored");
        test::Click(editor, SetKludgeDialog::kFileRadio);
        test::Click(editor, IDOK);
        EXPECT_TRUE(IsWindowVisible(editor)) << "no path: the dialog stays";
        EXPECT_TRUE(notifier_.messages.empty());
        SetItemText(editor, SetKludgeDialog::kFileEdit, "C:\\quotes.txt");
        test::ClickOkToClose(editor);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.action, 2);
    EXPECT_EQ(dialog.changeToText, "C:\\quotes.txt");
}

TEST_F(SetKludgeDialogTest, SpecialKludgeWithoutASignalStringIsRefused) {
    SetKludgeDialog dialog(context_, signals_);
    const INT_PTR result = test::RunModalWith(dialog, [&](HWND editor) {
        SetItemText(editor, SetKludgeDialog::kKludgeEdit, "Subject:");
        test::Click(editor, SetKludgeDialog::kSpecialRadio);
        test::Click(editor, IDOK);
        EXPECT_TRUE(IsWindowVisible(editor)) << "no signal string: the dialog stays";
        EXPECT_EQ(notifier_.messages,
                  (std::vector<std::string>{SetKludgeDialog::kChooseSignalText}));
        EXPECT_EQ(notifier_.askers, std::vector<HWND>{editor});
        SendDlgItemMessageA(editor, SetKludgeDialog::kSignalCombo, CB_SETCURSEL, 1, 0);
        test::ClickOkToClose(editor);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.action, 3);
    EXPECT_EQ(dialog.changeToText, "[LIST]");
}

TEST_F(SetKludgeDialogTest, EditingASpecialKludgeSelectsItsOwnSignalString) {
    // The combo box's search ignores case; the one stored must come back, not its twin.
    for (const auto& [stored, index] : {std::pair<const char*, int>{"[LIST]", 1}, {"", 2}}) {
        SetKludgeDialog dialog(context_, signals_);
        dialog.kludgeText = "Subject:";
        dialog.action = 3;
        dialog.changeToText = stored;
        const INT_PTR result = test::RunModalWith(dialog, [&](HWND editor) {
            EXPECT_EQ(ComboSelection(editor), index) << stored;
            test::ClickOkToClose(editor);
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(dialog.changeToText, stored);
    }
}

/// The editor with a file chooser that answers at once.
class ChoosingDialog : public SetKludgeDialog {
  public:
    using SetKludgeDialog::SetKludgeDialog;
    const char* answer = nullptr;

  protected:
    bool ChooseFile(std::string& path) override {
        if (answer == nullptr) {
            return false;
        }
        path = answer;
        return true;
    }
};

TEST_F(SetKludgeDialogTest, TheChosenFileFillsThePathAndKeepsWhatWasTyped) {
    ChoosingDialog dialog(context_, signals_);
    test::RunModalWith(dialog, [&](HWND editor) {
        SetItemText(editor, SetKludgeDialog::kKludgeEdit, "X-Quote");
        SetItemText(editor, SetKludgeDialog::kFileEdit, "C:\\old.txt");
        test::Click(editor, SetKludgeDialog::kFileRadio);
        test::Click(editor, SetKludgeDialog::kBrowseButton);  // the user gives up
        EXPECT_EQ(GetItemText(editor, SetKludgeDialog::kFileEdit), "C:\\old.txt");
        dialog.answer = "C:\\Mail\\quotes.txt";
        test::Click(editor, SetKludgeDialog::kBrowseButton);
        EXPECT_EQ(GetItemText(editor, SetKludgeDialog::kFileEdit), "C:\\Mail\\quotes.txt");
        EXPECT_EQ(GetItemText(editor, SetKludgeDialog::kKludgeEdit), "X-Quote");
        EXPECT_TRUE(IsItemChecked(editor, SetKludgeDialog::kFileRadio));
        test::ClickOkToClose(editor);
    });
    EXPECT_EQ(dialog.kludgeText, "X-Quote:");
    EXPECT_EQ(dialog.changeToText, "C:\\Mail\\quotes.txt");
}

}  // namespace
}  // namespace vantel
