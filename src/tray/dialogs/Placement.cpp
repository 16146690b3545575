#include "tray/dialogs/Placement.h"

#include <algorithm>

namespace vantel {
namespace {

RECT WorkAreaOfMonitor(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor != nullptr && GetMonitorInfoA(monitor, &info)) {
        return info.rcWork;
    }
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

/// `start` moved so that [start, start + length) lies in [low, high), or starts at `low` when
/// it cannot.
LONG Clamp(LONG start, LONG length, LONG low, LONG high) {
    return std::max(low, std::min(start, high - length));
}

void MoveTo(HWND window, const RECT& rect) {
    SetWindowPos(window, nullptr, rect.left, rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

RECT TrayWorkArea() {
    if (HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr)) {
        return WorkAreaOfMonitor(MonitorFromWindow(taskbar, MONITOR_DEFAULTTOPRIMARY));
    }
    return WorkAreaOfMonitor(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
}

RECT WorkAreaOf(HWND window) {
    return WorkAreaOfMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
}

RECT CentredRect(const RECT& rect, const RECT& over, const RECT& bounds) {
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    const LONG left = over.left + ((over.right - over.left) - width) / 2;
    const LONG top = over.top + ((over.bottom - over.top) - height) / 2;
    RECT placed{};
    placed.left = Clamp(left, width, bounds.left, bounds.right);
    placed.top = Clamp(top, height, bounds.top, bounds.bottom);
    placed.right = placed.left + width;
    placed.bottom = placed.top + height;
    return placed;
}

void CentreInArea(HWND window, const RECT& area) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MoveTo(window, CentredRect(rect, area, area));
}

void CentreOnOwner(HWND window) {
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner == nullptr || !IsWindowVisible(owner)) {
        return;
    }
    RECT rect{};
    RECT over{};
    GetWindowRect(window, &rect);
    GetWindowRect(owner, &over);
    MoveTo(window, CentredRect(rect, over, WorkAreaOf(owner)));
}

}  // namespace vantel
