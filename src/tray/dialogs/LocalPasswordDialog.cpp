#include "tray/dialogs/LocalPasswordDialog.h"

#include <cstring>

#include "platform/EscapedText.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {

LocalPasswordDialog::LocalPasswordDialog(const DialogContext& context)
    : Dialog(context.instance, IDD_LOCAL_PASSWORD), notifier_(*context.notifier) {}

LocalPasswordDialog::~LocalPasswordDialog() {
    // Nothing else keeps it: its bytes need not linger in freed memory either.
    volatile char* bytes = localPassword.data();
    for (std::size_t i = 0; i < localPassword.size(); ++i) {
        bytes[i] = 0;
    }
}

bool LocalPasswordDialog::OnInitDialog() {
    CentreOnOwner(window());
    SetItemText(window(), kExplanationText,
                "Your mail program logs in to Vantel as " + OneLine(account) +
                    " with this password. It is shown only this once.");
    SetItemText(window(), kPasswordEdit, localPassword);
    return true;
}

bool LocalPasswordDialog::OnCommand(UINT id, UINT code, HWND control) {
    (void)control;
    if (id != kCopyButton || code != BN_CLICKED) {
        return false;
    }
    if (!CopyToClipboard()) {
        notifier_.ShowMessage(window(), "Unable to copy the password to the clipboard.");
    }
    return true;
}

bool LocalPasswordDialog::CopyToClipboard() {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, localPassword.size() + 1);
    if (memory == nullptr) {
        return false;
    }
    char* text = static_cast<char*>(GlobalLock(memory));
    if (text == nullptr) {
        GlobalFree(memory);
        return false;
    }
    std::memcpy(text, localPassword.c_str(), localPassword.size() + 1);
    GlobalUnlock(memory);
    if (OpenClipboard(window()) == FALSE) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    const bool given = SetClipboardData(CF_TEXT, memory) != nullptr;
    CloseClipboard();
    if (!given) {
        GlobalFree(memory);  // the clipboard owns it only once taken
    }
    return given;
}

}  // namespace vantel
