#include "tray/dialogs/SpecialKludgesPage.h"

#include <gtest/gtest.h>

#include <memory>

#include "StoredKludgeLists.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/FakeDialogNotifier.h"
#include "tray/dialogs/KludgesPage.h"
#include "tray/dialogs/ListPageDriver.h"
#include "tray/dialogs/ModalDriver.h"
#include "tray/dialogs/SetKludgeDialog.h"
#include "tray/dialogs/SpecialKludgeDialog.h"

namespace vantel {
namespace {

using Editor = SpecialKludgeDialog;

/// An editor act that types the three fields and clicks OK.
std::function<void(HWND)> Type(const char* signal, const char* separator, const char* name) {
    return [=](HWND editor) {
        SetItemText(editor, Editor::kSignalEdit, signal);
        SetItemText(editor, Editor::kSeparatorEdit, separator);
        SetItemText(editor, Editor::kNameEdit, name);
        test::ClickOkToClose(editor);
    };
}

class SpecialKludgesPageTest : public ::testing::Test {
  protected:
    SpecialKludgesPageTest() {
        context_.instance = GetModuleHandleA(nullptr);
        context_.notifier = &notifier_;
        context_.runModal = [this](Dialog& dialog, HWND owner) { return editors_(dialog, owner); };
    }
    /// The page on a draft copied from the live settings, as the Options dialog opens it.
    SpecialKludgesPage& Open() {
        draft_ = live_;
        page_ = std::make_unique<SpecialKludgesPage>(context_, host_, draft_, live_);
        window_ = parent_.Open(*page_);
        EXPECT_NE(window_, nullptr);
        return *page_;
    }
    HWND List() const { return GetDlgItem(window_, SpecialKludgesPage::kList); }
    void Notify(UINT code) { test::NotifyList(window_, SpecialKludgesPage::kList, code); }
    void ExpectLive(const StringList& signals, const StringList& definitions) {
        EXPECT_EQ(test::SignalStrings(live_), signals);
        EXPECT_EQ(test::SpecialDefinitions(live_), definitions);
        EXPECT_EQ(test::SignalStrings(draft_), signals);
        EXPECT_EQ(test::SpecialDefinitions(draft_), definitions);
    }

