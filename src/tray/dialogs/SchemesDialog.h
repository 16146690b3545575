// Saves the settings in use under a schema name, and deletes named schemas.
#pragma once

#include <string>

#include "core/app/SchemaManager.h"
#include "core/config/RelaySettings.h"
#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogContext.h"

namespace vantel {

class SchemesDialog : public Dialog {
  public:
    static constexpr int kNameCombo = 1021;
    static constexpr int kSaveButton = 3;
    static constexpr int kDeleteButton = 4;

    SchemesDialog(const DialogContext& context, RelaySettings& settings, SchemaManager& schemas);

  protected:
    bool OnInitDialog() override;
    bool OnCommand(UINT id, UINT code, HWND control) override;

  private:
    void ReadControls();
    void Save();
    void Delete();
    /// Takes the deleted schema off the combo box's list and clears the typed name.
    void ForgetListedName();

    RelaySettings& settings_;
    SchemaManager& schemas_;
    std::string schemaName_;  ///< The combo box's text, as last read.
};

}  // namespace vantel
