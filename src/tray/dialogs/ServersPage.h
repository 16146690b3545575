// The Servers tab of the Options dialog: lists the server entries and edits the Options
// dialog's draft, copying the list to the live settings after every change, so every change
// holds at once, whichever way the Options dialog ends.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/config/RelaySettings.h"
#include "core/config/ServerEntry.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/ListPage.h"

namespace vantel {

class ServersPage : public ListPage {
  public:
    static constexpr int kServerListView = 1010;

    /// The page edits `draft.ServerList` and copies it to `live` after every change.
    ServersPage(const DialogContext& context, OptionsPageHost& host, RelaySettings& draft,
                RelaySettings& live);

    /// Refills the list view from the draft's list (which is the page's only data).
    void LoadControls() override;
    /// Nothing to read: every edit has already gone to the draft and the live list.
    bool ReadBack() override { return true; }

  protected:
    bool OnInitDialog() override;
    void Add() override;
    void Edit() override;
    void Delete() override;
    std::string CellText(int row, int column) override;

  private:
    int FocusedItem() const;
    /// The live list becomes a copy of the draft's.
    void WriteLive();

    DialogContext context_;
    std::vector<ServerEntry>& servers_;
    RelaySettings& draft_;
    RelaySettings& live_;
};

}  // namespace vantel
