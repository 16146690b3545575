// Token requests through WinHTTP, one at a time on a worker thread of their own, as on Linux
// through libcurl: the system's proxy settings, Schannel and the system's roots, no DLL of our
// own. The answers are posted to the event loop.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/HttpClient.h"

namespace vantel {

class WinHttpClient : public HttpClient {
  public:
    /// Answers are posted to `loop`, which must outlive the client.
    explicit WinHttpClient(EventLoop& loop);
    /// On the loop's thread: cuts a request under way short, joins the worker and drops the
    /// answers not yet delivered, so no `done` runs after it.
    ~WinHttpClient() override;
    WinHttpClient(const WinHttpClient&) = delete;
    WinHttpClient& operator=(const WinHttpClient&) = delete;

    void PostForm(HttpRequest request, std::function<void(HttpResponse)> done) override;

  private:
    struct Job {
        HttpRequest request;
        std::function<void(HttpResponse)> done;
    };
    struct Shared;

    void Work();
    /// The blocking calls, on the worker.
    HttpResponse Perform(const HttpRequest& request);

    EventLoop& loop_;
    std::shared_ptr<Shared> shared_;  // with the posted answers, which may outlive the client
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    /// The request under way, closed by the destructor to cut it short.
    HINTERNET current_ = nullptr;
    std::thread worker_;
};

}  // namespace vantel
