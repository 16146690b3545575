#include "tray/dialogs/SpecialKludgeDialog.h"

#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {

SpecialKludgeDialog::SpecialKludgeDialog(const DialogContext& context)
    : Dialog(context.instance, IDD_SPECIAL_KLUDGE), notifier_(context.notifier) {}

bool SpecialKludgeDialog::OnInitDialog() {
    CentreOnOwner(window());
    SetItemText(window(), kSignalEdit, signalString);
    SetItemText(window(), kSeparatorEdit, separator);
    SetItemText(window(), kNameEdit, kludgeName);
    return true;
}

void SpecialKludgeDialog::OnOK() {
    const std::string newSeparator = GetItemText(window(), kSeparatorEdit);
    const std::string newName = GetItemText(window(), kNameEdit);
    // The stored entry is read back as its first character and the text after its last
    // blank: without a separator, or with a blank in the name, it would not read back as
    // typed.
    if (newSeparator.empty()) {
        Refuse(kSeparatorEdit, kEnterSeparatorText);
        return;
    }
    if (newName.find(' ') != std::string::npos) {
        Refuse(kNameEdit, kNameBlankText);
        return;
    }
    signalString = GetItemText(window(), kSignalEdit);
    separator = newSeparator;
    kludgeName = newName;
    if (!kludgeName.empty() && kludgeName.find(':') == std::string::npos) {
        kludgeName += ':';
        SetItemText(window(), kNameEdit, kludgeName);
    }
    EndDialog(IDOK);
}

void SpecialKludgeDialog::Refuse(int id, const char* text) {
    if (notifier_ != nullptr) {
        notifier_->ShowMessage(window(), text);
    }
    SetFocus(Item(id));
}

}  // namespace vantel
