// The Servers tab of the Options dialog: lists the server entries and edits the live list in
// place, so every change holds at once, whichever way the Options dialog ends.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/config/ServerEntry.h"
#include "tray/dialogs/DialogContext.h"
#include "tray/dialogs/ListPage.h"

namespace vantel {

class ServersPage : public ListPage {
  public:
    static constexpr int kServerListView = 1010;

    ServersPage(const DialogContext& context, OptionsPageHost& host,
                std::vector<ServerEntry>& liveServerList);

    /// Refills the list view from the live list (which is the page's only data).
    void LoadControls() override;
    /// Nothing to read: every edit has already gone to the live list.
    bool ReadBack() override { return true; }

  protected:
    bool OnInitDialog() override;
    void Add() override;
    void Edit() override;
    void Delete() override;
    std::string CellText(int row, int column) override;

  private:
    int FocusedItem() const;

    DialogContext context_;
    std::vector<ServerEntry>& servers_;
};

}  // namespace vantel
