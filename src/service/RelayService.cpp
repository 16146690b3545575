#include "service/RelayService.h"

#include <ctime>
#include <memory>

#include "core/config/RelaySettings.h"
#include "core/config/SettingsPersistence.h"
#include "core/relay/RelayEngine.h"
#include "core/relay/RelayStateObserver.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"
#include "platform/win32/DebugOutputNotifier.h"
#include "platform/win32/DebugOutputTrace.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Win32EventLoop.h"
#include "platform/win32/WinsockSession.h"

namespace vantel {
namespace {

/// ServiceMain has no context argument: the one service object of the process is found here.
RelayService* runningService = nullptr;

/// Nobody watches the relay state of a service.
class NoTray : public RelayStateObserver {
  public:
    void UpdateTrayIcon() override {}
};

RelaySettings LoadMachineSettings(SettingsStore& store) {
    RelaySettings settings;
    SettingsPersistence persistence(store);
    persistence.SetUseMachineStore(true);
    persistence.LoadSettings(settings, -1);
    return settings;
}

}  // namespace

bool RelayService::Run() {
    runningService = this;
    char name[] = "VantelSrv";
    const SERVICE_TABLE_ENTRYA table[] = {{name, &RelayService::ServiceMain}, {nullptr, nullptr}};
    const bool served = StartServiceCtrlDispatcherA(table) != FALSE;
    runningService = nullptr;
    return served;
}

void WINAPI RelayService::ServiceMain(DWORD, LPSTR*) {
    RelayService* self = runningService;
    self->statusHandle_ =
        RegisterServiceCtrlHandlerExA(kServiceName, &RelayService::ControlHandler, self);
    if (self->statusHandle_ == nullptr) {
        return;
    }
    self->Serve();
}

DWORD WINAPI RelayService::ControlHandler(DWORD control, DWORD, LPVOID, LPVOID context) {
    auto* self = static_cast<RelayService*>(context);
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            self->ReportStatus(SERVICE_STOP_PENDING);
            self->PostToLoop(false);
            return NO_ERROR;
        case kReloadControl:
            self->PostToLoop(true);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void RelayService::PostToLoop(bool reload) {
    std::lock_guard<std::mutex> lock(loopLock_);
    if (loop_ == nullptr) {
        return;
    }
    if (reload) {
        loop_->Post(reload_);
    } else {
        loop_->Quit();
    }
}

void RelayService::ReportStatus(DWORD state, DWORD exitCode) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    const bool settled = state == SERVICE_RUNNING || state == SERVICE_STOPPED;
    status.dwCheckPoint = settled ? 0 : ++checkPoint_;
    status.dwWaitHint = settled ? 0 : 5000;
    SetServiceStatus(statusHandle_, &status);
}

void RelayService::Serve() {
    ReportStatus(SERVICE_START_PENDING);
    DebugOutputNotifier notifier;
    WinsockSession winsock;
    if (!winsock.ok()) {
        notifier.ShowMessage("Windows sockets initialization failed.");
        ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    auto loop = std::make_unique<Win32EventLoop>();
    if (!loop->ok()) {
        ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    RegistryStore store;
    DebugOutputTrace trace;
    NoTray tray;
    RelaySettings settings = LoadMachineSettings(store);
    CRuntimeRandom random(static_cast<std::uint32_t>(std::time(nullptr)));
    CachedKludgeFiles kludgeFiles;
    MessageRewriter rewriter(settings, random, notifier, kludgeFiles);
    {
        RelayEngine engine(settings, *loop, rewriter, notifier, &trace, tray);
        engine.StartRelay();
        engine.SetRelayState(true, false);

        // Runs on the loop's own thread, where the engine lives; sessions in progress go on.
        reload_ = [&] {
            notifier.ShowMessage("reloading the settings");
            engine.CloseListeners();
            settings = LoadMachineSettings(store);
            engine.StartRelay();
        };
        {
            std::lock_guard<std::mutex> lock(loopLock_);
            loop_ = loop.get();
        }
        ReportStatus(SERVICE_RUNNING);
        loop->Run();
        {
            std::lock_guard<std::mutex> lock(loopLock_);
            loop_ = nullptr;
            reload_ = nullptr;
        }
        engine.ShutdownRelay();
    }
    loop.reset();
    ReportStatus(SERVICE_STOPPED);
}

}  // namespace vantel
