// Exchanging plain fields with dialog controls, with the checks and messages the user knows
// from Windows dialogs: a field that fails is reported, focused, and the exchange stops.
#pragma once

#include <windows.h>

#include <string>

#include "tray/dialogs/DialogNotifier.h"

namespace vantel {

/// The standard complaints.
inline constexpr const char* kEnterIntegerText = "Please enter an integer.";
/// "%d" placeholders: the lower and the upper bound.
std::string EnterIntegerBetweenText(int low, int high);

std::string GetItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& text);
void SetItemInt(HWND dialog, int id, int value);
/// Reads a whole signed decimal (blanks around it allowed). On anything else: the message,
/// the focus to the control with its text selected, `value` unchanged, false.
bool ReadItemInt(HWND dialog, int id, int& value, DialogNotifier& notifier);
/// After a successful ReadItemInt: checks low <= value <= high, else the range message and
/// the focus as above (the value read stays), false.
bool CheckItemRange(HWND dialog, int id, int value, int low, int high, DialogNotifier& notifier);
bool IsItemChecked(HWND dialog, int id);
void CheckItem(HWND dialog, int id, bool checked);

}  // namespace vantel
