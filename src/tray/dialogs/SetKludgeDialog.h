// The editor of one kludge: its header name, what it does with a matching line, and which
// stream it rewrites.
#pragma once

#include <string>
#include <vector>

#include "core/config/RelaySettings.h"
#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"

namespace vantel {

class SetKludgeDialog : public Dialog {
  public:
    static constexpr int kKludgeEdit = 1003;
    static constexpr int kChangeToEdit = 1004;
    static constexpr int kChangeToRadio = 1005;
    static constexpr int kDeleteRadio = 1006;
    static constexpr int kFileRadio = 1007;
    static constexpr int kFileEdit = 1008;
    static constexpr int kBrowseButton = 1009;
    static constexpr int kSpecialRadio = 1016;
    static constexpr int kSignalCombo = 1017;
    static constexpr int kSmtpRadio = 1022;
    static constexpr int kPop3Radio = 1023;
    /// Room of the kludge and change-to edits.
    static constexpr int kMaxTextLength = 254;
    /// Shown when "S&pecial Kludge" is chosen but no signal string is.
    static constexpr const char* kChooseSignalText =
        "Please choose a signal string for the special kludge.";

    /// `liveSpecials` is the live list, so special kludges defined meanwhile are offered.
    SetKludgeDialog(const DialogContext& context,
                    const std::vector<SpecialKludgeRecord>& liveSpecials);

    std::string kludgeText;    ///< the header name
    std::string changeToText;  ///< the action's text: new text, file path or signal string
    int action = 0;            ///< a KludgeAction number
    std::string filePath;      ///< the file of a TakeFromFile kludge, while editing
    std::string signalChoice;  ///< the signal string chosen in the combo box
    int kludgeType = 0;        ///< a KludgeType number

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;
    void OnOK() override;
    /// Asks the user for a text file; false when the user gave none.
    virtual bool ChooseFile(std::string& path);

  private:
    void LoadControls();
    void ReadControls();

    DialogNotifier* notifier_;
    const std::vector<SpecialKludgeRecord>& signalSource_;
    /// Combo position of the chosen signal string, -1 for none; kept apart from its text,
    /// since an empty signal string is a valid choice.
    int signalIndex_ = -1;
};

}  // namespace vantel
