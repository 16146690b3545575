// vantel auth against the fake authorization server over real HTTPS and a real loopback
// listener: the browser, pasted and device flows, what is kept, and what is never shown.
#include "cli/AuthCommand.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>

#include "TempDir.h"
#include "cli/CliApp.h"
#include "cli/SignInStatus.h"
#include "core/oauth/LocalPassword.h"
#include "core/oauth/TokenRecordText.h"
#include "oauth/FakeAuthServer.h"
#include "platform/posix/CurlHttpClient.h"
#include "platform/posix/FileTokenStore.h"
#include "platform/posix/OpenSslCrypto.h"
#include "platform/store/FileStore.h"

namespace vantel {
namespace {

using test::FakeAuthServer;
constexpr std::int64_t kNow = 1797032061;  // 2026-12-11T23:34:21Z

struct FixedClock : WallClock {
    std::int64_t NowSeconds() override { return kNow; }
};

/// The terminal: what the command prints, and a line typed once it asks, made from that.
struct Terminal : std::streambuf {
    std::string printed, typed;
    std::function<std::string(const std::string& printed)> type;
    int_type overflow(int_type ch) override { return printed.push_back(char(ch)), ch; }
    int_type underflow() override {
        if (!type) {
            return traits_type::eof();
        }
        typed = std::exchange(type, nullptr)(printed) + "\n";
        setg(typed.data(), typed.data(), typed.data() + typed.size());
        return traits_type::to_int_type(typed[0]);
    }
};

void Visit(const std::string& url) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t n, size_t m, void*) { return n * m; });
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
}
std::string Query(const std::string& url) {
    return url.substr(url.find('?') + 1);
}
std::string WithState(const std::string& url, const std::string& state) {
    return url.substr(0, url.find("state=")) + "state=" + state;
}
/// The page the command said to open.
std::string Shown(const std::string& printed) {
    const std::size_t at = printed.find("sign in: ") + 9;
    return printed.substr(at, printed.find('\n', at) - at);
}

/// Signs in at the fake server and follows its redirect, on a thread as a browser would;
/// `strayFirst` brings the listener another sign-in's state before the real one.
struct FakeBrowser : BrowserLauncher {
    FakeAuthServer& server;
    bool strayFirst = false;
    std::thread thread;
    explicit FakeBrowser(FakeAuthServer& s) : server(s) {}
    ~FakeBrowser() override { thread.joinable() ? thread.join() : void(); }
    bool Open(const std::string& url, std::string&) override {
        thread.joinable() ? thread.join() : void();
        thread = std::thread([this, url] {
            const std::string location = server.Authorize(Query(url));
            strayFirst ? Visit(WithState(location, "c3RyYXk")) : void();
            Visit(location);
        });
        return true;
    }
};

struct FullTokenStore : FileTokenStore {
    using FileTokenStore::FileTokenStore;
    bool Save(std::string_view, std::string_view, std::string& error) override {
        return error = "no space left on device", false;
    }
};

class AuthCommandTest : public testing::Test {
  protected:
    AuthCommandTest()
        : server_(pki_, {true, "vantel-test-client", "", "u@example.test", 3600, true, 1}) {
        std::ofstream(dir_.path() / "ca.pem") << pki_.caPem();
        tools_.browserDeadlineMs = 20000;  // a fault fails fast instead of hanging
        tools_.makeHttp = [this](EventLoop& loop) -> std::unique_ptr<HttpClient> {
            return std::make_unique<CurlHttpClient>(
                loop, CurlHttpClient::Options{(dir_.path() / "ca.pem").string()});
        };
        EXPECT_EQ(Run({"server",          "add",
                       "--host",          "imap.example.test",
                       "--type",          "imap4",
                       "--sign-in",       "oauth2",
                       "--provider",      "other",
                       "--account",       "u@example.test",
                       "--client-id",     "vantel-test-client",
                       "--authorize-url", server_.Url("/authorize"),
                       "--token-url",     server_.Url("/token"),
                       "--device-url",    server_.Url("/devicecode"),
                       "--scopes",        "mail"}),
                  0);
    }
    int Run(const std::vector<std::string>& words,
            std::function<std::string(std::string)> type = nullptr) {
        term_ = Terminal();
        term_.type = std::move(type);
        std::iostream io(&term_);
        std::ostringstream err;
        EXPECT_TRUE(settings_.Load());
        CliContext context{settings_, "settings.reg", "", false, {}, false, false, io, io, err};
        context.signIn = signIn_;
        const int status = CliApp::Run(context, words);
        err_ = err.str();
        return status;
    }
    std::optional<TokenRecord> Stored() {
        std::string error;
        const auto text = tokens_.Load("other-u@example.test").record;
        return text ? TokenRecordText::Read(*text, error) : std::nullopt;
    }
    /// No code, verifier, device code or token the server saw or gave is in any output.
    void ExpectNoSecrets() {
        std::vector<std::string> secrets{server_.accessToken(), server_.refreshToken()};
        for (const auto& r : server_.Requests()) {
            for (const char* field : {"code", "code_verifier", "device_code", "refresh_token"}) {
                r.form.count(field) ? secrets.push_back(r.form.at(field)) : void();
            }
        }
        for (const std::string& secret : secrets) {
            EXPECT_TRUE(secret.empty() || (term_.printed + err_).find(secret) == std::string::npos)
                << secret;
        }
    }
    int TokenRequests() {
        const auto all = server_.Requests();
        return int(
            std::count_if(all.begin(), all.end(), [](auto& r) { return r.path == "/token"; }));
    }

    test::TempDir dir_;
    test::TestPki pki_;
    FakeAuthServer server_;
    FileStore settings_{dir_.path() / "settings.reg"};
    FileTokenStore tokens_{dir_.path() / "tokens"};
    OpenSslCrypto crypto_;
    FixedClock clock_;
    FakeBrowser browser_{server_};
    SignInTools tools_{&tokens_, &crypto_, &clock_, &browser_, nullptr};
    SignInTools* signIn_ = &tools_;
    Terminal term_;
    std::string err_;
};

TEST_F(AuthCommandTest, BrowserSignInKeepsTokensAndALocalPasswordShownOnce) {
    ASSERT_EQ(Run({"auth", "1"}), 0) << err_;
    const auto record = Stored();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->AccessToken, server_.accessToken());
    EXPECT_EQ(record->RefreshToken, server_.refreshToken());
    EXPECT_EQ(record->AccessExpiry, kNow + 3600);
    EXPECT_EQ(record->Scopes, "https://mail.example.test/ offline_access");  // as granted
    const std::string mark = "it is shown only this once): ";
    const std::size_t at = term_.printed.find(mark) + mark.size();
    EXPECT_TRUE(LocalPassword::Verify(crypto_,
                                      term_.printed.substr(at, term_.printed.find('\n', at) - at),
                                      record->LocalPasswordHash));
    EXPECT_EQ(term_.printed.find(mark, at), std::string::npos);
    EXPECT_NE(term_.printed.find("Signed in as u@example.test to server 1; access renewed "
                                 "automatically\n"),
              std::string::npos);
    // The code is exchanged with the listener's redirect, byte for byte.
    const std::string redirect = server_.Requests().back().form.at("redirect_uri");
    EXPECT_EQ(redirect.rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_EQ(FakeAuthServer::ParseForm(Query(Shown(term_.printed))).at("redirect_uri"), redirect);
    ExpectNoSecrets();

    ASSERT_EQ(Run({"auth", "1", "--password-stdin"}, [](auto) { return "my own pw 1"; }), 0);
    EXPECT_EQ(term_.printed.find(mark), std::string::npos);
    EXPECT_TRUE(LocalPassword::Verify(crypto_, "my own pw 1", Stored()->LocalPasswordHash));
}

