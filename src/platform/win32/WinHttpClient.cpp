#include "platform/win32/WinHttpClient.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/win32/WideText.h"

namespace vantel {

struct WinHttpClient::State {
    explicit State(EventLoop& loop) : loop(loop) {}

    struct Job {
        HttpRequest request;
        std::function<void(HttpResponse)> done;
    };

    EventLoop& loop;  // touched only while `closed` is false, under the lock
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> queue;
    bool closed = false;  // the client is gone: drop answers, take no more requests
    /// The request under way, closed by the client's destructor or the deadline.
    HINTERNET current = nullptr;
};

namespace {

/// Closes a WinHTTP handle when it goes.
struct Handle {
    HINTERNET value = nullptr;
    explicit Handle(HINTERNET handle) : value(handle) {}
    ~Handle() {
        if (value != nullptr) {
            WinHttpCloseHandle(value);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    explicit operator bool() const { return value != nullptr; }
};

bool IsLoopbackHost(std::wstring host) {
    std::transform(host.begin(), host.end(), host.begin(), [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    });
    if (host == L"localhost" || host == L"[::1]" || host == L"::1") {
        return true;
    }
    // 127.0.0.0/8, in the dotted form only: that is how the relay's own endpoints are written.
    if (host.rfind(L"127.", 0) != 0) {
        return false;
    }
    int dots = 0;
    for (wchar_t c : host) {
        if (c == L'.') {
            ++dots;
        } else if (c < L'0' || c > L'9') {
            return false;
        }
    }
    return dots == 3;
}

std::string Seconds(std::uint32_t ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

/// Seconds of a Retry-After value; 0 for a date or anything else that is no number.
std::uint32_t ParseRetryAfter(const std::wstring& value) {
    std::uint64_t seconds = 0;
    std::size_t digits = 0;
    for (wchar_t c : value) {
        if (c == L' ' || c == L'\t') {
            continue;
        }
        if (c < L'0' || c > L'9' || ++digits > 10) {
            return 0;
        }
        seconds = seconds * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(seconds, UINT32_MAX));
}

/// Why a call failed, in the words the Linux client uses too.
std::string Failure(DWORD code, const std::string& host, std::uint32_t timeoutMs) {
    const std::string detail = SystemErrorText(code, L"winhttp.dll");
    switch (code) {
        case ERROR_WINHTTP_TIMEOUT:
            return "no answer from " + host + " within " + Seconds(timeoutMs);
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
            return "the certificate of " + host + " is not trusted: " + detail;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return "cannot find " + host + ": " + detail;
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return "cannot connect to " + host + ": " + detail;
        case ERROR_WINHTTP_OPERATION_CANCELLED:
        case ERROR_INVALID_HANDLE:
            return "the request to " + host + " was cancelled";
        default:
            return "the request to " + host + " failed: " + detail;
    }
}

}  // namespace

WinHttpClient::WinHttpClient(EventLoop& loop) : state_(std::make_shared<State>(loop)) {
    std::thread(&WinHttpClient::Work, state_).detach();
}

WinHttpClient::~WinHttpClient() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->closed = true;
    state_->queue.clear();
    // Makes the worker's blocking call return at once where WinHTTP allows it; elsewhere the
    // request's own time-out ends it.
    if (state_->current != nullptr) {
        WinHttpCloseHandle(state_->current);
        state_->current = nullptr;
    }
    state_->wake.notify_all();
}

void WinHttpClient::PostForm(HttpRequest request, std::function<void(HttpResponse)> done) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->queue.push_back(State::Job{std::move(request), std::move(done)});
    }
    state_->wake.notify_one();
}

void WinHttpClient::Work(std::shared_ptr<State> state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->closed || !state->queue.empty(); });
        if (state->closed) {
            return;
        }
        State::Job job = std::move(state->queue.front());
        state->queue.pop_front();
        lock.unlock();
        HttpResponse response;
        try {
            response = Perform(*state, job.request);
        } catch (const std::exception& e) {
            response = HttpResponse{};
            response.error = std::string("the request failed: ") + e.what();
        }
        lock.lock();
        if (state->closed) {
            return;
        }
        // Posted under the lock while the client is there, so the loop is still there too; the
        // answer is dropped on the loop if the client is gone by the time it runs.
        state->loop.Post(
            [state, done = std::move(job.done), response = std::move(response)]() mutable {
                if (!state->closed) {
                    done(std::move(response));
                }
            });
    }
}

