#include "core/oauth/TokenBroker.h"

#include <algorithm>
#include <utility>

#include "core/config/AsciiText.h"
#include "core/oauth/LocalPassword.h"
#include "core/oauth/OAuthProvider.h"
#include "core/oauth/TokenForms.h"
#include "core/oauth/TokenRecordText.h"
#include "core/oauth/TokenResponse.h"

namespace vantel {
namespace {

bool SameAccount(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

AccessTokenAnswer Made(AccessTokenAnswer::Kind kind, std::string reason, std::string token = {}) {
    AccessTokenAnswer answer;
    answer.kind = kind;
    answer.reason = std::move(reason);
    answer.token = std::move(token);
    return answer;
}

}  // namespace

TokenBroker::TokenBroker(EventLoop& loop, TokenStore& store, HttpClient& http, WallClock& clock,
                         Crypto& crypto, Notifier& notifier, SignInHint hint)
    : loop_(loop),
      store_(store),
      http_(http),
      clock_(clock),
      crypto_(crypto),
      notifier_(notifier),
      hint_(std::move(hint)),
      defaults_(OAuthDefaults::BuiltIn()) {}

TokenBroker::~TokenBroker() {
    *alive_ = false;
}

TokenBroker::Account& TokenBroker::Fetch(const std::string& key) {
    Account& account = accounts_[key];
    const std::uint64_t generation = store_.Generation(key);
    if (account.loaded && generation != 0 && generation == account.generation) {
        return account;
    }
    const bool first = !account.loaded;
    account.loaded = true;
    account.generation = generation;
    std::optional<TokenRecord> was = std::move(account.record);
    account.record.reset();
    account.problem.clear();
    TokenStore::Loaded loaded = store_.Load(key);
    if (loaded.record) {
        std::string error;
        account.record = TokenRecordText::Read(*loaded.record, error);
        account.problem = error;
    } else {
        account.problem = loaded.problem;
    }
    const bool changed =
        !first && (!was || !account.record || was->RefreshToken != account.record->RefreshToken ||
                   was->LocalPasswordHash != account.record->LocalPasswordHash);
    if (changed) {
        // A new sign-in: whatever went wrong with the old one no longer holds.
        account.backOff = 0;
        account.retryAt = 0;
        account.lastNotice.clear();
    }
    return account;
}

bool TokenBroker::CheckLocalLogin(const OAuthSignIn& signIn, std::string_view account,
                                  std::string_view password) {
    if (signIn.Account.empty() || !SameAccount(account, signIn.Account)) {
        return false;
    }
    const Account& state = Fetch(TokenRecordText::Key(signIn));
    if (!state.record || state.record->LocalPasswordHash.empty()) {
        return false;
    }
    return LocalPassword::Verify(crypto_, password, state.record->LocalPasswordHash);
}

void TokenBroker::Request(const OAuthSignIn& signIn, bool renew,
                          std::function<void(AccessTokenAnswer)> done) {
    using Kind = AccessTokenAnswer::Kind;
    const std::string key = TokenRecordText::Key(signIn);
    Account& account = Fetch(key);
    if (!account.record) {
        const std::string why = account.problem.empty()
                                    ? signIn.Account + " is not signed in yet"
                                    : "its sign-in cannot be read: " + account.problem;
        if (!account.problem.empty()) {
            Tell(account, "The OAuth 2.0 sign-in of " + signIn.Account + " cannot be read (" +
                              account.problem + "): " + hint_(signIn));
        }
        Answer(std::move(done), Made(Kind::SignInNeeded, why + "; " + hint_(signIn)));
        return;
    }
    const TokenRecord& record = *account.record;
    if (record.SignInNeeded) {
        Answer(std::move(done),
               Made(Kind::SignInNeeded, record.SignInNeededReason + "; " + hint_(signIn)));
        return;
    }
    const std::int64_t now = clock_.NowSeconds();
    const bool fresh =
        !record.AccessToken.empty() && record.AccessExpiry - now >= kRenewMarginSeconds;
    if (fresh && (!renew || now - account.renewedAt < kJustRenewedSeconds)) {
        Answer(std::move(done), Made(Kind::Token, {}, record.AccessToken));
        return;
    }
    if (account.renewing) {
        account.waiting.push_back(std::move(done));
        return;
    }
    if (now < account.retryAt) {
        Answer(std::move(done),
               Made(Kind::Temporary, account.lastFailure + "; the next try in " +
                                         std::to_string(account.retryAt - now) + " s"));
        return;
    }
    account.waiting.push_back(std::move(done));
    Renew(key, signIn);
}

void TokenBroker::Renew(const std::string& key, const OAuthSignIn& signIn) {
    Account& account = accounts_[key];
    std::string error;
    const std::optional<OAuthProvider> provider = OAuthProvider::Resolve(signIn, defaults_, error);
    if (!provider) {
        Finish(account, Made(AccessTokenAnswer::Kind::SignInNeeded, error));
        return;
    }
    account.renewing = true;
    HttpRequest request;
    request.url = provider->tokenUrl;
    request.form = TokenForms::Refresh(*provider, account.record->RefreshToken);
    http_.PostForm(std::move(request), [this, alive = std::weak_ptr<bool>(alive_), key, signIn,
                                        name = provider->name](HttpResponse response) {
        const std::shared_ptr<bool> live = alive.lock();
        if (live && *live) {
            Renewed(key, signIn, name, response);
        }
    });
}

void TokenBroker::Renewed(const std::string& key, const OAuthSignIn& signIn,
                          const std::string& provider, const HttpResponse& http) {
    using Kind = AccessTokenAnswer::Kind;
    Account& account = accounts_[key];
    account.renewing = false;
    const TokenResponse response = TokenResponse::Read(provider, http);
    const std::int64_t now = clock_.NowSeconds();
    const std::optional<std::string> oldRefresh =
        account.record ? std::optional<std::string>(account.record->RefreshToken) : std::nullopt;
    // Someone signed in again while the renewal was under way: that record is the one to keep.
    Fetch(key);
    if (!account.record || account.record->RefreshToken != oldRefresh) {
        if (response.kind == TokenResponse::Kind::Success) {
            Finish(account, Made(Kind::Token, {}, response.accessToken));
        } else {
            Finish(account, Made(Kind::Temporary, "the sign-in changed while it was renewed"));
        }
        return;
    }
    if (response.kind == TokenResponse::Kind::Temporary) {
        Failed(account, Made(Kind::Temporary, response.reason), response.retryAfterSeconds);
        return;
    }
    if (response.kind == TokenResponse::Kind::Permanent) {
        if (response.error == "invalid_grant") {
            // The old record stays, marked, until a new sign-in replaces it.
            TokenRecord marked = *account.record;
            marked.SignInNeeded = true;
            marked.SignInNeededReason = response.reason;
            std::string error;
            if (store_.Save(key, TokenRecordText::Write(marked), error)) {
                account.generation = store_.Generation(key);
            }
            account.record = std::move(marked);
        }
        Tell(account, "The OAuth 2.0 sign-in of " + signIn.Account +
                          " was refused: " + response.reason + ". " + hint_(signIn));
        Failed(account, Made(Kind::SignInNeeded, response.reason + "; " + hint_(signIn)),
               response.retryAfterSeconds);
        return;
    }
    TokenRecord renewed = *account.record;
    renewed.AccessToken = response.accessToken;
    renewed.AccessExpiry = now + response.expiresIn;
    if (!response.refreshToken.empty() && response.refreshToken != renewed.RefreshToken) {
        renewed.RefreshToken = response.refreshToken;
        renewed.RefreshedAt = now;
    }
    if (!response.scope.empty()) {
        renewed.Scopes = response.scope;
    }
    // A rotated refresh token is kept before the access token is used: were it lost, the
    // next renewal would have only the one the provider has just retired.
    std::string error;
    if (!store_.Save(key, TokenRecordText::Write(renewed), error)) {
        Tell(account, "Vantel could not keep the renewed OAuth 2.0 sign-in of " + signIn.Account +
                          " in " + store_.Location() + ": " + error);
        Failed(account, Made(Kind::Temporary, "the renewed sign-in could not be saved"), 0);
        return;
    }
    account.record = std::move(renewed);
    account.generation = store_.Generation(key);
    account.renewedAt = now;
    account.backOff = 0;
    account.retryAt = 0;
    account.lastFailure.clear();
    account.lastNotice.clear();
    Finish(account, Made(Kind::Token, {}, account.record->AccessToken));
}

void TokenBroker::Failed(Account& account, AccessTokenAnswer answer,
                         std::uint32_t retryAfterSeconds) {
    account.backOff = account.backOff == 0 ? kFirstBackOffSeconds
                                           : std::min(account.backOff * 2, kMaxBackOffSeconds);
    // The provider's own Retry-After wins where it asks for longer, up to the longest wait.
    const std::int64_t asked = std::min<std::int64_t>(retryAfterSeconds, kMaxBackOffSeconds);
    account.retryAt = clock_.NowSeconds() + std::max(account.backOff, asked);
    account.lastFailure = answer.reason;
    Finish(account, answer);
}

void TokenBroker::Finish(Account& account, const AccessTokenAnswer& answer) {
    std::vector<std::function<void(AccessTokenAnswer)>> waiting;
    waiting.swap(account.waiting);
    for (auto& done : waiting) {
        Answer(std::move(done), answer);
    }
}

void TokenBroker::Answer(std::function<void(AccessTokenAnswer)> done, AccessTokenAnswer answer) {
    loop_.Post([done = std::move(done), answer = std::move(answer)]() mutable {
        done(std::move(answer));
    });
}

void TokenBroker::Tell(Account& account, const std::string& text) {
    if (account.lastNotice == text) {
        return;
    }
    account.lastNotice = text;
    notifier_.ShowWarning(text);
}

}  // namespace vantel
