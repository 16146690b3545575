// Token requests through WinHTTP, one at a time on a worker thread of their own, as on Linux
// through libcurl: the system's proxy settings, Schannel and the system's roots, no DLL of our
// own. The answers are posted to the event loop.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/EventLoop.h"
#include "platform/HttpClient.h"

namespace vantel {

class WinHttpClient : public HttpClient {
  public:
    /// Answers are posted to `loop`, which must outlive the client.
    explicit WinHttpClient(EventLoop& loop);
    /// On the loop's thread: cuts a request under way short and drops the answers not yet
    /// delivered, so no `done` runs after it; it does not wait for the worker.
    ~WinHttpClient() override;
    WinHttpClient(const WinHttpClient&) = delete;
    WinHttpClient& operator=(const WinHttpClient&) = delete;

    void PostForm(HttpRequest request, std::function<void(HttpResponse)> done) override;

  private:
    struct State;

    /// The worker: it shares the state with the client, and lives on alone when the client
    /// goes during a request that WinHTTP cannot cut short, never touching the loop again.
    static void Work(std::shared_ptr<State> state);
    /// The blocking calls, on the worker.
    static HttpResponse Perform(State& state, const HttpRequest& request);

    std::shared_ptr<State> state_;
};

}  // namespace vantel
