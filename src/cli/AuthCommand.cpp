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
#include "core/oauth/ConstantTime.h"
#include "core/oauth/DeviceAuthorization.h"
#include "core/oauth/LocalPassword.h"
#include "core/oauth/OAuthAdvice.h"
#include "core/oauth/OAuthDefaults.h"
#include "core/oauth/Pkce.h"
#include "core/oauth/RedirectAnswer.h"
#include "core/oauth/SignInState.h"
#include "core/oauth/TokenForms.h"
#include "core/oauth/TokenRecordText.h"
#include "platform/EscapedText.h"
#include "platform/LoopbackRedirectListener.h"

namespace vantel {
namespace {

std::string Server(std::size_t number) {
    return "server " + std::to_string(number);
}

/// The redirect for a pasted answer goes to port 1, where nothing listens: the browser shows
/// that it cannot open the page, and its address bar keeps the code for the user to copy,
/// without handing it to whatever else might listen on port 80. Google takes any loopback
/// port; Microsoft ignores the port of a localhost redirect, and its registrations name
/// "http://localhost".
std::string PasteRedirect(const OAuthProvider& provider) {
    return provider.kind == OAuthProvider::Kind::Microsoft ? "http://localhost:1/"
                                                           : "http://127.0.0.1:1/";
}

/// Microsoft registrations made in the portal know "http://localhost" only; Google and
/// others take the address itself, which no hosts file can send elsewhere.
std::string ListenerRedirect(const OAuthProvider& provider, std::uint16_t port) {
    return std::string(provider.kind == OAuthProvider::Kind::Microsoft ? "http://localhost:"
                                                                       : "http://127.0.0.1:") +
           std::to_string(port) + "/";
}

/// The provider's refusal carried by the redirect, in words.
std::string Refusal(const OAuthProvider& provider, const RedirectAnswer& answer) {
    std::string advice = OAuthAdvice(provider.name, answer.error, answer.errorDescription);
    if (!advice.empty()) {
        return advice;
    }
    advice = "the provider refused the sign-in: " + OneLine(answer.error);
    if (!answer.errorDescription.empty()) {
        advice += " (" + OneLine(answer.errorDescription) + ")";
    }
    return advice;
}

/// Whether `answer` belongs to this sign-in. Only the matching state uses the state up, so a
/// stray or forged redirect cannot cancel the sign-in under way, and a replay is refused.
bool Ours(SignInState& state, const RedirectAnswer& answer) {
    return !answer.state.empty() && ConstantTimeEquals(answer.state, state.Value()) &&
           state.Accept(answer.state);
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
    const std::optional<TokenResponse> tokens = line.Has("--device") ? ByDevice(*provider, number)
                                                : line.Has("--paste")
                                                    ? ByPaste(*provider, entry)
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
    SignInTools& tools = *context_.signIn;
    const std::unique_ptr<EventLoop> loop = CreateEventLoop();
    const std::unique_ptr<HttpClient> http = tools.makeHttp(*loop);
    const Pkce pkce = Pkce::Make(*tools.crypto);
    SignInState state(*tools.crypto);
    std::string redirectUri;
    std::optional<TokenResponse> result;
    std::string failure;

    LoopbackRedirectListener listener(*loop);
    const auto onRequest = [&](const std::string& target) -> LoopbackRedirectListener::Reply {
        std::string problem;
        const auto answer = RedirectAnswer::Parse(target, "/", problem);
        if (!answer || !Ours(state, *answer)) {
            return {LoopbackRedirectListener::Verdict::NotTheAnswer,
                    "This is not the answer to the sign-in under way."};
        }
        if (!answer->error.empty()) {
            failure = Refusal(provider, *answer);
            // Long enough for the page to go out before the loop stops.
            loop->StartTimer(200, false, [&] { loop->Quit(); });
            return {LoopbackRedirectListener::Verdict::Failure, "The sign-in failed: " + failure};
        }
        http->PostForm({provider.tokenUrl,
                        TokenForms::Code(provider, answer->code, redirectUri, pkce.verifier)},
                       [&](HttpResponse response) {
                           result = TokenResponse::Read(provider.name, response);
                           loop->Quit();
                       });
        return {LoopbackRedirectListener::Verdict::Answer,
                "Vantel has the answer and finishes the sign-in. You can close this tab."};
    };
    const auto onTimeOut = [&] {
        failure = "no answer came from the browser within " +
                  std::to_string(tools.browserDeadlineMs / 60000) + " minutes: run vantel auth " +
                  std::to_string(number) + " again, or with --paste";
        loop->Quit();
    };
    std::string error;
    if (!listener.Start("/", tools.browserDeadlineMs, onRequest, onTimeOut, error)) {
        Fail(context_,
             "the browser's answer cannot be received here (" + OneLine(error) + "): use --paste");
        return std::nullopt;
    }
    redirectUri = ListenerRedirect(provider, listener.port());
    AuthorizationRequest request{redirectUri, state.Value(), pkce.challenge, entry.OAuth.Account};
    const std::string url = request.Url(provider);
    context_.out << "Open this page to sign in: " << OneLine(url) << '\n';
    std::string why;
    if (!tools.browser->Open(url, why)) {
        context_.out << "The browser was not opened: " << OneLine(why)
                     << "; open the page yourself\n";
    }
    context_.out << "Waiting for the browser's answer...\n" << std::flush;
    loop->Run();
    if (!result) {
        Fail(context_, failure.empty() ? "the sign-in stopped without an answer" : failure);
    }
    return result;
}

std::optional<TokenResponse> AuthCommand::ByPaste(const OAuthProvider& provider,
                                                  const ServerEntry& entry) {
    SignInTools& tools = *context_.signIn;
    const Pkce pkce = Pkce::Make(*tools.crypto);
    SignInState state(*tools.crypto);
    const std::string redirectUri = PasteRedirect(provider);
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
    if (!Ours(state, *answer)) {
        Fail(context_, "that address answers another sign-in, not this one: sign in again");
        return std::nullopt;
    }
    if (!answer->error.empty()) {
        Fail(context_, "the sign-in failed: " + Refusal(provider, *answer));
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
                                                   std::size_t number) {
    const std::unique_ptr<EventLoop> loop = CreateEventLoop();
    const std::unique_ptr<HttpClient> http = context_.signIn->makeHttp(*loop);
    const HttpResponse start =
        PostAndWait(*loop, *http, {provider.deviceUrl, TokenForms::DeviceStart(provider)});
    if (start.status == 0) {
        Fail(context_,
             "the provider's device sign-in could not be reached: " + OneLine(start.error));
        return std::nullopt;
    }
    std::string error;
    std::optional<DeviceAuthorization> device =
        DeviceAuthorization::Read(start.status, start.body, error);
    if (!device) {
        Fail(context_, "the provider gave no device code: " + OneLine(error));
        return std::nullopt;
    }
    const std::string& page = device->verificationUriComplete.empty()
                                  ? device->verificationUri
                                  : device->verificationUriComplete;
    context_.out << "To sign in, open " << OneLine(page) << " and enter the code "
                 << OneLine(device->userCode) << '\n';
    if (!device->message.empty()) {
        context_.out << OneLine(device->message) << '\n';
    }
    context_.out << "Waiting for the code to be entered...\n" << std::flush;

    const std::uint64_t expiry =
        loop->NowMs() + static_cast<std::uint64_t>(device->expiresIn) * 1000;
    std::optional<TokenResponse> result;
    std::string failure;
    std::function<void()> poll;
    const auto later = [&] {
        const std::uint64_t delayMs = static_cast<std::uint64_t>(device->intervalSeconds) * 1000;
        if (loop->NowMs() + delayMs > expiry) {
            failure = "the code expired before it was entered: run vantel auth " +
                      std::to_string(number) + " --device again";
            loop->Quit();
            return;
        }
        loop->StartTimer(static_cast<std::uint32_t>(delayMs), false, [&] { poll(); });
    };
    poll = [&] {
        http->PostForm(
            {provider.tokenUrl, TokenForms::DevicePoll(provider, device->deviceCode)},
            [&](HttpResponse response) {
                TokenResponse answer = TokenResponse::Read(provider.name, response);
                // An answer lost on the way is asked for again, like a pending one.
                const bool lost =
                    answer.kind == TokenResponse::Kind::Temporary && answer.error.empty();
                if (answer.kind != TokenResponse::Kind::Success &&
                    (lost || device->Next(answer.error) == DeviceAuthorization::Poll::Again)) {
                    later();
                    return;
                }
                result = std::move(answer);
                loop->Quit();
            });
    };
    later();
    loop->Run();
    if (!result) {
        Fail(context_, failure);
    }
    return result;
}

int AuthCommand::Keep(const TokenResponse& tokens, const OAuthProvider& provider,
                      const ServerEntry& entry, std::size_t number,
                      const std::optional<std::string>& givenPassword) {
    if (tokens.refreshToken.empty()) {
        return Fail(context_, "the provider gave no refresh token; ask for offline access");
    }
    SignInTools& tools = *context_.signIn;
    const std::int64_t now = tools.clock->NowSeconds();
    const std::string password =
        givenPassword ? *givenPassword : LocalPassword::Make(*tools.crypto);
    TokenRecord record;
    record.Account = entry.OAuth.Account;
    record.Provider = provider.name;
    record.TokenUrl = provider.tokenUrl;
    record.ClientId = provider.clientId;
    record.Tenant = provider.tenant;
    record.Scopes = tokens.scope.empty() ? provider.scopes : tokens.scope;
    record.AccessToken = tokens.accessToken;
    record.AccessExpiry = now + tokens.expiresIn;
    record.RefreshToken = tokens.refreshToken;
    record.RefreshedAt = now;
    record.LocalPasswordHash = LocalPassword::Hash(*tools.crypto, password);
    std::string error;
    if (!tools.tokens->Save(TokenRecordText::Key(entry.OAuth), TokenRecordText::Write(record),
                            error)) {
        return Fail(context_, "the tokens could not be kept (" + OneLine(error) +
                                  "); the sign-in kept before, if any, is unchanged");
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
