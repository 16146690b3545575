// The editor of one special kludge: the signal string that triggers it, the separator that
// encloses the value, and the name of the header line it builds.
#pragma once

#include <string>

#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"

namespace vantel {

class SpecialKludgeDialog : public Dialog {
  public:
    static constexpr int kSignalEdit = 1015;
    static constexpr int kSeparatorEdit = 1016;
    static constexpr int kNameEdit = 1017;
    /// Shown when OK is pressed with an empty separator field.
    static constexpr const char* kEnterSeparatorText = "Please enter a separator character.";
    /// Shown when OK is pressed with a blank in the kludge name.
    static constexpr const char* kNameBlankText = "The kludge name cannot contain blanks.";

    explicit SpecialKludgeDialog(const DialogContext& context);

    std::string signalString;
    std::string separator = "#";  ///< only its first character is stored
    std::string kludgeName;

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void Refuse(int id, const char* text);

    DialogNotifier* notifier_;
};

}  // namespace vantel
