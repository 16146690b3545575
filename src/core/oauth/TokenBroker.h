// Access tokens for the relay's OAuth 2.0 entries: read from the token store, renewed at the
// token endpoint before they run out, one renewal per account at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/oauth/AccessTokenSource.h"
#include "core/oauth/OAuthDefaults.h"
#include "core/oauth/TokenRecord.h"
#include "platform/Crypto.h"
#include "platform/EventLoop.h"
#include "platform/HttpClient.h"
#include "platform/Notifier.h"
#include "platform/TokenStore.h"
#include "platform/WallClock.h"

namespace vantel {

class TokenBroker final : public AccessTokenSource {
  public:
    /// A token with less time left is renewed before it is sent (some servers refuse it).
    static constexpr std::int64_t kRenewMarginSeconds = 600;
    /// After a failed renewal the next waits this long, doubling up to kMaxBackOffSeconds.
    static constexpr std::int64_t kFirstBackOffSeconds = 30;
    static constexpr std::int64_t kMaxBackOffSeconds = 600;
    /// A server's refusal of a token renewed this recently is not worth another renewal.
    static constexpr std::int64_t kJustRenewedSeconds = 10;

    /// What the program tells a person to do to sign an entry in ("run vantel auth 2").
    using SignInHint = std::function<std::string(const OAuthSignIn&)>;

    TokenBroker(EventLoop& loop, TokenStore& store, HttpClient& http, WallClock& clock,
                Crypto& crypto, Notifier& notifier, SignInHint hint);
    TokenBroker(const TokenBroker&) = delete;
    TokenBroker& operator=(const TokenBroker&) = delete;
    ~TokenBroker() override;

    void SetDefaults(const OAuthDefaults& defaults) override { defaults_ = defaults; }

    bool CheckLocalLogin(const OAuthSignIn& signIn, std::string_view account,
                         std::string_view password) override;
    void Request(const OAuthSignIn& signIn, bool renew,
                 std::function<void(AccessTokenAnswer)> done) override;

  private:
    struct Account {
        std::optional<TokenRecord> record;
        std::string problem;  ///< why no record could be read; else empty
        bool loaded = false;
        std::uint64_t generation = 0;
        bool renewing = false;
        std::vector<std::function<void(AccessTokenAnswer)>> waiting;
        std::int64_t renewedAt = 0;
        std::int64_t backOff = 0;
        std::int64_t retryAt = 0;
        std::string lastFailure;
        std::string lastNotice;  ///< so that one failure is told once, not at every login
    };

    /// The account's state, its record read again if another process saved it since.
    Account& Fetch(const std::string& key);
    void Renew(const std::string& key, const OAuthSignIn& signIn);
    void Renewed(const std::string& key, const OAuthSignIn& signIn, const std::string& provider,
                 const HttpResponse& response);
    /// A renewal failed: later ones wait longer, and who waits gets `answer`.
    void Failed(Account& account, AccessTokenAnswer answer, std::uint32_t retryAfterSeconds);
    void Finish(Account& account, const AccessTokenAnswer& answer);
    void Answer(std::function<void(AccessTokenAnswer)> done, AccessTokenAnswer answer);
    void Tell(Account& account, const std::string& text);

    EventLoop& loop_;
    TokenStore& store_;
    HttpClient& http_;
    WallClock& clock_;
    Crypto& crypto_;
    Notifier& notifier_;
    SignInHint hint_;
    OAuthDefaults defaults_;
    std::map<std::string, Account> accounts_;
    /// HTTP answers that come after the broker is gone find this false.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantel
