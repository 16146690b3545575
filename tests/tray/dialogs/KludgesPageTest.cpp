#include "tray/dialogs/KludgesPage.h"

#include <gtest/gtest.h>

#include <memory>

#include "StoredKludgeLists.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/ListPageDriver.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/SetKludgeDialog.h"

namespace vantel {
namespace {

using Editor = SetKludgeDialog;

class KludgesPageTest : public ::testing::Test {
  protected:
    KludgesPageTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
        context_.runModal = [this](Dialog& dialog, HWND owner) { return editors_(dialog, owner); };
    }
    /// The page on `kludges` and `subst` as they load from the store, as the Options dialog
    /// opens it.
    KludgesPage& Open(const StringList& kludges, const StringList& subst) {
        draft_.Kludges = PairKludges(kludges, subst);
        page_ = std::make_unique<KludgesPage>(context_, host_, draft_, signals_);
        window_ = parent_.Open(*page_);
        EXPECT_NE(window_, nullptr);
        return *page_;
    }
    HWND List() const { return GetDlgItem(window_, KludgesPage::kList); }
    void Notify(UINT code) { test::NotifyList(window_, KludgesPage::kList, code); }

    test::FakeDialogNotifier notifier_;
    test::ScriptedEditors editors_;
    test::CountingHost host_;
    std::vector<SpecialKludgeRecord> signals_ = PairSpecialKludges({"[list]"}, {});
    RelaySettings draft_;
    DialogContext context_;
    test::PageParent parent_;
    std::unique_ptr<KludgesPage> page_;
    HWND window_ = nullptr;
};

TEST_F(KludgesPageTest, ShowsEachKludgeWithItsTypeImageActionAndText) {
    Open({"0 Subject:", "1 X-Mailer:", "Received", "0 To:", "1 From:"},
         {"0 Hello there", "1 kept text", "2 C:\\sig.txt", "3 [list]", "9 odd"});

    EXPECT_EQ(test::ColumnTitle(List(), 0), "Kludge");
    EXPECT_EQ(test::ColumnTitle(List(), 1), "Action");
    EXPECT_EQ(test::ColumnTitle(List(), 2), "Substitution");
    HIMAGELIST images =
        reinterpret_cast<HIMAGELIST>(SendMessageA(List(), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), 3);

    ASSERT_EQ(test::RowCount(List()), 5);
    const char* names[] = {"Subject:", "X-Mailer:", "Received", "To:", "From:"};
    const int types[] = {0, 1, 0, 0, 1};
    const char* actions[] = {"Change to:", "Delete", "From file:", "Special kludge", ""};
    const char* texts[] = {"Hello there", "kept text", "C:\\sig.txt", "[list]", "odd"};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(test::CellText(List(), row, 0), names[row]);
        EXPECT_EQ(test::RowImage(List(), row), types[row]);
        EXPECT_EQ(test::CellText(List(), row, 1), actions[row]);
        EXPECT_EQ(test::CellText(List(), row, 2), texts[row]);
    }
    // A text longer than the list's room is cut, never written past it.
    EXPECT_EQ(test::RequestCellText(window_, KludgesPage::kList, 0, 2, 6), "Hello");
    EXPECT_EQ(test::RequestCellText(window_, KludgesPage::kList, 9, 2), "");
}

TEST_F(KludgesPageTest, RightClickAddsTheEditedKludgeToBothLists) {
    Open({"0 Subject:"}, {"1 x"});
    editors_.acts = {
        [](HWND editor) {
            SetItemText(editor, Editor::kKludgeEdit, "Subject");
            SetItemText(editor, Editor::kChangeToEdit, "Hi there");
            test::Click(editor, Editor::kPop3Radio);
            test::ClickOkToClose(editor);
        },
        [](HWND editor) {  // cancelled
            SetItemText(editor, Editor::kKludgeEdit, "X-Cancelled");
            test::Click(editor, IDCANCEL);
        },
        [](HWND editor) { test::ClickOkToClose(editor); },  // no kludge text
    };
    for (int i = 0; i < 3; ++i) {
        Notify(NM_RCLICK);
    }
    EXPECT_EQ(editors_.ran, 3);
    EXPECT_EQ(test::KludgeEntries(draft_), (StringList{"0 Subject:", "1 Subject:"}));
    EXPECT_EQ(test::SubstEntries(draft_), (StringList{"1 x", "0 Hi there"}));
    ASSERT_EQ(test::RowCount(List()), 2);
    EXPECT_EQ(test::CellText(List(), 1, 0), "Subject:");
    EXPECT_EQ(test::RowImage(List(), 1), 1);
    EXPECT_EQ(test::CellText(List(), 1, 2), "Hi there");
}

