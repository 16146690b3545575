#include "tray/dialogs/SetKludgeDialog.h"

#include <commdlg.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "core/config/StoredKludges.h"
#include "core/rewrite/KludgeTypes.h"
#include "tray/dialogs/DialogData.h"
#include "tray/dialogs/Placement.h"
#include "tray/resource.h"

namespace vantel {
namespace {

// The action radio buttons in KludgeAction order.
constexpr int kActionRadios[] = {SetKludgeDialog::kChangeToRadio, SetKludgeDialog::kDeleteRadio,
                                 SetKludgeDialog::kFileRadio, SetKludgeDialog::kSpecialRadio};

constexpr int kTakeFromFile = static_cast<int>(KludgeAction::TakeFromFile);
constexpr int kSpecialKludge = static_cast<int>(KludgeAction::SpecialKludge);

}  // namespace

SetKludgeDialog::SetKludgeDialog(const DialogContext& context,
                                 const std::vector<SpecialKludgeRecord>& liveSpecials)
    : Dialog(context.instance, IDD_SET_KLUDGE),
      notifier_(context.notifier),
      signalSource_(liveSpecials) {}

bool SetKludgeDialog::OnInitDialog() {
    CentreOnOwner(window());
    SendDlgItemMessageA(window(), kKludgeEdit, EM_LIMITTEXT, kMaxTextLength, 0);
    SendDlgItemMessageA(window(), kChangeToEdit, EM_LIMITTEXT, kMaxTextLength, 0);
    for (const SpecialKludgeRecord& special : signalSource_) {
        SendDlgItemMessageA(window(), kSignalCombo, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(special.signal.c_str()));
    }
    if (action == kTakeFromFile) {
        filePath = changeToText;
        changeToText.clear();
    }
    if (action == kSpecialKludge) {
        signalChoice = changeToText;
        changeToText.clear();
        // The exact entry first: the combo box's own search ignores case, and two signal
        // strings may differ in case only.
        signalIndex_ = FindSpecialKludge(signalSource_, signalChoice);
        if (signalIndex_ < 0) {
            signalIndex_ = static_cast<int>(SendDlgItemMessageA(
                window(), kSignalCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                reinterpret_cast<LPARAM>(signalChoice.c_str())));
        }
    }
    LoadControls();
    return true;
}

bool SetKludgeDialog::OnCommand(UINT id, UINT code, HWND control) {
    (void)control;
    if (id != kBrowseButton || code != BN_CLICKED) {
        return false;
    }
    ReadControls();
    std::string path;
    if (ChooseFile(path)) {
        filePath = path;
        LoadControls();
    }
    return true;
}

void SetKludgeDialog::OnOK() {
    ReadControls();
    if (action == kTakeFromFile) {
        if (filePath.empty()) {
            return;
        }
        changeToText = filePath;
    } else if (action == kSpecialKludge) {
        // A special kludge without its signal string would name none and never act.
        if (signalIndex_ < 0) {
            if (notifier_ != nullptr) {
                notifier_->ShowMessage(window(), kChooseSignalText);
            }
            SetFocus(Item(kSignalCombo));
            return;
        }
        changeToText = signalChoice;
    }
    if (!kludgeText.empty() && kludgeText.find(':') == std::string::npos) {
        kludgeText += ':';
    }
    LoadControls();
    EndDialog(IDOK);
}

bool SetKludgeDialog::ChooseFile(std::string& path) {
    std::vector<char> file(MAX_PATH * 4, '\0');
    const char initial[] = "*.txt";
    std::copy(std::begin(initial), std::end(initial), file.begin());
    OPENFILENAMEA request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = window();
    request.lpstrFilter = "Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
    request.nFilterIndex = 1;
    request.lpstrFile = file.data();
    request.nMaxFile = static_cast<DWORD>(file.size());
    request.lpstrDefExt = "txt";
    // The relay opens kludge files by full path; the working directory stays as it was.
    request.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&request)) {
        return false;
    }
    path = file.data();
    return true;
}

void SetKludgeDialog::LoadControls() {
    SetItemText(window(), kKludgeEdit, kludgeText);
    SetItemText(window(), kChangeToEdit, changeToText);
    for (int i = 0; i < 4; ++i) {
        CheckItem(window(), kActionRadios[i], action == i);
    }
    SetItemText(window(), kFileEdit, filePath);
    SendDlgItemMessageA(window(), kSignalCombo, CB_SETCURSEL, static_cast<WPARAM>(signalIndex_), 0);
    CheckItem(window(), kSmtpRadio, kludgeType == static_cast<int>(KludgeType::SmtpKludge));
    CheckItem(window(), kPop3Radio, kludgeType == static_cast<int>(KludgeType::Pop3Kludge));
}

void SetKludgeDialog::ReadControls() {
    kludgeText = GetItemText(window(), kKludgeEdit);
    changeToText = GetItemText(window(), kChangeToEdit);
    for (int i = 0; i < 4; ++i) {
        if (IsItemChecked(window(), kActionRadios[i])) {
            action = i;
        }
    }
    filePath = GetItemText(window(), kFileEdit);
    signalIndex_ =
        static_cast<int>(SendDlgItemMessageA(window(), kSignalCombo, CB_GETCURSEL, 0, 0));
    signalChoice.clear();
    if (signalIndex_ >= 0) {
        const LRESULT length =
            SendDlgItemMessageA(window(), kSignalCombo, CB_GETLBTEXTLEN, signalIndex_, 0);
        if (length >= 0) {
            std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
            SendDlgItemMessageA(window(), kSignalCombo, CB_GETLBTEXT, signalIndex_,
                                reinterpret_cast<LPARAM>(text.data()));
            signalChoice = text.data();
        }
    }
    if (IsItemChecked(window(), kSmtpRadio)) {
        kludgeType = static_cast<int>(KludgeType::SmtpKludge);
    } else if (IsItemChecked(window(), kPop3Radio)) {
        kludgeType = static_cast<int>(KludgeType::Pop3Kludge);
    }
}

}  // namespace vantel
