// What a session lends the framer that logs in to the server for its client.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/oauth/AccessTokenSource.h"

namespace vantel {

class LoginHost {
  public:
    /// Where the access tokens come from; null where this program cannot sign in with OAuth.
    virtual AccessTokenSource* tokens() = 0;
    /// Sends bytes that came about outside a call of the framer (a token arrived, a delay is
    /// over): traced and delivered as the framer's output of a call would be.
    virtual void Emit(const std::string& toServer, const std::string& toClient) = 0;
    /// Runs `work` on the loop after `delayMs`, if the session is still running then.
    virtual void After(std::uint32_t delayMs, std::function<void()> work) = 0;
    /// A line of the relay's own in the trace.
    virtual void Note(std::string_view text) = 0;
    /// A client gave a wrong local login: how long its answer waits. Repeated failures wait
    /// longer, so that nobody can try passwords at the speed of the loopback.
    virtual std::uint32_t LoginFailed() = 0;
    /// A client logged in: the failures before it are forgotten.
    virtual void LoginSucceeded() = 0;

  protected:
    ~LoginHost() = default;
};

}  // namespace vantel
