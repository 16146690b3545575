// The report-view lists of the Options pages: columns, rows whose later columns the page
// supplies when the list shows them, and the row the user acts on.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <string_view>

namespace vantel {

/// A row image of none: the row is shown without a picture.
inline constexpr int kNoRowImage = I_IMAGENONE;

void AddListColumn(HWND list, int index, const std::string& title, int width);
/// Inserts a row at `index` with `text` in column 0 and the texts of columns 1 to
/// `columnCount` - 1 asked of the page (LVN_GETDISPINFO) whenever they are drawn.
void InsertListRow(HWND list, int index, const std::string& text, int image, int columnCount);
/// Replaces the text and the image of row `index`; its other columns are asked anew.
void SetListRow(HWND list, int index, const std::string& text, int image);
void DeleteListRow(HWND list, int index);
void ClearListRows(HWND list);
/// The row that has the focus; -1 when none has.
int FocusedListRow(HWND list);
/// Answers a display request with `text`, cut to the room the list offers.
void SupplyListText(NMLVDISPINFOA& request, std::string_view text);

}  // namespace vantel