TEST_F(KludgesPageTest, DoubleClickEditsTheFocusedKludgeInPlace) {
    Open({"0 Subject:", "1 X-Mailer:", "0 To:"}, {"0 a", "1 b", "0 c"});
    Notify(NM_DBLCLK);  // nothing has the focus: no editor
    EXPECT_EQ(editors_.ran, 0);

    test::FocusRow(List(), 1);
    editors_.acts = {[](HWND editor) {
        EXPECT_EQ(GetItemText(editor, Editor::kKludgeEdit), "X-Mailer:");
        EXPECT_EQ(GetItemText(editor, Editor::kChangeToEdit), "b");
        EXPECT_TRUE(IsItemChecked(editor, Editor::kDeleteRadio));
        EXPECT_TRUE(IsItemChecked(editor, Editor::kPop3Radio));
        SetItemText(editor, Editor::kKludgeEdit, "Organization");
        SetItemText(editor, Editor::kChangeToEdit, "Home %d%s");  // kept, not taken as fields
        test::Click(editor, Editor::kChangeToRadio);
        test::Click(editor, Editor::kSmtpRadio);
        test::ClickOkToClose(editor);
    }};
    Notify(NM_DBLCLK);
    EXPECT_EQ(test::KludgeEntries(draft_), (StringList{"0 Subject:", "0 Organization:", "0 To:"}));
    EXPECT_EQ(test::SubstEntries(draft_), (StringList{"0 a", "0 Home %d%s", "0 c"}));
    ASSERT_EQ(test::RowCount(List()), 3);
    EXPECT_EQ(test::CellText(List(), 1, 0), "Organization:");
    EXPECT_EQ(test::RowImage(List(), 1), 0);
    EXPECT_EQ(test::CellText(List(), 1, 1), "Change to:");
}

TEST_F(KludgesPageTest, EditingFileAndSpecialKludgesShowsTheirPathAndSignalUnchanged) {
    Open({"0 X-Quote:", "0 Subject:"}, {"2 C:\\quotes.txt", "3 [list]"});
    editors_.acts = {
        [](HWND editor) {
            EXPECT_EQ(GetItemText(editor, Editor::kFileEdit), "C:\\quotes.txt");
            EXPECT_EQ(GetItemText(editor, Editor::kChangeToEdit), "");
            EXPECT_TRUE(IsItemChecked(editor, Editor::kFileRadio));
            test::ClickOkToClose(editor);
        },
        [](HWND editor) {
            EXPECT_EQ(SendDlgItemMessageA(editor, Editor::kSignalCombo, CB_GETCURSEL, 0, 0), 0);
            EXPECT_EQ(GetItemText(editor, Editor::kChangeToEdit), "");
            test::ClickOkToClose(editor);
        },
    };
    for (int row = 0; row < 2; ++row) {
        test::FocusRow(List(), row);
        Notify(NM_DBLCLK);
    }
    EXPECT_EQ(editors_.ran, 2);
    EXPECT_EQ(test::KludgeEntries(draft_), (StringList{"0 X-Quote:", "0 Subject:"}));
    EXPECT_EQ(test::SubstEntries(draft_), (StringList{"2 C:\\quotes.txt", "3 [list]"}));
}

TEST_F(KludgesPageTest, DeleteAsksOnceAndOnlyOkRemovesTheKludge) {
    Open({"0 Subject:", "1 X-Mailer:"}, {"0 a", "1 b"});
    test::FocusRow(List(), 0);
    test::PressListKey(window_, KludgesPage::kList, VK_BACK);  // not Delete: nothing
    EXPECT_TRUE(notifier_.questions.empty());

    notifier_.answer = false;
    test::PressListKey(window_, KludgesPage::kList, VK_DELETE);
    ASSERT_EQ(notifier_.questions,
              (std::vector<std::string>{"Are you sure you want to delete this item?"}));
    EXPECT_EQ(draft_.Kludges.size(), 2u);
    EXPECT_EQ(test::RowCount(List()), 2);

    notifier_.answer = true;
    test::PressListKey(window_, KludgesPage::kList, VK_DELETE);
    EXPECT_EQ(notifier_.questions.size(), 2u);
    EXPECT_EQ(notifier_.askers, (std::vector<HWND>{window_, window_}));
    EXPECT_EQ(test::KludgeEntries(draft_), (StringList{"1 X-Mailer:"}));
    EXPECT_EQ(test::SubstEntries(draft_), (StringList{"1 b"}));
    ASSERT_EQ(test::RowCount(List()), 1);
    EXPECT_EQ(test::CellText(List(), 0, 0), "X-Mailer:");
}

TEST_F(KludgesPageTest, AListPairBrokenOutsideTheProgramStaysPairedOnAdd) {
    Open({"0 Subject:", "0 To:"}, {"0 a"});
    EXPECT_EQ(test::CellText(List(), 1, 1), "");
    editors_.acts = {[](HWND editor) {
        SetItemText(editor, Editor::kKludgeEdit, "From:");
        SetItemText(editor, Editor::kChangeToEdit, "me");
        test::ClickOkToClose(editor);
    }};
    Notify(NM_RCLICK);
    ASSERT_EQ(draft_.Kludges.size(), draft_.Kludges.size());
    EXPECT_EQ(test::KludgeEntries(draft_).back(), "0 From:");
    EXPECT_EQ(test::SubstEntries(draft_).back(), "0 me");
}

}  // namespace
}  // namespace vantel
