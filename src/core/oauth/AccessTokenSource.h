// What a relayed session asks of the sign-in machinery when its client logs in.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/config/OAuthSignIn.h"
#include "core/oauth/OAuthDefaults.h"

namespace vantel {

struct AccessTokenAnswer {
    enum class Kind {
        Token,         ///< `token` holds for at least the refresh margin
        Temporary,     ///< the provider could not be reached: try again later
        SignInNeeded,  ///< no tokens, or the provider refused them: `vantel auth` again
    };
    Kind kind = Kind::Temporary;
    std::string token;
    std::string reason;  ///< for people; never holds a secret
};

class AccessTokenSource {
  public:
    virtual ~AccessTokenSource() = default;
    /// The program-wide client registrations, as the settings give them now.
    virtual void SetDefaults(const OAuthDefaults& defaults) { (void)defaults; }
    /// Whether `account` and `password` are what the client must log in with for `signIn`:
    /// the account as the entry names it (in any letter case) and its local password,
    /// compared in constant time.
    virtual bool CheckLocalLogin(const OAuthSignIn& signIn, std::string_view account,
                                 std::string_view password) = 0;
    /// An access token for `signIn`'s account, renewed first when it is due or when `renew`
    /// (the server refused the last one). `done` runs on the loop, never inside the call,
    /// and even when whoever asked is gone by then.
    virtual void Request(const OAuthSignIn& signIn, bool renew,
                         std::function<void(AccessTokenAnswer)> done) = 0;
};

}  // namespace vantel
