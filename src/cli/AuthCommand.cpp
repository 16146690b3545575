#include "cli/AuthCommand.h"

#include <functional>
#include <istream>
#include <memory>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/SettingsSession.h"
#include "cli/SignInStatus.h"
#include "core/oauth/AuthorizationRequest.h"
#include "core/oauth/LocalPassword.h"
#include "core/oauth/OAuthDefaults.h"
#include "core/oauth/Pkce.h"
#include "core/oauth/RedirectAnswer.h"
#include "core/oauth/SignInFlow.h"
#include "core/oauth/SignInState.h"
#include "core/oauth/TokenForms.h"
#include "core/oauth/TokenRecordText.h"
#include "platform/EscapedText.h"

namespace vantel {
namespace {

std::string Server(std::size_t number) {
    return "server " + std::to_string(number);
}

bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line) && line.empty()) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

}  // namespace

int AuthCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {{"--paste", false},
                            {"--device", false},
                            {"--password-stdin", false},
                            {"--status", false},
                            {"--sign-out", false}}) ||
        line.operands().size() != 1) {
        return UsageError(context_, "auth",
                          line.error().empty() ? "give the entry's number N" : line.error());
    }
    const int modes = static_cast<int>(line.Has("--paste")) + line.Has("--device") +
                      line.Has("--status") + line.Has("--sign-out");
    if (modes > 1) {
        return UsageError(context_, "auth",
                          "--paste, --device, --status and --sign-out exclude each other");
    }
    if (line.Has("--password-stdin") && (line.Has("--status") || line.Has("--sign-out"))) {
        return UsageError(context_, "auth", "--password-stdin goes with a sign-in only");
    }
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    const RelaySettings& settings = session.settings();
    const int index =
        EntryIndex(context_, "server", line.operands()[0], settings.ServerList.size());
    if (index < 0) {
        return kExitFailed;
    }
    const std::size_t number = static_cast<std::size_t>(index) + 1;
    const ServerEntry& entry = settings.ServerList[static_cast<std::size_t>(index)];
    const std::string edit = "vantel server edit " + std::to_string(number);
    if (!entry.SignsInWithOAuth()) {
        return Fail(context_, Server(number) +
                                  " signs in with a password, not OAuth 2.0: make it an OAuth 2.0 "
                                  "entry first (" +
                                  edit + " --sign-in oauth2 --provider NAME --account ADDRESS)");
    }
    if (entry.SignIn != StoredSignInMethod(SignInMethod::OAuth2)) {
        return Fail(context_, Server(number) +
                                  " has a sign-in method this version does not know: " + edit +
                                  " --sign-in password|oauth2");
    }
    if (entry.OAuth.Account.empty()) {
        return Fail(context_, Server(number) + " names no account to sign in: " + edit +
                                  " --account ADDRESS");
    }
    if (context_.signIn == nullptr) {
        return Fail(context_,
                    "signing in from the command line is not available on this system "
                    "yet");
    }
    if (context_.signIn->tokens == nullptr) {
        return Fail(context_, "there is no place to keep the tokens: set HOME or XDG_STATE_HOME");
    }
    if (line.Has("--status")) {
        return Status(entry, number);
    }
    if (line.Has("--sign-out")) {
        return SignOut(entry, number);
    }

    std::string error;
    const auto provider = OAuthProvider::Resolve(entry.OAuth, OAuthDefaults::Of(settings), error);
    if (!provider) {
        return Fail(context_, Server(number) + " cannot sign in: " + error + " (see vantel check)");
    }
    if (line.Has("--device") && provider->deviceUrl.empty()) {
        return Fail(context_, "this provider has no device sign-in; use the browser (vantel auth " +
                                  std::to_string(number) + ") or --paste");
    }
    // Read first, so that a password that will not do fails before the user signs in.
    std::optional<std::string> givenPassword;
    if (line.Has("--password-stdin")) {
        std::string password;
        if (!ReadLine(context_.in, password)) {
            return Fail(context_, "--password-stdin: standard input gave no line");
        }
        const std::string problem = LocalPassword::Problem(password);
        if (!problem.empty()) {
            return Fail(context_, "that local password will not do: " + problem);
        }
        givenPassword = std::move(password);
    }
    const std::optional<TokenResponse> tokens =
        line.Has("--device")  ? ByDevice(*provider, entry, number)
        : line.Has("--paste") ? ByPaste(*provider, entry)
                              : ByBrowser(*provider, entry, number);
    if (!tokens) {
        return kExitFailed;
    }
    if (tokens->kind != TokenResponse::Kind::Success) {
        return Fail(context_, "the sign-in failed: " + tokens->reason);
    }
    return Keep(*tokens, *provider, entry, number, givenPassword);
}