TEST_F(AuthCommandTest, AnswersOfTheFlows) {
    ASSERT_EQ(Run({"auth", "1"}), 0);
    FullTokenStore full(dir_.path() / "tokens");
    const auto paste = [this](std::function<std::string(std::string)> change) {
        return [this, change](const std::string& printed) {
            return change(server_.Authorize(Query(Shown(printed))));
        };
    };
    const auto none = [](FakeBrowser&) {};
    const auto stray = [](FakeBrowser& b) { b.strayFirst = true; };
    const auto refuse = [&](FakeBrowser&) { server_.RefuseAuthorization("access_denied"); };
    const auto invalidGrant = [&](FakeBrowser&) {
        server_.Script("/token", {400, R"({"error":"invalid_grant"})"});
    };
    const auto noRefresh = [&](FakeBrowser&) {
        server_.Script("/token", {200, R"({"access_token":"new","expires_in":60})"});
    };
    const auto saveFails = [&](FakeBrowser&) { tools_.tokens = &full; };
    const auto slowDown = [&](FakeBrowser&) {
        server_.ScriptDevice({"authorization_pending", "slow_down"});
    };
    const auto decline = [&](FakeBrowser&) { server_.ScriptDevice({"authorization_declined"}); };
    const auto blanks = paste([](std::string l) { return " " + l + "#x \r"; });
    const auto otherState = paste([](std::string l) { return WithState(l, "b3RoZXI"); });
    const auto otherPath = paste([](std::string l) { return "http://127.0.0.1:1/x?" + Query(l); });
    struct Case {
        const char* name;
        const char* flow;
        std::function<void(FakeBrowser&)> setUp;
        std::function<std::string(std::string)> type;
        const char* says;  ///< in the output; a failure otherwise
        int exchanges;     ///< token requests
        double minSeconds;
    };
    const Case cases[] = {
        {"a stray state, then the answer", "", stray, nullptr, "Signed in as", 1, 0},
        {"refused in the browser", "", refuse, nullptr, "declined in the browser", 0, 0},
        {"the token endpoint refuses", "", invalidGrant, nullptr, "no longer valid", 1, 0},
        {"no refresh token", "", noRefresh, nullptr, "ask for offline access", 1, 0},
        {"the save fails", "", saveFails, nullptr, "no space left on device", 1, 0},
        {"pasted, blanks and a fragment", "--paste", none, blanks, "Signed in as", 1, 0},
        {"pasted, another state", "--paste", none, otherState, "another sign-in", 0, 0},
        {"pasted, another path", "--paste", none, otherPath, "another address", 0, 0},
        {"device: pending, slow down", "--device", slowDown, nullptr, "Signed in as", 3, 1 + 1 + 6},
        {"device: declined", "--device", decline, nullptr, "sign-in failed", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string old = tokens_.Load("other-u@example.test").record.value_or("");
        FakeBrowser browser(server_);
        tools_.browser = &browser;
        tools_.tokens = &tokens_;
        c.setUp(browser);
        const int before = TokenRequests();
        const auto start = std::chrono::steady_clock::now();
        const int status = Run(*c.flow ? std::vector<std::string>{"auth", "1", c.flow}
                                       : std::vector<std::string>{"auth", "1"},
                               c.type);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const bool ok = std::string(c.says) == "Signed in as";
        EXPECT_EQ(status, ok ? 0 : 1) << err_;
        EXPECT_NE((term_.printed + err_).find(c.says), std::string::npos) << term_.printed << err_;
        EXPECT_EQ(TokenRequests() - before, c.exchanges);
        EXPECT_GE(took.count(), c.minSeconds - 0.1);
        EXPECT_EQ(term_.printed.find("Local password") != std::string::npos, ok);
        if (!ok) {
            EXPECT_EQ(tokens_.Load("other-u@example.test").record.value_or(""), old);
        }
        ExpectNoSecrets();
    }
}

TEST_F(AuthCommandTest, ShowCheckAndStatusFollowTheStoreAndSignOutEmptiesIt) {
    const auto says = [this](std::vector<std::string> words, const std::string& part) {
        Run(words);
        return term_.printed.find(part) != std::string::npos;
    };
    EXPECT_TRUE(says({"show"}, "not signed in yet: run vantel auth 1"));
    ASSERT_EQ(Run({"auth", "1"}), 0);
    const std::string in = "signed in as u@example.test; access until 2026-12-12T00:34:21Z";
    EXPECT_TRUE(says({"show"}, in));
    EXPECT_TRUE(says({"show", "--json"}, in));
    EXPECT_TRUE(says({"check"}, "server 1: " + in));
    EXPECT_TRUE(says({"auth", "1", "--status"}, "refresh token issued: 2026-12-11T23:34:21Z"));
    EXPECT_TRUE(says({"auth", "1", "--status"}, "new sign-in needed: no"));
    ExpectNoSecrets();

    TokenRecord refused = *Stored();
    refused.SignInNeeded = true;
    refused.SignInNeededReason = "expired\x1b[2J";
    std::string error;
    ASSERT_TRUE(tokens_.Save("other-u@example.test", TokenRecordText::Write(refused), error));
    EXPECT_TRUE(says({"show"}, "must sign in again: expired\\x1b[2J: run vantel auth 1"));
    EXPECT_TRUE(says({"auth", "1", "--sign-out"}, "Signed out u@example.test from server 1"));
    EXPECT_FALSE(Stored());
    EXPECT_TRUE(says({"auth", "1", "--status"}, "not signed in yet"));
}

TEST_F(AuthCommandTest, RefusedBeforeAnySignIn) {
    ASSERT_EQ(Run({"server", "add", "--host", "pop.example.test", "--type", "pop3"}), 0);
    ASSERT_EQ(Run({"server", "add", "--host", "imap.example.test", "--sign-in", "oauth2",
                   "--provider", "other", "--client-id", "c", "--authorize-url", server_.Url("/a"),
                   "--token-url", server_.Url("/t"), "--scopes", "mail"}),
              0);
    ASSERT_EQ(Run({"server", "edit", "1", "--device-url", ""}), 0);
    const struct {
        std::vector<std::string> words;
        const char* input;
        int status;
        const char* says;
    } cases[] = {
        {{"auth"}, "", 2, "give the entry's number"},
        {{"auth", "1", "--paste", "--device"}, "", 2, "exclude each other"},
        {{"auth", "1", "--status", "--password-stdin"}, "", 2, "goes with a sign-in only"},
        {{"auth", "9"}, "", 1, "there is no server 9"},
        {{"auth", "2"}, "", 1, "signs in with a password"},
        {{"auth", "3"}, "", 1, "--account ADDRESS"},
        {{"auth", "1", "--device"}, "", 1, "has no device sign-in; use the browser"},
        {{"auth", "1", "--password-stdin"}, "short", 1, "will not do"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.back());
        EXPECT_EQ(Run(c.words, [&c](auto) { return c.input; }), c.status);
        EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
    }
    signIn_ = nullptr;
    EXPECT_EQ(Run({"auth", "1"}), 1);
    EXPECT_NE(err_.find("not available on this system"), std::string::npos);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST(SignInStatusTest, UtcTimesInIso8601) {
    // The calendar is the certificate checks'; here the time of day, on both sides of 1970.
    const std::pair<std::int64_t, const char*> cases[] = {
        {kNow, "2026-12-11T23:34:21Z"},
        {-1, "1969-12-31T23:59:59Z"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(SignInStatus::UtcTime(seconds), text) << seconds;
    }
}

}  // namespace
}  // namespace vantel
