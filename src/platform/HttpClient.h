// The one HTTP call the relay makes: a form posted to a token endpoint.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vantel {

struct HttpRequest {
    std::string url;   ///< https://, or http:// to a loopback address only
    std::string form;  ///< application/x-www-form-urlencoded body
    std::uint32_t timeoutMs = 30000;
};

struct HttpResponse {
    int status = 0;     ///< the HTTP status; 0 when no answer came (see `error`)
    std::string body;   ///< at most HttpClient::kMaxBody bytes
    std::string error;  ///< why no answer came (refused, time-out, certificate); else empty
    /// The Retry-After header in seconds; 0 when absent or not a number.
    std::uint32_t retryAfterSeconds = 0;
};

/// Posts forms off the event loop's thread and delivers the answers on it. Follows the
/// system's proxy settings and verifies certificates against the system's roots.
class HttpClient {
  public:
    /// A longer body is a broken answer, not a token.
    static constexpr std::size_t kMaxBody = 64 * 1024;

    virtual ~HttpClient() = default;
    /// `done` runs on the loop once, even when whoever asked is gone by then: capture
    /// identifiers or weak pointers. It never runs after the client is destroyed.
    virtual void PostForm(HttpRequest request, std::function<void(HttpResponse)> done) = 0;
};

}  // namespace vantel
