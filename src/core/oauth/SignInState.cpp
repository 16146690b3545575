#include "core/oauth/SignInState.h"

#include "core/oauth/Base64.h"
#include "core/oauth/ConstantTime.h"

namespace vantel {

SignInState::SignInState(Crypto& crypto) : value_(Base64UrlEncode(crypto.RandomBytes(16))) {}

bool SignInState::Accept(std::string_view received) {
    if (used_) {
        return false;
    }
    used_ = true;
    return !received.empty() && ConstantTimeEquals(received, value_);
}

}  // namespace vantel
