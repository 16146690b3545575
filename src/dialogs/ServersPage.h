// The Servers tab of the Options dialog: lists the server entries and edits the live list in
// place, so every change holds at once, whichever way the Options dialog ends.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <vector>

#include "core/config/ServerEntry.h"
#include "dialogs/DialogContext.h"
#include "dialogs/OptionsPage.h"

namespace vantel {

class ServersPage : public OptionsPage {
  public:
    static constexpr int kServerListView = 1010;

    ServersPage(const DialogContext& context, OptionsPageHost& host,
                std::vector<ServerEntry>& liveServerList);

    /// Refills the list view from the live list (which is the page's only data).
    void LoadControls() override;
    /// Nothing to read: every edit has already gone to the live list.
    bool ReadBack() override { return true; }

    /// The "PassData%d" number for an entry getting its first login: the tick count, moved on
    /// past -1 (none) and past numbers other entries of `servers` already use, so that no two
    /// logins share one stored value.
    static int ChoosePassDataIndex(const std::vector<ServerEntry>& servers, std::uint32_t tick);

  protected:
    bool OnInitDialog() override;
    LRESULT OnNotify(NMHDR& header, bool& handled) override;

  private:
    HWND ListView() const { return Item(kServerListView); }
    void InsertItem(int index, const ServerEntry& entry);
    int FocusedItem() const;
    void ShowDisplayText(NMLVDISPINFOA& info) const;
    void EditFocused();
    void AddEntry();
    void DeleteFocused(WORD key);

    DialogContext context_;
    std::vector<ServerEntry>& servers_;
};

}  // namespace vantel
