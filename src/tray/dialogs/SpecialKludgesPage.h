// The Special page of the Options dialog: lists the special kludges; a right click adds one,
// a double click edits, the Delete key removes. It edits the Options dialog's draft, and every
// change goes into the live settings at once too, so the kludge editor offers it and the relay
// uses it before the Options dialog ends.
#pragma once

#include "core/config/RelaySettings.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/ListPage.h"

namespace vantel {

class SpecialKludgesPage : public ListPage {
  public:
    static constexpr int kList = 1017;
    static constexpr int kTimeoutEdit = 1019;
    static constexpr int kMinTimeout = 0;
    static constexpr int kMaxTimeout = 60;

    /// The page edits `draft.SpecialKludges` and copies them to `live` after every change.
    SpecialKludgesPage(const DialogContext& context, OptionsPageHost& host, RelaySettings& draft,
                       RelaySettings& live);

    int operationTimeout = 30;  ///< kept in a hidden field, checked to lie in 0..60

    void LoadControls() override;
    bool ReadBack() override;

  protected:
    bool OnInitDialog() override;
    void Add() override;
    void Edit() override;
    void Delete() override;
    std::string CellText(int row, int column) override;

  private:
    /// The live list becomes a copy of the draft's.
    void WriteLive();

    DialogContext context_;
    RelaySettings& draft_;
    RelaySettings& live_;
};

}  // namespace vantel