    test::FakeDialogNotifier notifier_;
    test::ScriptedEditors editors_;
    test::CountingHost host_;
    RelaySettings live_;
    RelaySettings draft_;
    DialogContext context_;
    test::PageParent parent_;
    std::unique_ptr<SpecialKludgesPage> page_;
    HWND window_ = nullptr;
};

TEST_F(SpecialKludgesPageTest, ShowsSignalSeparatorAndNameWithoutImages) {
    live_.SpecialKludges =
        PairSpecialKludges({"[list]", "", "odd"}, {"# X-Topic:", "  X-Blank:", ""});
    Open();
    EXPECT_EQ(test::ColumnTitle(List(), 0), "Signal string");
    EXPECT_EQ(test::ColumnTitle(List(), 1), "Separator");
    EXPECT_EQ(test::ColumnTitle(List(), 2), "New kludge name");
    ASSERT_EQ(test::RowCount(List()), 3);
    const char* signals[] = {"[list]", "", "odd"};
    const char* separators[] = {"#", " ", ""};
    const char* names[] = {"X-Topic:", "X-Blank:", ""};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(test::CellText(List(), row, 0), signals[row]);
        EXPECT_EQ(test::CellText(List(), row, 1), separators[row]);
        EXPECT_EQ(test::CellText(List(), row, 2), names[row]);
    }
    EXPECT_EQ(test::RowImage(List(), 0), I_IMAGENONE);
    EXPECT_EQ(test::RequestCellText(window_, SpecialKludgesPage::kList, 0, 2, 4), "X-T");
}

TEST_F(SpecialKludgesPageTest, EveryAddEditAndDeleteReachesTheLiveListsAtOnce) {
    live_.SpecialKludges = PairSpecialKludges({"[old]"}, {"$ X-Old:"});
    Open();

    editors_.acts = {Type("[list]", "%%%", "X-Topic")};
    Notify(NM_RCLICK);
    ExpectLive({"[old]", "[list]"}, {"$ X-Old:", "% X-Topic:"});
    EXPECT_EQ(test::CellText(List(), 1, 0), "[list]");

    test::FocusRow(List(), 0);
    editors_.acts.push_back(Type("[new]", "#", "X:New"));
    Notify(NM_DBLCLK);
    ExpectLive({"[new]", "[list]"}, {"# X:New", "% X-Topic:"});
    ASSERT_EQ(test::RowCount(List()), 2);
    EXPECT_EQ(test::CellText(List(), 0, 0), "[new]");

    notifier_.answer = false;
    test::PressListKey(window_, SpecialKludgesPage::kList, VK_DELETE);
    EXPECT_EQ(notifier_.questions.size(), 1u);
    ExpectLive({"[new]", "[list]"}, {"# X:New", "% X-Topic:"});

    notifier_.answer = true;
    test::PressListKey(window_, SpecialKludgesPage::kList, VK_DELETE);
    EXPECT_EQ(notifier_.questions.back(), "Are you sure you want to delete this item?");
    EXPECT_EQ(notifier_.askers, (std::vector<HWND>{window_, window_}));
    ExpectLive({"[list]"}, {"% X-Topic:"});
    EXPECT_EQ(test::RowCount(List()), 1);

    editors_.acts.push_back([](HWND editor) { test::Click(editor, IDCANCEL); });
    Notify(NM_RCLICK);
    EXPECT_EQ(editors_.ran, 3);
    ExpectLive({"[list]"}, {"% X-Topic:"});
}

TEST_F(SpecialKludgesPageTest, EditingShowsTheDefinitionAndOkWritesItBackUnchanged) {
    live_.SpecialKludges = PairSpecialKludges({"[list]", "x"}, {"  X-Topic:", "# Y:"});
    Open();
    test::FocusRow(List(), 0);
    editors_.acts = {[](HWND editor) {
        EXPECT_EQ(GetItemText(editor, Editor::kSignalEdit), "[list]");
        EXPECT_EQ(GetItemText(editor, Editor::kSeparatorEdit), " ");
        EXPECT_EQ(GetItemText(editor, Editor::kNameEdit), "X-Topic:");
        test::ClickOkToClose(editor);
    }};
    live_.SpecialKludges.clear();  // the page writes its whole list, not just the edited entry
    Notify(NM_DBLCLK);
    EXPECT_EQ(editors_.ran, 1);
    ExpectLive({"[list]", "x"}, {"  X-Topic:", "# Y:"});
}

TEST_F(SpecialKludgesPageTest, TheEditorRefusesAnEmptySeparatorOrABlankInTheName) {
    Open();
    editors_.acts = {[this](HWND editor) {
        EXPECT_EQ(GetItemText(editor, Editor::kSeparatorEdit), "#");
        SetItemText(editor, Editor::kSeparatorEdit, "");
        SetItemText(editor, Editor::kNameEdit, "X-Topic");
        test::Click(editor, IDOK);
        EXPECT_TRUE(IsWindowVisible(editor)) << "no separator: the dialog stays";
        EXPECT_EQ(notifier_.messages.back(), Editor::kEnterSeparatorText);

        SetItemText(editor, Editor::kSeparatorEdit, "|");
        SetItemText(editor, Editor::kNameEdit, "X Topic");
        test::Click(editor, IDOK);
        EXPECT_TRUE(IsWindowVisible(editor)) << "blank in the name: the dialog stays";
        EXPECT_EQ(notifier_.messages.back(), Editor::kNameBlankText);
        EXPECT_EQ(notifier_.askers, (std::vector<HWND>{editor, editor}));

        SetItemText(editor, Editor::kNameEdit, "X-Topic");
        test::ClickOkToClose(editor);
    }};
    Notify(NM_RCLICK);
    EXPECT_EQ(notifier_.messages.size(), 2u);
    ExpectLive({""}, {"| X-Topic:"});
}

TEST_F(SpecialKludgesPageTest, TheKludgeEditorOffersASpecialKludgeAddedMeanwhile) {
    Open();
    editors_.acts = {Type("[list]", "#", "X-Topic:")};
    Notify(NM_RCLICK);

    RelaySettings kludgesDraft;
    KludgesPage kludges(context_, host_, kludgesDraft, live_.SpecialKludges);
    test::PageParent kludgesParent;
    HWND kludgesWindow = kludgesParent.Open(kludges);
    editors_.acts.push_back([](HWND editor) {
        SetItemText(editor, SetKludgeDialog::kKludgeEdit, "Subject:");
        test::Click(editor, SetKludgeDialog::kSpecialRadio);
        SendDlgItemMessageA(editor, SetKludgeDialog::kSignalCombo, CB_SETCURSEL, 0, 0);
        test::ClickOkToClose(editor);
    });
    test::NotifyList(kludgesWindow, KludgesPage::kList, NM_RCLICK);
    EXPECT_EQ(test::SubstEntries(kludgesDraft), (StringList{"3 [list]"}));
}

TEST_F(SpecialKludgesPageTest, TheHiddenOperationTimeoutIsReadBackWithinZeroToSixty) {
    SpecialKludgesPage& page = Open();
    HWND edit = GetDlgItem(window_, SpecialKludgesPage::kTimeoutEdit);
    EXPECT_FALSE(IsWindowVisible(edit));
    EXPECT_EQ(GetItemText(window_, SpecialKludgesPage::kTimeoutEdit), "30");

    SetItemText(window_, SpecialKludgesPage::kTimeoutEdit, "60");
    EXPECT_TRUE(page.ReadBack());
    EXPECT_EQ(page.operationTimeout, 60);

    SetItemText(window_, SpecialKludgesPage::kTimeoutEdit, "soon");
    EXPECT_FALSE(page.ReadBack());
    EXPECT_EQ(notifier_.messages.back(), "Please enter an integer.");
    EXPECT_EQ(page.operationTimeout, 60);

    // Refused, yet what was entered is kept, as for every range-checked field.
    SetItemText(window_, SpecialKludgesPage::kTimeoutEdit, "61");
    EXPECT_FALSE(page.ReadBack());
    EXPECT_EQ(notifier_.messages.back(), "Please enter an integer between 0 and 60.");
    EXPECT_EQ(page.operationTimeout, 61);

    page.operationTimeout = 12;
    page.LoadControls();
    EXPECT_EQ(GetItemText(window_, SpecialKludgesPage::kTimeoutEdit), "12");
}

}  // namespace
}  // namespace vantel
