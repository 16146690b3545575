#include "core/oauth/SignInFlow.h"

#include <utility>

#include "core/oauth/AuthorizationRequest.h"
#include "core/oauth/ConstantTime.h"
#include "core/oauth/DeviceAuthorization.h"
#include "core/oauth/LocalPassword.h"
#include "core/oauth/OAuthAdvice.h"
#include "core/oauth/RedirectAnswer.h"
#include "core/oauth/TokenForms.h"
#include "core/oauth/TokenRecordText.h"
#include "platform/EscapedText.h"
#include "platform/LoopbackRedirectListener.h"

namespace vantel {

struct SignInFlow::Device {
    DeviceAuthorization authorization;
    std::uint64_t expiryMs = 0;
};

namespace {

/// Microsoft registrations made in the portal know "http://localhost" only; Google and
/// others take the address itself, which no hosts file can send elsewhere.
std::string ListenerRedirect(const OAuthProvider& provider, std::uint16_t port) {
    return std::string(provider.kind == OAuthProvider::Kind::Microsoft ? "http://localhost:"
                                                                       : "http://127.0.0.1:") +
           std::to_string(port) + "/";
}

}  // namespace

SignInFlow::SignInFlow(Tools tools, OAuthProvider provider, std::string account)
    : tools_(tools),
      provider_(std::move(provider)),
      account_(std::move(account)),
      pkce_(Pkce::Make(tools.crypto)),
      state_(tools.crypto),
      self_(std::make_shared<SignInFlow*>(this)) {}

SignInFlow::~SignInFlow() {
    *self_ = nullptr;
    if (timer_ != 0) {
        tools_.loop.StopTimer(timer_);
    }
}

std::string SignInFlow::PasteRedirect(const OAuthProvider& provider) {
    // Google takes any loopback port; Microsoft ignores the port of a localhost redirect.
    return provider.kind == OAuthProvider::Kind::Microsoft ? "http://localhost:1/"
                                                           : "http://127.0.0.1:1/";
}

bool SignInFlow::Ours(SignInState& state, const std::string& answerState) {
    return !answerState.empty() && ConstantTimeEquals(answerState, state.Value()) &&
           state.Accept(answerState);
}

std::string SignInFlow::Refusal(const OAuthProvider& provider, const std::string& error,
                                const std::string& description) {
    std::string advice = OAuthAdvice(provider.name, error, description);
    if (!advice.empty()) {
        return advice;
    }
    advice = "the provider refused the sign-in: " + OneLine(error);
    if (!description.empty()) {
        advice += " (" + OneLine(description) + ")";
    }
    return advice;
}

void SignInFlow::Finish(Outcome outcome) {
    if (done_) {
        return;
    }
    done_ = true;
    if (timer_ != 0) {
        tools_.loop.StopTimer(timer_);
        timer_ = 0;
    }
    OnDone done = std::move(onDone_);
    done(outcome);
}

bool SignInFlow::StartBrowser(OnProgress onProgress, OnDone onDone, std::string& error) {
    onDone_ = std::move(onDone);
    listener_ = std::make_unique<LoopbackRedirectListener>(tools_.loop);
    const auto onRequest = [this](const std::string& target) -> LoopbackRedirectListener::Reply {
        std::string problem;
        const auto answer = RedirectAnswer::Parse(target, "/", problem);
        if (done_ || !answer || !Ours(state_, answer->state)) {
            return {LoopbackRedirectListener::Verdict::NotTheAnswer,
                    "This is not the answer to the sign-in under way."};
        }
        if (!answer->error.empty()) {
            const std::string failure = Refusal(provider_, answer->error, answer->errorDescription);
            // Told a moment later, so that the page goes out before a front end stops.
            timer_ = tools_.loop.StartTimer(200, false, [this, failure] {
                timer_ = 0;
                Finish({Outcome::End::Refused, {}, failure});
            });
            return {LoopbackRedirectListener::Verdict::Failure, "The sign-in failed: " + failure};
        }
        std::weak_ptr<SignInFlow*> self = self_;
        const std::string provider = provider_.name;
        tools_.http.PostForm(
            {provider_.tokenUrl,
             TokenForms::Code(provider_, answer->code, redirectUri_, pkce_.verifier)},
            [self, provider](HttpResponse response) {
                const auto alive = self.lock();
                if (alive && *alive != nullptr) {
                    (*alive)->Finish(
                        {Outcome::End::Answered, TokenResponse::Read(provider, response), {}});
                }
            });
        return {LoopbackRedirectListener::Verdict::Answer,
                "Vantel has the answer and finishes the sign-in. You can close this tab."};
    };
    const auto onTimeOut = [this] {
        Finish({Outcome::End::TimedOut,
                {},
                "no answer came from the browser within " +
                    std::to_string(tools_.browserDeadlineMs / 60000) + " minutes"});
    };
    if (!listener_->Start("/", tools_.browserDeadlineMs, onRequest, onTimeOut, error)) {
        listener_.reset();
        return false;
    }
    redirectUri_ = ListenerRedirect(provider_, listener_->port());
    AuthorizationRequest request{redirectUri_, state_.Value(), pkce_.challenge, account_};
    Progress progress;
    progress.page = request.Url(provider_);
    if (!tools_.browser.Open(progress.page, progress.problem) && progress.problem.empty()) {
        progress.problem = "it could not be started";
    }
    if (onProgress) {
        onProgress(progress);
        onProgress({Progress::Step::WaitingForBrowser, progress.page, {}, {}, {}});
    }
    return true;
}

bool SignInFlow::StartDevice(OnProgress onProgress, OnDone onDone, std::string& error) {
    if (provider_.deviceUrl.empty()) {
        error = "this provider has no device sign-in";
        return false;
    }
    onDone_ = std::move(onDone);
    std::weak_ptr<SignInFlow*> self = self_;
    tools_.http.PostForm(
        {provider_.deviceUrl, TokenForms::DeviceStart(provider_)},
        [self, onProgress = std::move(onProgress)](HttpResponse start) {
            const auto alive = self.lock();
            if (!alive || *alive == nullptr) {
                return;
            }
            SignInFlow& flow = **alive;
            if (start.status == 0) {
                flow.Finish({Outcome::End::Failed,
                             {},
                             "the provider's device sign-in could not be reached: " +
                                 OneLine(start.error)});
                return;
            }
            std::string why;
            auto authorization = DeviceAuthorization::Read(start.status, start.body, why);
            if (!authorization) {
                flow.Finish({Outcome::End::Failed,
                             {},
                             "the provider gave no device code: " + OneLine(why)});
                return;
            }
            flow.device_ = std::make_unique<Device>();
            flow.device_->authorization = std::move(*authorization);
            const DeviceAuthorization& device = flow.device_->authorization;
            flow.device_->expiryMs =
                flow.tools_.loop.NowMs() + static_cast<std::uint64_t>(device.expiresIn) * 1000;
            if (onProgress) {
                Progress progress;
                progress.step = Progress::Step::EnterCode;
                progress.page = device.verificationUriComplete.empty()
                                    ? device.verificationUri
                                    : device.verificationUriComplete;
                progress.code = device.userCode;
                progress.message = device.message;
                onProgress(progress);
            }
            flow.PollLater();
        });
    return true;
}

void SignInFlow::PollLater() {
    const std::uint64_t delayMs =
        static_cast<std::uint64_t>(device_->authorization.intervalSeconds) * 1000;
    if (tools_.loop.NowMs() + delayMs > device_->expiryMs) {
        Finish({Outcome::End::CodeExpired, {}, "the code expired before it was entered"});
        return;
    }
    timer_ = tools_.loop.StartTimer(static_cast<std::uint32_t>(delayMs), false, [this] {
        timer_ = 0;
        Poll();
    });
}

void SignInFlow::Poll() {
    std::weak_ptr<SignInFlow*> self = self_;
    tools_.http.PostForm(
        {provider_.tokenUrl, TokenForms::DevicePoll(provider_, device_->authorization.deviceCode)},
        [self](HttpResponse response) {
            const auto alive = self.lock();
            if (!alive || *alive == nullptr) {
                return;
            }
            SignInFlow& flow = **alive;
            TokenResponse answer = TokenResponse::Read(flow.provider_.name, response);
            // An answer lost on the way is asked for again, like a pending one.
            const bool lost = answer.kind == TokenResponse::Kind::Temporary && answer.error.empty();
            if (answer.kind != TokenResponse::Kind::Success &&
                (lost || flow.device_->authorization.Next(answer.error) ==
                             DeviceAuthorization::Poll::Again)) {
                flow.PollLater();
                return;
            }
            flow.Finish({Outcome::End::Answered, std::move(answer), {}});
        });
}

bool SignInFlow::Keep(TokenStore& store, Crypto& crypto, WallClock& clock,
                      const TokenResponse& tokens, const OAuthProvider& provider,
                      const OAuthSignIn& signIn, const std::string& localPassword,
                      std::string& error) {
    if (tokens.refreshToken.empty()) {
        error = "the provider gave no refresh token; ask for offline access";
        return false;
    }
    const std::int64_t now = clock.NowSeconds();
    TokenRecord record;
    record.Account = signIn.Account;
    record.Provider = provider.name;
    record.TokenUrl = provider.tokenUrl;
    record.ClientId = provider.clientId;
    record.Tenant = provider.tenant;
    record.Scopes = tokens.scope.empty() ? provider.scopes : tokens.scope;
    record.AccessToken = tokens.accessToken;
    record.AccessExpiry = now + tokens.expiresIn;
    record.RefreshToken = tokens.refreshToken;
    record.RefreshedAt = now;
    record.LocalPasswordHash = LocalPassword::Hash(crypto, localPassword);
    std::string why;
    if (!store.Save(TokenRecordText::Key(signIn), TokenRecordText::Write(record), why)) {
        error = "the tokens could not be kept (" + OneLine(why) +
                "); the sign-in kept before, if any, is unchanged";
        return false;
    }
    return true;
}

}  // namespace vantel
