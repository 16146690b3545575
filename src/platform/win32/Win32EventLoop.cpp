#include "platform/win32/Win32EventLoop.h"

#include <cstdio>

#include "platform/win32/AddressConversion.h"
#include "platform/win32/Win32Socket.h"

namespace vantel {

namespace {

constexpr UINT kPostedWorkMessage = WM_APP + 1;
// Each socket selects with a message number of its own from this range, so a message still
// queued for a closed socket is not taken for one that got the same handle afterwards.
constexpr UINT kFirstSocketMessage = WM_APP + 16;
constexpr UINT kLastSocketMessage = 0xBFFF;

}  // namespace

Win32EventLoop::Win32EventLoop() : nextMessage_(kFirstSocketMessage) {
    // A class of its own per loop: nothing is shared between loops, or kept process-wide.
    char name[64];
    std::snprintf(name, sizeof name, "VantelEventLoop%p", static_cast<void*>(this));
    className_ = name;
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32EventLoop::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className_.c_str();
    if (RegisterClassExA(&windowClass) != 0) {
        window_ = CreateWindowExA(0, className_.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, this);
    }
    const HWND window = window_;
    posts_ =
        std::make_shared<PostQueue>([window] { PostMessageA(window, kPostedWorkMessage, 0, 0); });
}

Win32EventLoop::~Win32EventLoop() {
    posts_->Close();
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);  // also ends its timers
    }
    UnregisterClassA(className_.c_str(), GetModuleHandleA(nullptr));
}

LRESULT CALLBACK Win32EventLoop::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* loop = reinterpret_cast<Win32EventLoop*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (loop != nullptr && (message == kPostedWorkMessage || message == WM_TIMER ||
                            (message >= kFirstSocketMessage && message <= kLastSocketMessage))) {
        loop->HandleMessage(message, wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void Win32EventLoop::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPostedWorkMessage) {
        for (auto& work : posts_->TakeAll()) {
            pending_.push_back(std::move(work));
        }
        RunPosted();
        return;
    }
    if (message == WM_TIMER) {
        FireTimer(static_cast<TimerId>(wParam));
        return;
    }
    const auto it = sockets_.find(static_cast<SOCKET>(wParam));
    if (it != sockets_.end() && it->second->message() == message) {
        it->second->HandleEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
    }
}

std::string Win32EventLoop::DescribeError(int code) const {
    return ErrorText(code);
}

void Win32EventLoop::RunPosted() {
    while (!pending_.empty()) {
        if (quit_) {
            return;  // the rest waits for the next Run
        }
        const std::function<void()> work = std::move(pending_.front());
        pending_.pop_front();
        work();
    }
}

std::uint64_t Win32EventLoop::NowMs() {
    return GetTickCount64();
}

std::unique_ptr<AsyncSocket> Win32EventLoop::CreateSocket(SocketEvents& events) {
    return std::make_unique<Win32Socket>(*this, events);
}

TimerId Win32EventLoop::StartTimer(std::uint32_t delayMs, bool periodic,
                                   std::function<void()> callback) {
    const TimerId id = nextTimer_++;
    Timer& timer = timers_[id];
    timer.callback = std::make_shared<std::function<void()>>(std::move(callback));
    timer.periodic = periodic;
    SetTimer(window_, static_cast<UINT_PTR>(id), delayMs, nullptr);
    return id;
}

void Win32EventLoop::StopTimer(TimerId id) {
    if (timers_.erase(id) != 0) {
        KillTimer(window_, static_cast<UINT_PTR>(id));
    }
}

void Win32EventLoop::FireTimer(TimerId id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) {
        return;  // stopped while its message was already queued
    }
    // Held here: the callback may stop its own timer, which destroys the map's copy.
    const std::shared_ptr<std::function<void()>> callback = it->second.callback;
    if (!it->second.periodic) {
        KillTimer(window_, static_cast<UINT_PTR>(id));
        timers_.erase(it);
    }
    (*callback)();
}

void Win32EventLoop::Post(std::function<void()> work) {
    posts_->Push(std::move(work));
}

void Win32EventLoop::Resolve(const std::string& host, std::uint16_t port, ResolveCallback done) {
    lookups_.Resolve(posts_, host, port, std::move(done));
}

void Win32EventLoop::Run() {
    if (!pending_.empty()) {
        PostMessageA(window_, kPostedWorkMessage, 0, 0);
    }
    MSG message;
    while (!quit_) {
        // Every message of the thread, not only this window's: the tray and dialogs too.
        if (GetMessageA(&message, nullptr, 0, 0) <= 0) {
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    quit_ = false;
}

void Win32EventLoop::Quit() {
    // A flag rather than PostQuitMessage: WM_QUIT would also end a dialog's loop, and only
    // the loop's own thread may post it.
    quit_ = true;
    PostMessageA(window_, kPostedWorkMessage, 0, 0);
}

UINT Win32EventLoop::Attach(SOCKET handle, Win32Socket* socket, std::uint64_t& serial) {
    sockets_[handle] = socket;
    serial = nextSerial_++;
    const UINT message = nextMessage_;
    nextMessage_ = nextMessage_ == kLastSocketMessage ? kFirstSocketMessage : nextMessage_ + 1;
    return message;
}

void Win32EventLoop::Detach(SOCKET handle) {
    sockets_.erase(handle);
}

bool Win32EventLoop::IsAttached(SOCKET handle, std::uint64_t serial) const {
    const auto it = sockets_.find(handle);
    return it != sockets_.end() && it->second->serial() == serial;
}

std::unique_ptr<EventLoop> CreateEventLoop() {
    auto loop = std::make_unique<Win32EventLoop>();
    if (!loop->ok()) {
        return nullptr;
    }
    return loop;
}

}  // namespace vantel
