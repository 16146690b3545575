#include "tray/TraySignIn.h"

#include <algorithm>
#include <utility>

#include "core/oauth/LocalPassword.h"
#include "core/oauth/TokenRecordText.h"
#include "platform/EscapedText.h"

namespace vantel {

TraySignIn::TraySignIn(EventLoop& loop, SignInKit kit, std::function<OAuthDefaults()> defaults)
    : loop_(loop), kit_(kit), defaults_(std::move(defaults)) {}

TraySignIn::~TraySignIn() {
    ++*generation_;
}

TraySignIn::Stored TraySignIn::Read(const OAuthSignIn& signIn) {
    if (signIn.Account.empty()) {
        return {false, "Not signed in"};
    }
    const TokenStore::Loaded loaded = kit_.tokens->Load(TokenRecordText::Key(signIn));
    if (!loaded.problem.empty()) {
        return {false, "Sign-in needed: " + OneLine(loaded.problem)};
    }
    if (!loaded.record) {
        return {false, "Not signed in"};
    }
    std::string error;
    const auto record = TokenRecordText::Read(*loaded.record, error);
    if (!record) {
        return {false,
                "Sign-in needed: the stored sign-in cannot be read (" + OneLine(error) + ")"};
    }
    if (record->SignInNeeded) {
        return {false, "Sign-in needed: " + OneLine(record->SignInNeededReason.empty()
                                                        ? "the provider refused the renewal"
                                                        : record->SignInNeededReason)};
    }
    return {true, "Signed in as " + OneLine(record->Account) + "; renewed automatically"};
}

std::string TraySignIn::Status(const OAuthSignIn& signIn) {
    return Read(signIn).line;
}

std::vector<std::size_t> TraySignIn::EntriesNeedingSignIn(const RelaySettings& settings) {
    std::vector<std::size_t> needed;
    std::vector<std::string> seen;  // one sign-in per account, whatever entries name it
    for (std::size_t i = 0; i < settings.ServerList.size(); ++i) {
        const ServerEntry& entry = settings.ServerList[i];
        if (!entry.SignsInWithOAuth() || entry.OAuth.Account.empty()) {
            continue;
        }
        const std::string key = TokenRecordText::Key(entry.OAuth);
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
            continue;
        }
        seen.push_back(key);
        if (!Read(entry.OAuth).signedIn) {
            needed.push_back(i);
        }
    }
    return needed;
}

bool TraySignIn::Offers(const OAuthSignIn& signIn, Way way) {
    if (way == Way::Browser) {
        return true;
    }
    std::string error;
    const auto provider = OAuthProvider::Resolve(signIn, defaults_(), error);
    return provider && !provider->deviceUrl.empty();
}

bool TraySignIn::Start(const OAuthSignIn& signIn, Way way, OnProgress onProgress, OnDone onDone,
                       std::string& error) {
    Cancel();
    if (signIn.Account.empty()) {
        error = "Please enter the account to sign in as.";
        return false;
    }
    auto provider = OAuthProvider::Resolve(signIn, defaults_(), error);
    if (!provider) {
        return false;
    }
    flow_ = std::make_unique<SignInFlow>(
        SignInFlow::Tools{loop_, *kit_.http, *kit_.crypto, *kit_.browser, kit_.browserDeadlineMs},
        *provider, signIn.Account);
    const auto progress = [onProgress](const SignInFlow::Progress& step) {
        if (!onProgress) {
            return;
        }
        switch (step.step) {
            case SignInFlow::Progress::Step::OpenPage:
                if (!step.problem.empty()) {
                    onProgress("The browser was not opened (" + OneLine(step.problem) + "): open " +
                               OneLine(step.page) + " yourself.");
                }
                break;
            case SignInFlow::Progress::Step::WaitingForBrowser:
                onProgress("Waiting for the sign-in in the browser...");
                break;
            case SignInFlow::Progress::Step::EnterCode:
                onProgress("Open " + OneLine(step.page) + " and enter the code " +
                           OneLine(step.code));
                break;
        }
    };
    std::weak_ptr<int> generation = generation_;
    const int mine = *generation_;
    const auto done = [this, generation, mine, signIn, provider = *provider,
                       onDone](const SignInFlow::Outcome& outcome) {
        // The flow may not end inside its own callback: the rest follows on the next turn.
        loop_.Post([this, generation, mine, signIn, provider, onDone, outcome] {
            const auto alive = generation.lock();
            if (alive && *alive == mine) {
                Ended(signIn, provider, outcome, onDone);
            }
        });
    };
    const bool started = way == Way::Device ? flow_->StartDevice(progress, done, error)
                                            : flow_->StartBrowser(progress, done, error);
    if (!started) {
        flow_.reset();
        if (way == Way::Browser) {
            error = "The browser's answer cannot be received on this computer (" + OneLine(error) +
                    ").";
        }
        return false;
    }
    return true;
}

void TraySignIn::Ended(const OAuthSignIn& signIn, const OAuthProvider& provider,
                       const SignInFlow::Outcome& outcome, const OnDone& onDone) {
    flow_.reset();
    ++*generation_;
    Outcome result;
    if (outcome.end != SignInFlow::Outcome::End::Answered) {
        result.failure = outcome.failure;
    } else if (outcome.tokens.kind != TokenResponse::Kind::Success) {
        result.failure = outcome.tokens.reason;
    } else {
        const std::string password = LocalPassword::Make(*kit_.crypto);
        std::string error;
        if (SignInFlow::Keep(*kit_.tokens, *kit_.crypto, *kit_.clock, outcome.tokens, provider,
                             signIn, password, error)) {
            result.signedIn = true;
            result.localPassword = password;
        } else {
            result.failure = error;
        }
    }
    if (onDone) {
        onDone(result);
    }
}

void TraySignIn::Cancel() {
    ++*generation_;
    flow_.reset();
}

}  // namespace vantel
