// The `state` of one authorization request: the redirect that comes back must carry it, and
// only the first one counts, so a forged or replayed redirect gets no code exchanged.
#pragma once

#include <string>
#include <string_view>

#include "platform/Crypto.h"

namespace vantel {

class SignInState {
  public:
    /// 16 random bytes, base64url.
    explicit SignInState(Crypto& crypto);

    const std::string& Value() const { return value_; }
    /// Whether `received` is this state, compared in constant time. The first call uses the
    /// state up: every later one is refused, whatever it brings.
    bool Accept(std::string_view received);
    bool Used() const { return used_; }

  private:
    std::string value_;
    bool used_ = false;
};

}  // namespace vantel
