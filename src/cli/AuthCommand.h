// vantel auth N: signs an OAuth 2.0 entry's account in, shows its sign-in, or signs it out.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliContext.h"
#include "cli/SignInTools.h"
#include "core/config/ServerEntry.h"
#include "core/oauth/OAuthProvider.h"
#include "core/oauth/TokenResponse.h"
#include "platform/EventLoop.h"
#include "platform/HttpClient.h"

namespace vantel {

class AuthCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel auth N [--paste | --device] [--password-stdin]\n"
        "       vantel auth N --status | --sign-out\n"
        "Signs in the account of OAuth 2.0 entry N (the number vantel show gives) with its\n"
        "provider. The sign-in page is shown, and opened in the browser where there is a\n"
        "display; the browser brings the answer back to this computer. Then the local password\n"
        "the mail client logs in to the relay with is shown, once. The tokens are kept apart\n"
        "from the settings and renewed by the relay.\n"
        "  --paste           for a browser on another computer: after signing in there, paste\n"
        "                    the address the browser could not open\n"
        "  --device          sign in on any device with a code (Microsoft and providers with a\n"
        "                    device URL)\n"
        "  --password-stdin  take the local password from the first line of standard input\n"
        "                    instead of making one\n"
        "  --status          who is signed in, until when, and whether a new sign-in is needed\n"
        "  --sign-out        forget the entry's tokens\n";

    explicit AuthCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

  private:
    int Status(const ServerEntry& entry, std::size_t number);
    int SignOut(const ServerEntry& entry, std::size_t number);
    /// The flows end with the token endpoint's answer, or nullopt when the user was told why
    /// there is none.
    std::optional<TokenResponse> ByBrowser(const OAuthProvider& provider, const ServerEntry& entry,
                                           std::size_t number);
    std::optional<TokenResponse> ByPaste(const OAuthProvider& provider, const ServerEntry& entry);
    std::optional<TokenResponse> ByDevice(const OAuthProvider& provider, const ServerEntry& entry,
                                          std::size_t number);
    /// Runs a sign-in flow by browser or `device` code to its end; `again` is the hint that
    /// ends the message when it timed out.
    std::optional<TokenResponse> Run(const OAuthProvider& provider, const ServerEntry& entry,
                                     bool device, const std::function<std::string()>& again);
    /// Posts and runs `loop` until the answer is there.
    static HttpResponse PostAndWait(EventLoop& loop, HttpClient& http, HttpRequest request);
    /// Keeps the tokens with a new local password and tells the user; the exit status.
    int Keep(const TokenResponse& tokens, const OAuthProvider& provider, const ServerEntry& entry,
             std::size_t number, const std::optional<std::string>& givenPassword);

    CliContext& context_;
};

}  // namespace vantel
