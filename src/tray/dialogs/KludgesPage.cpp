#include "tray/dialogs/KludgesPage.h"

#include <string>

#include "core/config/DecimalText.h"
#include "core/config/SettingsEdits.h"
#include "core/config/StoredKludges.h"
#include "tray/ResourceStrings.h"
#include "tray/dialogs/ListViewRows.h"
#include "tray/dialogs/SetKludgeDialog.h"
#include "tray/dialogs/TypeImages.h"
#include "tray/resource.h"

namespace vantel {
namespace {

constexpr int kColumnCount = 3;

/// An entry of either stored list as string 112 ("%d %s") lays it out: the number, the text.
std::string FormatEntry(int number, const std::string& text) {
    std::string entry = LoadResourceString(IDS_ENTRY_FORMAT);
    // The user's text goes in last, so that a "%s" in it is never taken for the field.
    if (const std::size_t field = entry.find("%d"); field != std::string::npos) {
        entry.replace(field, 2, FormatDecimal(number));
    }
    if (const std::size_t field = entry.find("%s"); field != std::string::npos) {
        entry.replace(field, 2, text);
    }
    return entry;
}

std::string ActionTitle(int action) {
    switch (action) {
        case 0:
            return LoadResourceString(IDS_ACTION_CHANGE);
        case 1:
            return LoadResourceString(IDS_ACTION_DELETE);
        case 2:
            return LoadResourceString(IDS_ACTION_FILE);
        case 3:
            return LoadResourceString(IDS_ACTION_SPECIAL);
        default:
            return {};
    }
}

/// The image of a kludge type; a negative number (which would ask the page for the image)
/// shows none.
int TypeImage(int type) {
    return type >= 0 ? type : kNoRowImage;
}

/// The kludge the editor's fields make: what their stored entries read as, so a name typed
/// with blanks keeps its first word.
KludgeRecord EditedKludge(const SetKludgeDialog& editor) {
    return ReadKludge(FormatEntry(editor.kludgeType, editor.kludgeText),
                      FormatEntry(editor.action, editor.changeToText));
}

}  // namespace

KludgesPage::KludgesPage(const DialogContext& context, OptionsPageHost& host, RelaySettings& draft,
                         const std::vector<SpecialKludgeRecord>& liveSpecials)
    : ListPage(context.instance, IDD_KLUDGES_PAGE, host, *context.notifier, kList),
      context_(context),
      draft_(draft),
      liveSpecials_(liveSpecials) {}

bool KludgesPage::OnInitDialog() {
    AddListColumn(List(), 0, LoadResourceString(IDS_COLUMN_KLUDGE), 100);
    AddListColumn(List(), 1, LoadResourceString(IDS_COLUMN_ACTION), 90);
    AddListColumn(List(), 2, LoadResourceString(IDS_COLUMN_SUBSTITUTION), 250);
    // The list view owns the image list from here on and destroys it with itself.
    SendMessageA(List(), LVM_SETIMAGELIST, LVSIL_SMALL,
                 reinterpret_cast<LPARAM>(CreateTypeImageList(instance())));
    LoadControls();
    return true;
}

void KludgesPage::LoadControls() {
    ClearListRows(List());
    for (std::size_t i = 0; i < draft_.Kludges.size(); ++i) {
        InsertListRow(List(), static_cast<int>(i), draft_.Kludges[i].headerName,
                      TypeImage(draft_.Kludges[i].type), kColumnCount);
    }
}

std::string KludgesPage::CellText(int row, int column) {
    if (row < 0 || static_cast<std::size_t>(row) >= draft_.Kludges.size()) {
        return {};
    }
    const KludgeRecord& entry = draft_.Kludges[static_cast<std::size_t>(row)];
    if (column == 1) {
        return ActionTitle(entry.action);
    }
    if (column == 2) {
        return entry.text;
    }
    return {};
}

void KludgesPage::Add() {
    SetKludgeDialog editor(context_, liveSpecials_);
    if (context_.runModal(editor, window()) != IDOK || editor.kludgeText.empty()) {
        return;
    }
    const std::size_t n = SettingsEdits::AddKludge(draft_, EditedKludge(editor));
    InsertListRow(List(), static_cast<int>(n), editor.kludgeText, TypeImage(editor.kludgeType),
                  kColumnCount);
}

void KludgesPage::Edit() {
    const int row = FocusedListRow(List());
    if (row < 0 || static_cast<std::size_t>(row) >= draft_.Kludges.size()) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(row);
    SetKludgeDialog editor(context_, liveSpecials_);
    const KludgeRecord& kludge = draft_.Kludges[n];
    editor.action = kludge.action;
    editor.changeToText = kludge.text;
    editor.kludgeType = kludge.type;
    editor.kludgeText = kludge.headerName;
    if (context_.runModal(editor, window()) != IDOK || editor.kludgeText.empty()) {
        return;
    }
    if (!SettingsEdits::EditKludge(draft_, n, EditedKludge(editor))) {
        return;
    }
    SetListRow(List(), row, editor.kludgeText, TypeImage(editor.kludgeType));
}

void KludgesPage::Delete() {
    const int row = FocusedListRow(List());
    if (row < 0 || static_cast<std::size_t>(row) >= draft_.Kludges.size()) {
        return;
    }
    if (!notifier().AskOkCancel(window(), LoadResourceString(IDS_CONFIRM_DELETE))) {
        return;
    }
    if (SettingsEdits::RemoveKludge(draft_, static_cast<std::size_t>(row))) {
        DeleteListRow(List(), row);
    }
}

}  // namespace vantel
