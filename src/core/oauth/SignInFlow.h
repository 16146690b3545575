// One sign-in of an account with its provider, on the event loop: by the system's browser (its
// answer comes back to a loopback listener) or by a code entered on any device. The command
// line runs the loop until it ends; the tray program's dialog goes on meanwhile and may cancel.
//
//   SignInFlow flow(tools, provider, account);
//   flow.StartBrowser(onProgress, [&](const SignInFlow::Outcome& outcome) { ... }, error);
//   ... the loop runs; destroying the flow cancels it ...
//   SignInFlow::Keep(store, crypto, clock, outcome.tokens, provider, entry.OAuth, password, error);
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/oauth/OAuthProvider.h"
#include "core/oauth/Pkce.h"
#include "core/oauth/SignInState.h"
#include "core/oauth/TokenResponse.h"
#include "platform/BrowserLauncher.h"
#include "platform/Crypto.h"
#include "platform/EventLoop.h"
#include "platform/HttpClient.h"
#include "platform/TokenStore.h"
#include "platform/WallClock.h"

namespace vantel {

class LoopbackRedirectListener;

class SignInFlow {
  public:
    struct Tools {
        EventLoop& loop;
        HttpClient& http;  ///< answers on `loop`
        Crypto& crypto;
        BrowserLauncher& browser;
        /// How long the browser has to bring the answer back.
        std::uint32_t browserDeadlineMs = 5 * 60 * 1000;
    };

    /// What the user is to do now.
    struct Progress {
        enum class Step {
            OpenPage,           ///< `page` is the sign-in page; `problem` says why the browser
                                ///< was not opened (empty: it was)
            EnterCode,          ///< open `page` and enter `code`; `message` is the provider's
            WaitingForBrowser,  ///< the page is open, the answer not yet back
        };
        Step step = Step::OpenPage;
        std::string page;
        std::string code;
        std::string message;
        std::string problem;
    };
    using OnProgress = std::function<void(const Progress& progress)>;

    struct Outcome {
        enum class End {
            Answered,     ///< the token endpoint answered: `tokens` (which may be a refusal)
            Refused,      ///< the provider refused in the browser: `failure`
            TimedOut,     ///< no answer within the deadline: `failure`
            CodeExpired,  ///< the device code ran out: `failure`
            Failed,       ///< the provider could not be asked: `failure`
        };
        End end = End::Failed;
        TokenResponse tokens;
        std::string failure;  ///< in words, without a hint of what to run next
    };
    using OnDone = std::function<void(const Outcome& outcome)>;

    SignInFlow(Tools tools, OAuthProvider provider, std::string account);
    /// Cancels a sign-in under way: no callback runs after it. Not inside its own callbacks
    /// (the listener may be the caller): a front end that ends it there posts the end.
    ~SignInFlow();
    SignInFlow(const SignInFlow&) = delete;
    SignInFlow& operator=(const SignInFlow&) = delete;

    /// Listens for the browser's answer and opens the sign-in page. `onDone` runs once, later.
    /// False with `error` when no listener can be had.
    bool StartBrowser(OnProgress onProgress, OnDone onDone, std::string& error);
    /// Asks the provider for a device code and polls for the tokens. False with `error` when
    /// the provider has no device sign-in.
    bool StartDevice(OnProgress onProgress, OnDone onDone, std::string& error);

    /// The redirect a pasted answer names: a port where nothing listens, so the browser keeps
    /// the code in its address bar for the user to copy.
    static std::string PasteRedirect(const OAuthProvider& provider);
    /// Whether a redirect's `state` belongs to this sign-in; only the matching one uses it up,
    /// so a stray or forged redirect cannot cancel the sign-in, and a replay is refused.
    static bool Ours(SignInState& state, const std::string& answerState);
    /// The provider's refusal carried by a redirect, in words.
    static std::string Refusal(const OAuthProvider& provider, const std::string& error,
                               const std::string& description);

    /// Keeps a successful answer as the record of `signIn`'s account, the local password's
    /// hash with it.
    /// False with `error` when it cannot be kept (no refresh token, a failed save); the record
    /// kept before, if any, is then unchanged.
    static bool Keep(TokenStore& store, Crypto& crypto, WallClock& clock,
                     const TokenResponse& tokens, const OAuthProvider& provider,
                     const OAuthSignIn& signIn, const std::string& localPassword,
                     std::string& error);

  private:
    struct Device;

    void Finish(Outcome outcome);
    void Poll();
    void PollLater();

    Tools tools_;
    OAuthProvider provider_;
    std::string account_;
    Pkce pkce_;
    SignInState state_;
    OnDone onDone_;
    std::unique_ptr<LoopbackRedirectListener> listener_;
    std::unique_ptr<Device> device_;
    std::string redirectUri_;
    TimerId timer_ = 0;
    bool done_ = false;
    /// Held by the callbacks handed to the HTTP client, which may answer after the flow is gone.
    std::shared_ptr<SignInFlow*> self_;
};

}  // namespace vantel
