// A scriptable OAuth 2.0 authorization server for tests, over HTTPS with a TestPki
// certificate (or plain HTTP, for the loopback exception). Native (Linux) tests only.
//
//   TestPki pki;
//   FakeAuthServer server(pki);
//   std::string location = server.Authorize(query);   // the browser's visit to /authorize
//   server.Script("/token", {429, "{}", "Retry-After: 7\r\n"});  // the next /token answer
//   ... POST server.Url("/token") ...
//
// Endpoints: GET /authorize (302 to the redirect with code and state), POST /token
// (authorization_code with PKCE S256 and redirect_uri checks, refresh_token with rotation,
// the device code grant), POST /devicecode, POST /introspect. Every request is recorded.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tls/TestPki.h"
#include "tls/TlsTestServer.h"

namespace vantel::test {

/// An answer given instead of the server's own, once.
struct FakeAnswer {
    FakeAnswer() = default;
    FakeAnswer(int status, std::string body, std::string headers = "", std::uint32_t delayMs = 0,
               bool truncated = false, std::string contentType = "application/json")
        : status(status),
          body(std::move(body)),
          headers(std::move(headers)),
          delayMs(delayMs),
          truncated(truncated),
          contentType(std::move(contentType)) {}

    int status = 200;
    std::string body;
    std::string headers;        ///< extra header lines, each ending in "\r\n"
    std::uint32_t delayMs = 0;  ///< waits this long before answering
    bool truncated = false;     ///< announces more body than it sends, then closes
    std::string contentType = "application/json";
};

struct RecordedRequest {
    std::string method;
    std::string path;                            ///< without the query
    std::string target;                          ///< as sent
    std::map<std::string, std::string> headers;  ///< names in lower case
    std::string body;
    std::map<std::string, std::string> form;  ///< the body, or the query of a GET, decoded
};

class FakeAuthServer {
  public:
    struct Options {
        bool tls = true;
        std::string clientId = "vantel-test-client";
        std::string clientSecret;  ///< required at /token when set (Google's desktop clients)
        std::string username = "user@example.test";
        std::int64_t expiresIn = 3600;
        /// Google-like: a used refresh token stops working; else (Entra-like) it stays valid.
        bool revokeOldRefreshToken = true;
        std::uint32_t deviceInterval = 5;
    };

    explicit FakeAuthServer(const TestPki& pki);
    FakeAuthServer(const TestPki& pki, Options options);
    /// Cuts short scripted delays and closes every connection.
    ~FakeAuthServer();
    FakeAuthServer(const FakeAuthServer&) = delete;
    FakeAuthServer& operator=(const FakeAuthServer&) = delete;

    std::uint16_t port() const { return server_->port(); }
    /// "https://127.0.0.1:PORT" + path (http:// without TLS).
    std::string Url(const std::string& path) const;

    /// The next request to `path` gets `answer`; several queue up in order.
    void Script(const std::string& path, FakeAnswer answer);
    /// What the device code polls get, in order ("authorization_pending", "slow_down",
    /// "expired_token", "authorization_declined", "success"); success once they run out.
    void ScriptDevice(std::vector<std::string> results);
    /// The next authorization is refused with this error (access_denied).
    void RefuseAuthorization(const std::string& error);

    /// The browser's visit to /authorize with `query`, in process: the Location it is sent to,
    /// or "" with a 400 when the request is bad.
    std::string Authorize(const std::string& query);

    std::vector<RecordedRequest> Requests() const;
    std::string accessToken() const;
    std::string refreshToken() const;
    /// Tokens issued so far.
    int issued() const;

    static std::string Base64Url(const std::string& bytes);
    static std::string S256(const std::string& verifier);
    static std::string UrlDecode(const std::string& text);
    static std::map<std::string, std::string> ParseForm(const std::string& text);

  private:
    struct Answer {
        int status = 200;
        std::string body;
        std::string headers;
        std::string contentType = "application/json";
    };
    struct Grant {
        std::string challenge;
        std::string redirectUri;
        std::string clientId;
    };

    void Serve(TlsTestConnection& connection);
    std::string AuthorizeLocked(const std::string& query);
    /// The server's own answer; under the lock.
    Answer Respond(const RecordedRequest& request);
    Answer Token(const std::map<std::string, std::string>& form);
    Answer IssueTokens();
    /// Waits `ms` unless the server is going away.
    void Sleep(std::uint32_t ms);
    static Answer Error(int status, const std::string& error, const std::string& description);

    Options options_;
    mutable std::mutex mutex_;
    std::condition_variable stopWake_;
    bool stopping_ = false;
    std::map<std::string, std::deque<FakeAnswer>> scripts_;
    std::deque<std::string> device_;
    std::string refusal_;
    std::map<std::string, Grant> codes_;        // issued, not yet used
    std::map<std::string, bool> refreshValid_;  // refresh tokens that still work
    std::string deviceCode_;
    std::string access_;
    std::string refresh_;
    int issued_ = 0;
    int counter_ = 0;
    std::vector<RecordedRequest> requests_;
    std::unique_ptr<TlsTestServer> server_;  // last: its threads use the above
};

}  // namespace vantel::test
