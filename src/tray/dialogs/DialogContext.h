// What every dialog of the Options family needs from the program.
#pragma once

#include <windows.h>

#include <functional>

#include "tray/dialogs/Dialog.h"
#include "tray/dialogs/DialogNotifier.h"
#include "tray/dialogs/Placement.h"
#include "tray/dialogs/SignInService.h"

namespace vantel {

/// How a dialog runs one of its editors modally; the tests put a driver in its place.
using ModalRunner = std::function<INT_PTR(Dialog& dialog, HWND owner)>;

struct DialogContext {
    HINSTANCE instance = nullptr;
    DialogNotifier* notifier = nullptr;
    /// The system has services (the Windows NT family).
    bool isNT = false;
    /// Signs OAuth 2.0 entries in; null where the program cannot (then Sign in is disabled).
    SignInService* signIn = nullptr;
    ModalRunner runModal = [](Dialog& dialog, HWND owner) { return dialog.RunModal(owner); };
    /// Where the Options dialog and the About box open, in the middle.
    std::function<RECT()> workArea = TrayWorkArea;
};

}  // namespace vantel
