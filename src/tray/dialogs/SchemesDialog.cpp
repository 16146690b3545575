#include "tray/dialogs/SchemesDialog.h"

#include <vector>

#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {
namespace {

std::string ComboItemText(HWND combo, int index) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) {
        return {};
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    const LRESULT copied = SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text.data()));
    return copied == CB_ERR ? std::string() : std::string(text.data());
}

}  // namespace

SchemesDialog::SchemesDialog(const DialogContext& context, RelaySettings& settings,
                             SchemaManager& schemas)
    : Dialog(context.instance, IDD_SCHEMES), settings_(settings), schemas_(schemas) {}

bool SchemesDialog::OnInitDialog() {
    CentreOnOwner(window());
    HWND combo = Item(kNameCombo);
    SendMessageA(combo, CB_LIMITTEXT, SchemaManager::kMaxSchemaName, 0);
    for (const std::string& name : settings_.Schemes) {
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    SetItemText(window(), kNameCombo, schemaName_);
    return true;
}

bool SchemesDialog::OnCommand(UINT id, UINT code, HWND control) {
    (void)control;
    if (code != BN_CLICKED) {
        return false;
    }
    if (id == kSaveButton) {
        Save();
        return true;
    }
    if (id == kDeleteButton) {
        Delete();
        return true;
    }
    return false;
}

void SchemesDialog::ReadControls() {
    schemaName_ = GetItemText(window(), kNameCombo);
}

void SchemesDialog::Save() {
    ReadControls();
    // A new name is listed from the next opening on; the list stays as it was opened.
    schemas_.SaveSchemaAs(schemaName_);
}

void SchemesDialog::Delete() {
    ReadControls();
    schemas_.DeleteSchema(schemaName_, [this] { ForgetListedName(); });
}

void SchemesDialog::ForgetListedName() {
    HWND combo = Item(kNameCombo);
    // The entry naming the deleted schema goes, whether it was picked from the list or typed;
    // the selection alone could name another schema once the user has typed over it.
    const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        if (ComboItemText(combo, i) == schemaName_) {
            SendMessageA(combo, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
            break;
        }
    }
    if (SendMessageA(combo, CB_GETCOUNT, 0, 0) <= 0) {
        SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    }
    SetItemText(window(), kNameCombo, "");
}

}  // namespace vantel