int AuthCommand::Status(const ServerEntry& entry, std::size_t number) {
    const TokenStore::Loaded loaded =
        context_.signIn->tokens->Load(TokenRecordText::Key(entry.OAuth));
    if (!loaded.problem.empty()) {
        return Fail(context_, loaded.problem);
    }
    std::ostream& out = context_.out;
    if (!loaded.record) {
        out << "Server " << number << ": " << SignInStatus::Line(context_.signIn, entry, number)
            << '\n';
        return kExitOk;
    }
    std::string error;
    const auto record = TokenRecordText::Read(*loaded.record, error);
    if (!record) {
        return Fail(context_, "the stored sign-in cannot be read (" + OneLine(error) +
                                  "): run vantel auth " + std::to_string(number));
    }
    out << "Server " << number << ": signed in as " << OneLine(record->Account) << " with "
        << OneLine(record->Provider)
        << "\n  access until: " << SignInStatus::UtcTime(record->AccessExpiry)
        << " (renewed by the relay before then)\n  refresh token issued: "
        << SignInStatus::UtcTime(record->RefreshedAt) << "\n  new sign-in needed: ";
    if (record->SignInNeeded) {
        out << "yes, " << OneLine(record->SignInNeededReason) << ": run vantel auth " << number
            << '\n';
    } else {
        out << "no\n";
    }
    return kExitOk;
}

int AuthCommand::SignOut(const ServerEntry& entry, std::size_t number) {
    TokenStore& store = *context_.signIn->tokens;
    const std::string key = TokenRecordText::Key(entry.OAuth);
    const TokenStore::Loaded loaded = store.Load(key);
    const std::string account = OneLine(entry.OAuth.Account);
    if (!loaded.record && loaded.problem.empty()) {
        context_.out << account << " is not signed in to " << Server(number) << ": nothing to do\n";
        return kExitOk;
    }
    std::string error;
    if (!store.Remove(key, error)) {
        return Fail(context_, "the tokens could not be deleted: " + OneLine(error));
    }
    context_.out << "Signed out " << account << " from " << Server(number) << '\n';
    return kExitOk;
}

HttpResponse AuthCommand::PostAndWait(EventLoop& loop, HttpClient& http, HttpRequest request) {
    HttpResponse answer;
    http.PostForm(std::move(request), [&](HttpResponse response) {
        answer = std::move(response);
        loop.Quit();
    });
    loop.Run();
    return answer;
}

std::optional<TokenResponse> AuthCommand::ByBrowser(const OAuthProvider& provider,
                                                    const ServerEntry& entry, std::size_t number) {
    const auto again = [number] {
        return ": run vantel auth " + std::to_string(number) + " again, or with --paste";
    };
    return Run(provider, entry, false, again);
}

std::optional<TokenResponse> AuthCommand::Run(const OAuthProvider& provider,
                                              const ServerEntry& entry, bool device,
                                              const std::function<std::string()>& again) {
    SignInTools& tools = *context_.signIn;
    const std::unique_ptr<EventLoop> loop = CreateEventLoop();
    const std::unique_ptr<HttpClient> http = tools.makeHttp(*loop);
    SignInFlow flow({*loop, *http, *tools.crypto, *tools.browser, tools.browserDeadlineMs},
                    provider, entry.OAuth.Account);
    std::ostream& out = context_.out;
    const auto onProgress = [&out](const SignInFlow::Progress& progress) {
        switch (progress.step) {
            case SignInFlow::Progress::Step::OpenPage:
                out << "Open this page to sign in: " << OneLine(progress.page) << '\n';
                if (!progress.problem.empty()) {
                    out << "The browser was not opened: " << OneLine(progress.problem)
                        << "; open the page yourself\n";
                }
                break;
            case SignInFlow::Progress::Step::WaitingForBrowser:
                out << "Waiting for the browser's answer...\n" << std::flush;
                break;
            case SignInFlow::Progress::Step::EnterCode:
                out << "To sign in, open " << OneLine(progress.page) << " and enter the code "
                    << OneLine(progress.code) << '\n';
                if (!progress.message.empty()) {
                    out << OneLine(progress.message) << '\n';
                }
                out << "Waiting for the code to be entered...\n" << std::flush;
                break;
        }
    };
    std::optional<SignInFlow::Outcome> outcome;
    const auto onDone = [&](const SignInFlow::Outcome& end) {
        outcome = end;
        loop->Quit();
    };
    std::string error;
    const bool started = device ? flow.StartDevice(onProgress, onDone, error)
                                : flow.StartBrowser(onProgress, onDone, error);
    if (!started) {
        Fail(context_, device ? error
                              : "the browser's answer cannot be received here (" + OneLine(error) +
                                    "): use --paste");
        return std::nullopt;
    }
    loop->Run();
    if (!outcome) {
        Fail(context_, "the sign-in stopped without an answer");
        return std::nullopt;
    }
    switch (outcome->end) {
        case SignInFlow::Outcome::End::Answered:
            return outcome->tokens;
        case SignInFlow::Outcome::End::TimedOut:
        case SignInFlow::Outcome::End::CodeExpired:
            Fail(context_, outcome->failure + again());
            return std::nullopt;
        case SignInFlow::Outcome::End::Refused:
        case SignInFlow::Outcome::End::Failed:
            break;
    }
    Fail(context_, outcome->failure);
    return std::nullopt;
}

