#include "tray/RelayApp.h"

#include <commctrl.h>

#include <memory>

#include "platform/RollingLogFile.h"
#include "platform/SystemWallClock.h"
#include "platform/win32/BCryptCrypto.h"
#include "platform/win32/DebugOutputTrace.h"
#include "platform/win32/DpapiTokenStore.h"
#include "platform/win32/LogLocation.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/ShellBrowserLauncher.h"
#include "platform/win32/Win32EventLoop.h"
#include "platform/win32/WinHttpClient.h"
#include "platform/win32/WinsockSession.h"
#include "tray/MainDialog.h"
#include "tray/MessageBoxNotifier.h"
#include "tray/ResourceStrings.h"
#include "tray/ServiceControl.h"
#include "tray/ShellTraySink.h"
#include "tray/resource.h"

namespace vantel {

bool RelayApp::DetectNT() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    // The platform identifier is all we ask, and it is reported truthfully on every version.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = GetVersionExA(&version);
#pragma GCC diagnostic pop
    return known != FALSE && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

int RelayApp::Run() {
    if (FindWindowA(nullptr, kWindowCaption) != nullptr) {
        return 0;
    }
    isNT = DetectNT();

    WinsockSession winsock;
    if (!winsock.ok()) {
        MessageBoxA(nullptr, LoadResourceString(IDS_SOCKETS_INIT_FAILED).c_str(), kWindowCaption,
                    MB_OK);
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    Win32EventLoop loop;
    if (!loop.ok()) {
        return 1;
    }
    RegistryStore store;
    MessageBoxNotifier notifier;
    ShellTraySink tray;
    DebugOutputTrace trace;
    // A log that cannot be written loses its lines; the program goes on without it.
    RollingLogFile log(LogLocation::UserLog());
    ServiceControl service(isNT, ServiceControl::DefaultImagePath(), notifier);
    // The sign-ins live apart from the settings, sealed in the user's application data.
    DpapiTokenStore tokens(DpapiTokenStore::DefaultDirectory());
    WinHttpClient http(loop);
    BCryptCrypto crypto;
    SystemWallClock clock;
    ShellBrowserLauncher browser;
    SignInKit signIn{&tokens, &http, &crypto, &clock, &browser};

    MainDialogContext context;
    context.instance = instance_;
    context.store = &store;
    context.loop = &loop;
    context.tray = &tray;
    context.service = &service;
    context.notifier = &notifier;
    context.trace = &trace;
    context.log = &log;
    context.isNT = isNT;
    context.operationTimeout = &operationTimeout;
    context.signIn = &signIn;

    auto dialog = std::make_unique<MainDialog>(context);
    mainDialog = dialog.get();
    dialog->LoadSettings(-1);
    dialog->Run();
    dialog->SaveEverywhere();
    // What the sessions have read still reaches the other side (for a few seconds at most).
    dialog->host().Stop([&loop] { loop.Quit(); });
    loop.Run();
    mainDialog = nullptr;
    dialog.reset();
    return 0;
}

}  // namespace vantel
