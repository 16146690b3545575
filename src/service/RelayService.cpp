#include "service/RelayService.h"

#include <ctime>
#include <memory>

#include "core/notice/LogNotifier.h"
#include "core/notice/LogTrace.h"
#include "core/notice/NoticeCoalescer.h"
#include "core/notice/TeeNotifier.h"
#include "core/oauth/TokenBroker.h"
#include "core/relay/RelayHost.h"
#include "core/relay/RelayStateObserver.h"
#include "platform/EscapedText.h"
#include "platform/RollingLogFile.h"
#include "platform/SystemWallClock.h"
#include "platform/TlsClient.h"
#include "platform/win32/BCryptCrypto.h"
#include "platform/win32/DebugOutputNotifier.h"
#include "platform/win32/DebugOutputTrace.h"
#include "platform/win32/DpapiTokenStore.h"
#include "platform/win32/LogLocation.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32EventLoop.h"
#include "platform/win32/WinHttpClient.h"
#include "platform/win32/WinsockSession.h"

namespace vantel {
namespace {

/// ServiceMain has no context argument: the one service object of the process is found here.
RelayService* runningService = nullptr;

/// Nobody watches the relay state of a service.
class NoTray : public RelayStateObserver {
  public:
    void OnRelayStateChanged() override {}
};

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
    loop_->Post(reload ? reload_ : stop_);
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
    // A stop waits for the sessions to deliver what they read.
    status.dwWaitHint = settled ? 0 : state == SERVICE_STOP_PENDING ? 12000 : 5000;
    SetServiceStatus(statusHandle_, &status);
}

void RelayService::Serve() {
    ReportStatus(SERVICE_START_PENDING);
    // A service shows no boxes: its notices go to the debug output and to its own log, whose
    // lines are lost, not the service, when it cannot be written.
    RollingLogFile log(LogLocation::ServiceLog());
    DebugOutputNotifier debugOutput;
    LogNotifier logNotifier(log);
    TeeNotifier output(debugOutput, logNotifier);
    WinsockSession winsock;
    if (!winsock.ok()) {
        output.ShowMessage("Windows sockets initialization failed.");
        ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    auto loop = std::make_unique<Win32EventLoop>();
    if (!loop->ok()) {
        ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    RegistryStore store;
    DebugOutputTrace debugTrace;
    NoTray tray;
    {
        // The sign-ins are the tray program's, in its user's folder, which the machine's
        // settings name: the seal opens for SYSTEM, and the folder lets SYSTEM in.
        DpapiTokenStore tokens({});
        WinHttpClient http(*loop);
        BCryptCrypto crypto;
        SystemWallClock clock;
        const auto useTokenFolder = [&tokens](const RelaySettings& settings) {
            tokens.SetDirectory(std::filesystem::path(Widen(settings.TokenFolder)));
        };
        NoticeCoalescer notifier(*loop, output, NoticeCoalescer::kLogHoldMs, true);
        LogTrace trace(log, &debugTrace);
        RelayHost host(*loop, notifier, &trace, tray,
                       static_cast<std::uint32_t>(std::time(nullptr)));
        std::string tlsProblem;
        auto tls = CreateTlsContext({}, tlsProblem);
        host.UseTls(std::move(tls), tlsProblem);
        host.UseTokens(std::make_unique<TokenBroker>(
            *loop, tokens, http, clock, crypto, notifier, [](const OAuthSignIn& signIn) {
                const std::string where = " in with the Vantel program in the notification area";
                return "sign " + OneLine(signIn.Account) + where;
            }));
        host.Load(store, true);
        useTokenFolder(host.settings());
        trace.SetEnabled(host.settings().LogTraffic != 0);
        host.Start();

        // Runs on the loop's own thread, where the relay lives; sessions in progress go on.
        reload_ = [&] {
            notifier.ShowMessage("reloading the settings");
            host.Load(store, true);
            useTokenFolder(host.settings());
            trace.SetEnabled(host.settings().LogTraffic != 0);
            host.Apply();
        };
        // A stop lets the sessions deliver what they read before the process ends.
        stop_ = [&] { host.Stop([&] { loop->Quit(); }); };
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
            stop_ = nullptr;
        }
        host.engine().ShutdownRelay();
    }
    loop.reset();
    ReportStatus(SERVICE_STOPPED);
}

}  // namespace vantel