std::optional<TokenResponse> AuthCommand::ByPaste(const OAuthProvider& provider,
                                                  const ServerEntry& entry) {
    SignInTools& tools = *context_.signIn;
    const Pkce pkce = Pkce::Make(*tools.crypto);
    SignInState state(*tools.crypto);
    const std::string redirectUri = SignInFlow::PasteRedirect(provider);
    AuthorizationRequest request{redirectUri, state.Value(), pkce.challenge, entry.OAuth.Account};
    context_.out << "Open this page to sign in: " << OneLine(request.Url(provider)) << '\n'
                 << "After the sign-in the browser cannot open a page on " << redirectUri
                 << ": copy the whole address from its address bar and paste it here.\n"
                 << "Address: " << std::flush;
    std::string pasted;
    if (!ReadLine(context_.in, pasted)) {
        Fail(context_, "no address was pasted");
        return std::nullopt;
    }
    std::string problem;
    const auto answer = RedirectAnswer::Parse(pasted, "/", problem);
    if (!answer) {
        Fail(context_, "that address is no answer to the sign-in: " + problem);
        return std::nullopt;
    }
    if (!SignInFlow::Ours(state, answer->state)) {
        Fail(context_, "that address answers another sign-in, not this one: sign in again");
        return std::nullopt;
    }
    if (!answer->error.empty()) {
        Fail(context_, "the sign-in failed: " +
                           SignInFlow::Refusal(provider, answer->error, answer->errorDescription));
        return std::nullopt;
    }
    const std::unique_ptr<EventLoop> loop = CreateEventLoop();
    const std::unique_ptr<HttpClient> http = tools.makeHttp(*loop);
    const HttpResponse response = PostAndWait(
        *loop, *http,
        {provider.tokenUrl, TokenForms::Code(provider, answer->code, redirectUri, pkce.verifier)});
    return TokenResponse::Read(provider.name, response);
}

std::optional<TokenResponse> AuthCommand::ByDevice(const OAuthProvider& provider,
                                                   const ServerEntry& entry, std::size_t number) {
    const auto again = [number] {
        return ": run vantel auth " + std::to_string(number) + " --device again";
    };
    return Run(provider, entry, true, again);
}

int AuthCommand::Keep(const TokenResponse& tokens, const OAuthProvider& provider,
                      const ServerEntry& entry, std::size_t number,
                      const std::optional<std::string>& givenPassword) {
    SignInTools& tools = *context_.signIn;
    const std::string password =
        givenPassword ? *givenPassword : LocalPassword::Make(*tools.crypto);
    std::string error;
    if (!SignInFlow::Keep(*tools.tokens, *tools.crypto, *tools.clock, tokens, provider, entry.OAuth,
                          password, error)) {
        return Fail(context_, error);
    }
    const std::string account = OneLine(entry.OAuth.Account);
    if (!givenPassword) {
        context_.out << "Local password for " << account
                     << " (give it to your mail client; it is shown only this once): " << password
                     << '\n';
    }
    context_.out << "Signed in as " << account << " to " << Server(number)
                 << "; access renewed automatically\n";
    return kExitOk;
}

}  // namespace vantel
