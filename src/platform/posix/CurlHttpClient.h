// Token requests through libcurl, one at a time on a worker thread of their own: they are rare
// (about one per account an hour), so a queue is enough, and the event loop never waits.
#pragma once

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

class CurlHttpClient : public HttpClient {
  public:
    struct Options {
        /// Tests only: a PEM file of the only roots trusted instead of the system's, so that a
        /// test server's certificate can be checked without touching the system's trust.
        std::string caFile;
        /// At most this long to set up the connection (TCP and TLS), within the request's own
        /// time-out.
        std::uint32_t connectTimeoutMs = 15000;
    };

    /// Starts libcurl for the program (the program owns one client) and the worker. Answers
    /// are posted to `loop`, which must outlive the client.
    explicit CurlHttpClient(EventLoop& loop);
    CurlHttpClient(EventLoop& loop, Options options);
    /// On the loop's thread: cuts a request under way short, joins the worker and drops the
    /// answers not yet delivered, so no `done` runs after it.
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    void PostForm(HttpRequest request, std::function<void(HttpResponse)> done) override;

    /// Whether `url` may be asked at all: https://, or http:// to a loopback address. Else
    /// false with `why` in words.
    static bool Allowed(const std::string& url, std::string& why);

  private:
    struct Job;
    struct Shared;

    void Work();
    /// The blocking call, on the worker.
    HttpResponse Perform(const HttpRequest& request);

    EventLoop& loop_;
    Options options_;
    std::shared_ptr<Shared> shared_;  // with the posted answers, which may outlive the client
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace vantel
