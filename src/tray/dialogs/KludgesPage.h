// The Kludges page of the Options dialog: lists the kludges; a right click adds one, a double
// click edits, the Delete key removes. It edits the Options dialog's draft of the settings.
#pragma once

#include <vector>

#include "core/config/RelaySettings.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/ListPage.h"

namespace vantel {

class KludgesPage : public ListPage {
  public:
    static constexpr int kList = 1001;

    /// The page edits `draft.Kludges`. The kludge editor offers `liveSpecials`, the live
    /// list, which the Special page keeps current while the Options dialog is open.
    KludgesPage(const DialogContext& context, OptionsPageHost& host, RelaySettings& draft,
                const std::vector<SpecialKludgeRecord>& liveSpecials);

    void LoadControls() override;
    bool ReadBack() override { return true; }  // the draft is kept current while editing

  protected:
    bool OnInitDialog() override;
    void Add() override;
    void Edit() override;
    void Delete() override;
    std::string CellText(int row, int column) override;

  private:
    DialogContext context_;
    RelaySettings& draft_;
    const std::vector<SpecialKludgeRecord>& liveSpecials_;
};

}  // namespace vantel
