// An Options page built around one report list: a right click adds an item, a double click
// edits the focused one, the Delete key removes it, and the page supplies the texts the list
// asks for when it draws. The list fills the page, with the template's margin all round.
#pragma once

#include <string>

#include "tray/dialogs/OptionsPage.h"

namespace vantel {

class ListPage : public OptionsPage {
  public:
    ListPage(HINSTANCE instance, int templateId, OptionsPageHost& host, DialogNotifier& notifier,
             int listId)
        : OptionsPage(instance, templateId, host, notifier), listId_(listId) {}

  protected:
    HWND List() const { return Item(listId_); }
    virtual void Add() = 0;
    /// Edits the row that has the focus, if any.
    virtual void Edit() = 0;
    /// Removes the row that has the focus, if any, after asking.
    virtual void Delete() = 0;
    /// The text of `column` of `row` (a row the list holds, maybe past the page's data).
    virtual std::string CellText(int row, int column) = 0;

    LRESULT OnNotify(NMHDR& header, bool& handled) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  private:
    int listId_;
};

}  // namespace vantel