HttpResponse WinHttpClient::Perform(State& state, const HttpRequest& request) {
    HttpResponse response;
    const auto schemeIs = [&](std::string_view scheme) {
        return request.url.size() > scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), request.url.begin(), [](char a, char b) {
                   return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
               });
    };
    if (!schemeIs("https://") && !schemeIs("http://")) {
        response.error = request.url.find("://") == std::string::npos
                             ? "the address " + request.url + " is not a valid URL"
                             : "the address " + request.url + " is not an https:// address";
        return response;
    }
    const std::wstring url = Widen(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) {
        response.error = "the address " + request.url + " is not a valid URL";
        return response;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::string hostName = Narrow(host);
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const bool loopback = IsLoopbackHost(host);
    if (!secure && !(parts.nScheme == INTERNET_SCHEME_HTTP && loopback)) {
        response.error = parts.nScheme == INTERNET_SCHEME_HTTP
                             ? "the address " + request.url +
                                   " is not encrypted (http://); only https:// is used, except "
                                   "to this computer"
                             : "the address " + request.url + " is not an https:// address";
        return response;
    }
    std::wstring path(parts.lpszUrlPath != nullptr ? parts.lpszUrlPath : L"",
                      parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) {
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    if (path.empty()) {
        path = L"/";
    }

    // No proxy can reach this computer's own services; elsewhere the system's settings count
    // (the automatic ones where this Windows has them).
    Handle session(loopback ? nullptr
                            : WinHttpOpen(L"Vantel", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        session.value = WinHttpOpen(
            L"Vantel", loopback ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (!session) {
        response.error = Failure(GetLastError(), hostName, request.timeoutMs);
        return response;
    }
    const int timeoutMs = static_cast<int>(std::max<std::uint32_t>(request.timeoutMs, 1));
    WinHttpSetTimeouts(session.value, timeoutMs, std::min(timeoutMs, 15000), timeoutMs, timeoutMs);
    Handle connection(WinHttpConnect(session.value, host.c_str(), parts.nPort, 0));
    if (!connection) {
        response.error = Failure(GetLastError(), hostName, request.timeoutMs);
        return response;
    }
    const wchar_t* accept[] = {L"application/json", nullptr};
    HINTERNET opened =
        WinHttpOpenRequest(connection.value, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           accept, secure ? WINHTTP_FLAG_SECURE : 0);
    if (opened == nullptr) {
        response.error = Failure(GetLastError(), hostName, request.timeoutMs);
        return response;
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.closed) {
            WinHttpCloseHandle(opened);
            response.error = Failure(ERROR_WINHTTP_OPERATION_CANCELLED, hostName, 0);
            return response;
        }
        state.current = opened;
    }
    // The destructor or the deadline may close the request meanwhile; then only they do.
    const auto release = [&] {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.current == opened) {
            WinHttpCloseHandle(opened);
            state.current = nullptr;
        }
    };
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(opened, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);

    WinHttpSetTimeouts(opened, timeoutMs, std::min(timeoutMs, 15000), timeoutMs, timeoutMs);
    DWORD responseTimeout = static_cast<DWORD>(timeoutMs);
    WinHttpSetOption(opened, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof responseTimeout);
    // The time-outs above bound each step; this bounds the whole request, also where a step
    // does not keep to its own (a server that accepts and never answers).
    struct Watch {
        State& state;
        HINTERNET request;
        bool fired = false;
    } watch{state, opened};
    const auto onDeadline = [](void* context, BOOLEAN) {
        auto& watched = *static_cast<Watch*>(context);
        std::lock_guard<std::mutex> lock(watched.state.mutex);
        if (watched.state.current == watched.request) {
            watched.fired = true;
            WinHttpCloseHandle(watched.request);
            watched.state.current = nullptr;
        }
    };
    HANDLE deadline = nullptr;
    CreateTimerQueueTimer(&deadline, nullptr, onDeadline, &watch, static_cast<DWORD>(timeoutMs), 0,
                          WT_EXECUTEONLYONCE);
    const wchar_t* headers = L"Content-Type: application/x-www-form-urlencoded\r\n";
    const DWORD length = static_cast<DWORD>(request.form.size());
    bool ok = WinHttpSendRequest(opened, headers, static_cast<DWORD>(-1),
                                 const_cast<char*>(request.form.data()), length, length, 0) &&
              WinHttpReceiveResponse(opened, nullptr);
    DWORD status = 0;
    if (ok) {
        DWORD size = sizeof status;
        ok = WinHttpQueryHeaders(opened, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                 WINHTTP_NO_HEADER_INDEX);
    }
    if (ok) {
        wchar_t retry[32] = {};
        DWORD size = sizeof retry - sizeof retry[0];
        if (WinHttpQueryHeaders(opened, WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                                retry, &size, WINHTTP_NO_HEADER_INDEX)) {
            response.retryAfterSeconds = ParseRetryAfter(retry);
        }
    }
    bool tooLong = false;
    while (ok) {
        char buffer[8192];
        DWORD read = 0;
        if (!WinHttpReadData(opened, buffer, sizeof buffer, &read)) {
            ok = false;
            break;
        }
        if (read == 0) {
            break;
        }
        if (response.body.size() + read > kMaxBody) {
            tooLong = true;  // a cut token would be worse than none
            break;
        }
        response.body.append(buffer, read);
    }
    DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    if (deadline != nullptr) {
        DeleteTimerQueueTimer(nullptr, deadline, INVALID_HANDLE_VALUE);  // waits for it to end
    }
    if (watch.fired) {
        code = ERROR_WINHTTP_TIMEOUT;
        ok = false;
    }
    release();
    if (tooLong) {
        response = HttpResponse{};
        response.error = "the answer from " + hostName + " is longer than " +
                         std::to_string(kMaxBody / 1024) + " KiB";
        return response;
    }
    if (!ok) {
        response = HttpResponse{};
        response.error = Failure(code, hostName, request.timeoutMs);
        return response;
    }
    response.status = static_cast<int>(status);
    return response;
}

}  // namespace vantel
