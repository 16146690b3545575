#include "tray/dialogs/SpecialKludgesPage.h"

#include <string>

#include "core/config/SettingsEdits.h"
#include "core/config/StoredKludges.h"
#include "tray/ResourceStrings.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/ListViewRows.h"
#include "tray/dialogs/SpecialKludgeDialog.h"
#include "tray/resource.h"

namespace vantel {
namespace {

constexpr int kColumnCount = 3;

/// The special kludge the editor's fields give once saved and loaded again, so the page
/// shows what the relay will use.
SpecialKludgeRecord EditedSpecialKludge(const SpecialKludgeDialog& editor) {
    return ReadSpecialKludge(editor.signalString,
                             FormatSpecialDefinition(editor.separator, editor.kludgeName));
}

}  // namespace

SpecialKludgesPage::SpecialKludgesPage(const DialogContext& context, OptionsPageHost& host,
                                       RelaySettings& draft, RelaySettings& live)
    : ListPage(context.instance, IDD_SPECIAL_KLUDGES_PAGE, host, *context.notifier, kList),
      context_(context),
      draft_(draft),
      live_(live) {}

bool SpecialKludgesPage::OnInitDialog() {
    AddListColumn(List(), 0, LoadResourceString(IDS_COLUMN_SIGNAL), 100);
    AddListColumn(List(), 1, LoadResourceString(IDS_COLUMN_SEPARATOR), 80);
    AddListColumn(List(), 2, LoadResourceString(IDS_COLUMN_NEW_NAME), 120);
    LoadControls();
    return true;
}

void SpecialKludgesPage::LoadControls() {
    ClearListRows(List());
    const std::vector<SpecialKludgeRecord>& specials = draft_.SpecialKludges;
    for (std::size_t i = 0; i < specials.size(); ++i) {
        InsertListRow(List(), static_cast<int>(i), specials[i].signal, kNoRowImage, kColumnCount);
    }
    SetItemInt(window(), kTimeoutEdit, operationTimeout);
}

bool SpecialKludgesPage::ReadBack() {
    int value = operationTimeout;
    if (!ReadItemInt(window(), kTimeoutEdit, value, notifier())) {
        return false;
    }
    // Kept as typed even when refused: the field goes on showing it to be corrected.
    operationTimeout = value;
    return CheckItemRange(window(), kTimeoutEdit, value, kMinTimeout, kMaxTimeout, notifier());
}

std::string SpecialKludgesPage::CellText(int row, int column) {
    SpecialKludgeRecord definition;
    if (row >= 0 && static_cast<std::size_t>(row) < draft_.SpecialKludges.size()) {
        definition = draft_.SpecialKludges[static_cast<std::size_t>(row)];
    }
    if (column == 1) {
        return definition.separator;
    }
    if (column == 2) {
        return definition.kludgeName;
    }
    return "N/A";
}

void SpecialKludgesPage::Add() {
    SpecialKludgeDialog editor(context_);
    if (context_.runModal(editor, window()) != IDOK) {
        return;
    }
    const std::size_t n = SettingsEdits::AddSpecialKludge(draft_, EditedSpecialKludge(editor));
    InsertListRow(List(), static_cast<int>(n), editor.signalString, kNoRowImage, kColumnCount);
    WriteLive();
}

void SpecialKludgesPage::Edit() {
    const int row = FocusedListRow(List());
    if (row < 0 || static_cast<std::size_t>(row) >= draft_.SpecialKludges.size()) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(row);
    SpecialKludgeDialog editor(context_);
    const SpecialKludgeRecord& definition = draft_.SpecialKludges[n];
    editor.signalString = definition.signal;
    if (!definition.separator.empty()) {
        editor.separator = definition.separator;
    }
    editor.kludgeName = definition.kludgeName;
    if (context_.runModal(editor, window()) != IDOK) {
        return;
    }
    if (!SettingsEdits::EditSpecialKludge(draft_, n, EditedSpecialKludge(editor))) {
        return;
    }
    SetListRow(List(), row, editor.signalString, kNoRowImage);
    WriteLive();
}

void SpecialKludgesPage::Delete() {
    const int row = FocusedListRow(List());
    if (row < 0 || static_cast<std::size_t>(row) >= draft_.SpecialKludges.size()) {
        return;
    }
    if (!notifier().AskOkCancel(window(), LoadResourceString(IDS_CONFIRM_DELETE))) {
        return;
    }
    if (!SettingsEdits::RemoveSpecialKludge(draft_, static_cast<std::size_t>(row))) {
        return;
    }
    DeleteListRow(List(), row);
    WriteLive();
}

void SpecialKludgesPage::WriteLive() {
    if (&live_ != &draft_) {
        live_.SpecialKludges = draft_.SpecialKludges;
    }
}

}  // namespace vantel
