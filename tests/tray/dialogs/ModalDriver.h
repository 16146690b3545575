// Drives a modal dialog from inside its own message loop, as a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/OptionsPageHost.h"

namespace vantel::test {

/// Runs `dialog` modally over a hidden owner window; when the dialog's loop first goes idle,
/// `act` runs with the dialog's window (it should end the dialog, say by clicking OK).
/// Returns the dialog's result.
INT_PTR RunModalWith(Dialog& dialog, const std::function<void(HWND)>& act);

/// Runs `dialog` modally over `owner`, as the program would (so that where it opens can be
/// checked); once it shows, `act` runs with its window.
INT_PTR RunModalOver(Dialog& dialog, HWND owner, const std::function<void(HWND)>& act);

/// Runs `body`; the first dialog window it opens (a message box, say) is handed to `act`,
/// which should close it. Returns whether one opened.
bool AnswerBox(const std::function<void()>& body, const std::function<void(HWND box)>& act);

/// Clicks the button `id` of `dialog` (BM_CLICK: the button's command as a click sends it).
void Click(HWND dialog, int id);

/// Chooses item `index` of the drop-down list `id` of `dialog`, with the notice its owner gets
/// when the user picks one.
void Choose(HWND dialog, int id, int index);

/// The item of the drop-down list `id` that shows; -1 when none does.
int Chosen(HWND dialog, int id);

/// The page of the open Options dialog that holds control `id` of class `className`.
HWND PageWith(HWND options, int id, const char* className);

/// A ModalRunner for DialogContext::runModal that drives each editor with the next of
/// `acts`, in order, and records how many ran.
struct ScriptedEditors {
    std::vector<std::function<void(HWND)>> acts;
    int ran = 0;
    /// Each editor runs over the owner it is given rather than over a hidden window.
    bool overOwner = false;
    INT_PTR operator()(Dialog& dialog, HWND owner);
};

/// An Options dialog stand-in that counts the pages' hooks.
class CountingHost : public OptionsPageHost {
  public:
    void OptionsPageHook(int code) override { ++(code == 1 ? oks : cancels); }
    int oks = 0;
    int cancels = 0;
};

}  // namespace vantel::test
