// Where the tray program's windows open: the Options dialog and the About box in the middle
// of the work area of the screen with the taskbar, editors and message boxes over the window
// they belong to.
#pragma once

#include <windows.h>

namespace vantel {

/// The work area of the monitor that shows the taskbar (the primary monitor without one).
RECT TrayWorkArea();
/// The work area of the monitor nearest to `window`.
RECT WorkAreaOf(HWND window);
/// `rect` moved so that its centre is the centre of `over`, then moved back inside `bounds`;
/// when it is larger than `bounds`, its top-left corner is that of `bounds` (the caption
/// stays on screen).
RECT CentredRect(const RECT& rect, const RECT& over, const RECT& bounds);
/// Moves `window` (size unchanged) to the middle of `area`, inside it.
void CentreInArea(HWND window, const RECT& area);
/// Moves `window` over the middle of its owner, inside the owner's work area. A window
/// without a visible owner stays where it is.
void CentreOnOwner(HWND window);

}  // namespace vantel
