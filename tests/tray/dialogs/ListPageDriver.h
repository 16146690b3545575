// Drives an Options page with a list view as the user and the list view would: the page
// lives under a hidden window, and the list's notifications are sent to the page.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "tray/dialogs/OptionsPage.h"

namespace vantel::test {

/// A hidden top-level window holding one page.
class PageParent {
  public:
    PageParent();
    ~PageParent();
    PageParent(const PageParent&) = delete;
    PageParent& operator=(const PageParent&) = delete;
    /// Creates `page` inside; returns its window.
    HWND Open(OptionsPage& page);
    HWND window() const { return window_; }

  private:
    HWND window_;
};

/// The list's own notification `code` (NM_RCLICK, NM_DBLCLK) to the page.
void NotifyList(HWND page, int listId, UINT code);
/// A key pressed inside the list (LVN_KEYDOWN).
void PressListKey(HWND page, int listId, WORD key);
/// What the page answers to a display request for a cell, in a buffer of `room` chars.
std::string RequestCellText(HWND page, int listId, int row, int column, int room = 260);
/// The text the list itself shows in a cell (asking the page when the cell is a callback).
std::string CellText(HWND list, int row, int column);
int RowCount(HWND list);
int RowImage(HWND list, int row);
std::string ColumnTitle(HWND list, int column);
/// Clicks OK of a modal editor that should close with it; when it stays open, the test
/// fails and the editor is cancelled instead of hanging.
void ClickOkToClose(HWND editor);
/// Gives `row` the focus and selects it, as a click would.
void FocusRow(HWND list, int row);

}  // namespace vantel::test
