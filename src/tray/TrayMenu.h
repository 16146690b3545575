// The tray icon's popup menu, built from menu resource 132 for the settings in use.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/config/RelaySettings.h"

namespace vantel {

/// What the menu shows besides the settings.
struct TrayMenuState {
    bool relayEnabled = false;
    bool isNT = false;
    bool serviceRunning = false;
    /// Accounts that must be signed in again, each offered as "Sign in to ACCOUNT..." at the
    /// top of the menu, numbered from ID_SIGN_IN_FIRST.
    std::vector<std::string> signInAccounts;
};

/// Owns the loaded menu; popup() is the menu to track.
class TrayMenu {
  public:
    /// Loads menu 132 from `instance` and fills it.
    TrayMenu(HINSTANCE instance, const RelaySettings& settings, const TrayMenuState& state);
    ~TrayMenu();
    TrayMenu(const TrayMenu&) = delete;
    TrayMenu& operator=(const TrayMenu&) = delete;

    /// Null when the resource could not be loaded.
    HMENU popup() const { return popup_; }

    /// Appends one item per name to `submenu`, numbered from `firstId`, and checks the
    /// current one. With `placeholder` the submenu's first item is a "none" stand-in that
    /// names take the place of and `current` counts from 0; without it the first item stays
    /// and `current` counts from 1. Ids past `lastId` would run into another command range:
    /// those items are shown greyed.
    static void FillServerSubmenu(HMENU submenu, const StringList& names, int current, UINT firstId,
                                  UINT lastId, bool placeholder);

  private:
    HMENU menu_ = nullptr;
    HMENU popup_ = nullptr;
};

}  // namespace vantel
