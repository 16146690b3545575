// vantel auth against the fake authorization server over real HTTPS and a real loopback
// listener: the browser, pasted and device flows, what is kept, and what is never shown.
#include "cli/AuthCommand.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

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

using test::FakeAnswer;
using test::FakeAuthServer;

constexpr std::int64_t kNow = 1797032061;  // 2026-12-11T23:34:21Z
constexpr const char* kAccount = "user@example.test";

class FixedClock : public WallClock {
  public:
    std::int64_t NowSeconds() override { return kNow; }
};

/// Input whose next line is made when the command asks for it, from what it has printed.
class LazyInput : public std::streambuf {
  public:
    explicit LazyInput(std::function<std::string()> next) : next_(std::move(next)) {}

  protected:
    int_type underflow() override {
        if (next_) {
            line_ = next_() + "\n";
            next_ = nullptr;
            setg(line_.data(), line_.data(), line_.data() + line_.size());
            return traits_type::to_int_type(line_[0]);
        }
        return traits_type::eof();
    }

  private:
    std::function<std::string()> next_;
    std::string line_;
};

/// Output that can be read while the command still runs.
class LiveText : public std::streambuf {
  public:
    explicit LiveText(std::string& text) : text_(text) {}

  protected:
    int_type overflow(int_type ch) override {
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            text_.push_back(traits_type::to_char_type(ch));
        }
        return ch;
    }

  private:
    std::string& text_;
};

/// A GET with libcurl; whether an answer came.
bool Visit(const std::string& url) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION,
        +[](char*, size_t size, size_t count, void*) { return size * count; });
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return result == CURLE_OK;
}

std::string Query(const std::string& url) {
    const std::size_t at = url.find('?');
    return at == std::string::npos ? "" : url.substr(at + 1);
}

/// `location` with its state replaced.
std::string WithState(const std::string& location, const std::string& state) {
    const std::size_t at = location.find("state=");
    return location.substr(0, at) + "state=" + state;
}

/// The user's browser: signs in at the fake server and follows its redirect to the listener,
/// on a thread of its own as a real browser would; `strayFirst` sends a redirect with a state
/// of another sign-in before the real one.
class FakeBrowser : public BrowserLauncher {
  public:
    explicit FakeBrowser(FakeAuthServer& server) : server_(server) {}
    ~FakeBrowser() override {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    bool Open(const std::string& url, std::string& /*why*/) override {
        if (thread_.joinable()) {
            thread_.join();
        }
        opened = url;
        thread_ = std::thread([this, url] {
            const std::string location = server_.Authorize(Query(url));
            if (strayFirst) {
                strayAnswered = Visit(WithState(location, "c3RyYXk"));
            }
            Visit(location);
        });
        return true;
    }

    bool strayFirst = false;
    bool strayAnswered = false;
    std::string opened;

  private:
    FakeAuthServer& server_;
    std::thread thread_;
};

/// A token store whose saves fail, as a full disk would make them.
class FullTokenStore : public FileTokenStore {
  public:
    using FileTokenStore::FileTokenStore;
    bool Save(std::string_view, std::string_view, std::string& error) override {
        error = "no space left on device";
        return false;
    }
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class AuthCommandTest : public testing::Test {
  protected:
    AuthCommandTest()
        : server_(pki_, Options()),
          settings_(dir_.path() / "settings.reg"),
          tokens_(dir_.path() / "state" / "tokens"),
          browser_(server_) {
        caFile_ = (dir_.path() / "ca.pem").string();
        std::ofstream(caFile_) << pki_.caPem();
        tools_ = {&tokens_, &crypto_, &clock_, &browser_, [this](EventLoop& loop) {
                      return std::unique_ptr<HttpClient>(
                          new CurlHttpClient(loop, CurlHttpClient::Options{caFile_}));
                  }};
        const Outcome added = Run({"server",          "add",
                                   "--host",          "imap.example.test",
                                   "--type",          "imap4",
                                   "--sign-in",       "oauth2",
                                   "--provider",      "other",
                                   "--account",       kAccount,
                                   "--client-id",     "vantel-test-client",
                                   "--authorize-url", server_.Url("/authorize"),
                                   "--token-url",     server_.Url("/token"),
                                   "--device-url",    server_.Url("/devicecode"),
                                   "--scopes",        "https://mail.example.test/ offline_access"});
        EXPECT_EQ(added.status, 0) << added.err;
    }

    static FakeAuthServer::Options Options() {
        FakeAuthServer::Options options;
        options.deviceInterval = 1;
        return options;
    }

    /// Runs the command with `tools` (none when null); printed_ grows as it prints.
    Outcome Run(const std::vector<std::string>& words, std::istream& in, SignInTools* tools) {
        printed_.clear();
        LiveText live(printed_);
        std::ostream out(&live);
        std::ostringstream err;
        if (!settings_.Load()) {
            ADD_FAILURE() << settings_.LastError();
        }
        CliContext context{settings_, "settings.reg", "", false, {}, false, false, in, out, err};
        context.saveError = [this] { return settings_.LastError(); };
        context.signIn = tools;
        const int status = CliApp::Run(context, words);
        return {status, printed_, err.str()};
    }
    Outcome Run(const std::vector<std::string>& words, const std::string& input = "") {
        std::istringstream in(input);
        return Run(words, in, &tools_);
    }

    std::optional<TokenRecord> Stored() {
        const TokenStore::Loaded loaded = tokens_.Load(Key());
        EXPECT_EQ(loaded.problem, "");
        std::string error;
        return loaded.record ? TokenRecordText::Read(*loaded.record, error) : std::nullopt;
    }
    std::string StoredText() { return tokens_.Load(Key()).record.value_or(""); }
    static std::string Key() {
        OAuthSignIn signIn;
        signIn.Provider = "other";
        signIn.Account = kAccount;
        return TokenRecordText::Key(signIn);
    }

    /// The local password shown once in `out`; empty when none was.
    static std::string ShownPassword(const std::string& out) {
        const std::string mark = "it is shown only this once): ";
        const std::size_t at = out.find(mark);
        if (at == std::string::npos) {
            return "";
        }
        const std::size_t start = at + mark.size();
        EXPECT_EQ(out.find(mark, start), std::string::npos) << "shown twice";
        return out.substr(start, out.find('\n', start) - start);
    }

    /// Every secret the server handed out or was sent appears nowhere in `text`.
    void ExpectNoSecrets(const Outcome& outcome) {
        std::vector<std::string> secrets;
        for (const test::RecordedRequest& r : server_.Requests()) {
            for (const char* field : {"code", "code_verifier", "device_code", "refresh_token"}) {
                if (r.form.count(field) != 0 && !r.form.at(field).empty()) {
                    secrets.push_back(r.form.at(field));
                }
            }
        }
        if (server_.issued() > 0) {
            secrets.push_back(server_.accessToken());
            secrets.push_back(server_.refreshToken());
        }
        for (const std::string& secret : secrets) {
            EXPECT_EQ(outcome.out.find(secret), std::string::npos) << secret;
            EXPECT_EQ(outcome.err.find(secret), std::string::npos) << secret;
        }
    }

    std::vector<test::RecordedRequest> TokenRequests() {
        std::vector<test::RecordedRequest> found;
        for (const test::RecordedRequest& r : server_.Requests()) {
            if (r.path == "/token") {
                found.push_back(r);
            }
        }
        return found;
    }

    test::TempDir dir_;
    test::TestPki pki_;
    FakeAuthServer server_;
    FileStore settings_;
    FileTokenStore tokens_;
    OpenSslCrypto crypto_;
    FixedClock clock_;
    FakeBrowser browser_;
    std::string caFile_;
    SignInTools tools_;
    std::string printed_;
};

TEST_F(AuthCommandTest, BrowserSignInKeepsTheTokensAndShowsTheLocalPasswordOnce) {
    const Outcome signedIn = Run({"auth", "1"});
    ASSERT_EQ(signedIn.status, 0) << signedIn.err;
    EXPECT_NE(signedIn.out.find("Open this page to sign in: " + browser_.opened),
              std::string::npos);
    EXPECT_NE(signedIn.out.find("Signed in as user@example.test to server 1; access renewed "
                                "automatically\n"),
              std::string::npos);
    const auto record = Stored();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Account, kAccount);
    EXPECT_EQ(record->AccessToken, server_.accessToken());
    EXPECT_EQ(record->RefreshToken, server_.refreshToken());
    EXPECT_EQ(record->AccessExpiry, kNow + 3600);
    EXPECT_EQ(record->RefreshedAt, kNow);
    EXPECT_EQ(record->TokenUrl, server_.Url("/token"));
    EXPECT_EQ(record->Scopes, "https://mail.example.test/ offline_access");
    const std::string password = ShownPassword(signedIn.out);
    EXPECT_TRUE(LocalPassword::Verify(crypto_, password, record->LocalPasswordHash));
    // The exchange names the listener's redirect byte for byte.
    const auto exchanges = TokenRequests();
    ASSERT_EQ(exchanges.size(), 1u);
    const std::string redirect = exchanges[0].form.at("redirect_uri");
    EXPECT_EQ(redirect.rfind("http://127.0.0.1:", 0), 0u) << redirect;
    EXPECT_EQ(FakeAuthServer::ParseForm(Query(browser_.opened)).at("redirect_uri"), redirect);
    ExpectNoSecrets(signedIn);

    // A password given on standard input is taken, and never echoed.
    const Outcome given = Run({"auth", "1", "--password-stdin"}, "my own local pw\n");
    ASSERT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(ShownPassword(given.out), "");
    EXPECT_EQ(given.out.find("my own local pw"), std::string::npos);
    EXPECT_TRUE(LocalPassword::Verify(crypto_, "my own local pw", Stored()->LocalPasswordHash));
}

TEST_F(AuthCommandTest, RedirectAnswersOfTheBrowser) {
    struct Case {
        const char* name;
        bool strayFirst;
        const char* refusal;  ///< the provider refuses the sign-in with this error
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"a stray state is turned away and the real answer taken", true, "", 0, "Signed in as"},
        {"the provider's refusal, in words", false, "access_denied", 1, "declined in the browser"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        tokens_.Remove(Key(), error);
        FakeBrowser browser(server_);
        browser.strayFirst = c.strayFirst;
        if (*c.refusal != '\0') {
            server_.RefuseAuthorization(c.refusal);
        }
        SignInTools tools = tools_;
        tools.browser = &browser;
        std::istringstream in;
        const Outcome outcome = Run({"auth", "1"}, in, &tools);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_NE((outcome.out + outcome.err).find(c.says), std::string::npos)
            << outcome.out << outcome.err;
        EXPECT_EQ(Stored().has_value(), c.status == 0);
        if (c.strayFirst) {
            EXPECT_TRUE(browser.strayAnswered) << "the stray redirect got its page";
        }
        ExpectNoSecrets(outcome);
    }
}

TEST_F(AuthCommandTest, PastedAddresses) {
    struct Case {
        const char* name;
        std::function<std::string(const std::string& location)> paste;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"the whole address", [](const std::string& l) { return l; }, 0, "Signed in as"},
        {"with blanks and a fragment", [](const std::string& l) { return "  " + l + "#x  \r"; }, 0,
         "Signed in as"},
        {"another sign-in's state", [](const std::string& l) { return WithState(l, "b3RoZXI"); }, 1,
         "answers another sign-in"},
        {"another path",
         [](const std::string& l) {
             return "http://127.0.0.1:1/elsewhere" + l.substr(l.find('?'));
         },
         1, "another address"},
        {"nothing pasted", [](const std::string&) { return std::string(); }, 1, "no answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        tokens_.Remove(Key(), error);
        const std::size_t before = TokenRequests().size();
        LazyInput lazy([&] {
            // The page the command printed, visited in a browser elsewhere.
            const std::size_t at = printed_.find("sign in: ");
            const std::string url = printed_.substr(at + 9, printed_.find('\n', at) - at - 9);
            return c.paste(server_.Authorize(Query(url)));
        });
        std::istream in(&lazy);
        const Outcome outcome = Run({"auth", "1", "--paste"}, in, &tools_);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_NE((outcome.out + outcome.err).find(c.says), std::string::npos)
            << outcome.out << outcome.err;
        EXPECT_EQ(Stored().has_value(), c.status == 0);
        // Nothing is exchanged for an answer that is not this sign-in's.
        EXPECT_EQ(TokenRequests().size(), before + (c.status == 0 ? 1 : 0));
        if (c.status == 0) {
            EXPECT_EQ(TokenRequests().back().form.at("redirect_uri"), "http://127.0.0.1:1/");
        }
        ExpectNoSecrets(outcome);
    }
}

TEST_F(AuthCommandTest, DeviceSignInWaitsAsTheProviderAsks) {
    struct Case {
        const char* name;
        std::vector<std::string> polls;
        int status;
        const char* says;
        int minSeconds;  ///< the first poll after 1 s; slow_down adds 5 s for good
    };
    const Case cases[] = {
        {"pending, then slow down, then signed in",
         {"authorization_pending", "slow_down"},
         0,
         "Signed in as",
         1 + 1 + 6},
        {"declined", {"authorization_declined"}, 1, "sign-in failed", 1},
        {"expired", {"expired_token"}, 1, "sign-in failed", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.ScriptDevice(c.polls);
        const std::size_t before = TokenRequests().size();
        const auto start = std::chrono::steady_clock::now();
        const Outcome outcome = Run({"auth", "1", "--device"});
        const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count() /
                             1000.0;
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_NE((outcome.out + outcome.err).find(c.says), std::string::npos)
            << outcome.out << outcome.err;
        EXPECT_NE(outcome.out.find("enter the code ABCD-EFGH"), std::string::npos);
        EXPECT_NE(outcome.out.find("To sign in, enter the code ABCD-EFGH."), std::string::npos);
        EXPECT_EQ(TokenRequests().size(), before + c.polls.size() + (c.status == 0 ? 1 : 0));
        EXPECT_GE(seconds, c.minSeconds - 0.1);
        ExpectNoSecrets(outcome);
    }
}

TEST_F(AuthCommandTest, AFailedSignInLeavesTheOldRecord) {
    ASSERT_EQ(Run({"auth", "1"}).status, 0);
    const std::string old = StoredText();
    ASSERT_NE(old, "");
    struct Case {
        const char* name;
        FakeAnswer answer;
        bool fullStore;
        const char* says;
    };
    const Case cases[] = {
        {"the token endpoint refuses",
         {400, R"({"error":"invalid_grant"})"},
         false,
         "no longer valid: sign in again"},
        {"no refresh token",
         {200, R"({"access_token":"fresh-access","token_type":"Bearer","expires_in":3600})"},
         false,
         "the provider gave no refresh token; ask for offline access"},
        {"the save fails", {}, true, "no space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.fullStore) {
            server_.Script("/token", c.answer);
        }
        FullTokenStore full(dir_.path() / "state" / "tokens");
        FakeBrowser browser(server_);
        SignInTools tools = tools_;
        tools.browser = &browser;
        if (c.fullStore) {
            tools.tokens = &full;
        }
        std::istringstream in;
        const Outcome outcome = Run({"auth", "1"}, in, &tools);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_EQ(ShownPassword(outcome.out), "") << "a password that was never kept";
        EXPECT_EQ(outcome.out.find("fresh-access"), std::string::npos);
        EXPECT_EQ(StoredText(), old);
        ExpectNoSecrets(outcome);
    }
}

TEST_F(AuthCommandTest, StatusShowAndCheckFollowTheStoreAndSignOutEmptiesIt) {
    const auto stateOf = [this](const std::vector<std::string>& words) {
        const Outcome outcome = Run(words);
        return outcome.out;
    };
    const auto has = [](const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    };
    EXPECT_TRUE(has(stateOf({"show"}), "not signed in yet: run vantel auth 1"));
    EXPECT_TRUE(has(stateOf({"auth", "1", "--status"}), "not signed in yet: run vantel auth 1"));
    ASSERT_EQ(Run({"auth", "1"}).status, 0);

    const std::string signedIn =
        "signed in as user@example.test; access until 2026-12-12T00:34:21Z";
    EXPECT_TRUE(has(stateOf({"show"}), signedIn));
    EXPECT_TRUE(has(stateOf({"show", "--json"}), "\"state\": \"" + signedIn + "\"") ||
                has(stateOf({"show", "--json"}), "\"state\":\"" + signedIn + "\""));
    EXPECT_TRUE(has(stateOf({"check"}), "server 1: " + signedIn));
    const Outcome status = Run({"auth", "1", "--status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_TRUE(has(status.out, "access until: 2026-12-12T00:34:21Z"));
    EXPECT_TRUE(has(status.out, "refresh token issued: 2026-12-11T23:34:21Z"));
    EXPECT_TRUE(has(status.out, "new sign-in needed: no"));
    ExpectNoSecrets(status);

    TokenRecord refused = *Stored();
    refused.SignInNeeded = true;
    refused.SignInNeededReason = "the refresh token expired\x1b[2J";
    std::string error;
    ASSERT_TRUE(tokens_.Save(Key(), TokenRecordText::Write(refused), error)) << error;
    const std::string again = stateOf({"show"});
    EXPECT_TRUE(
        has(again, "must sign in again: the refresh token expired\\x1b[2J: run vantel auth 1"))
        << again;
    EXPECT_TRUE(has(stateOf({"auth", "1", "--status"}), "new sign-in needed: yes"));

    const Outcome out = Run({"auth", "1", "--sign-out"});
    EXPECT_EQ(out.status, 0);
    EXPECT_TRUE(has(out.out, "Signed out user@example.test from server 1"));
    EXPECT_FALSE(tokens_.Load(Key()).record);
    EXPECT_TRUE(has(stateOf({"check"}), "server 1: not signed in yet: run vantel auth 1"));
    EXPECT_TRUE(has(stateOf({"auth", "1", "--sign-out"}), "nothing to do"));
}

TEST_F(AuthCommandTest, RefusedBeforeAnySignIn) {
    ASSERT_EQ(Run({"server", "add", "--host", "pop.example.test", "--type", "pop3"}).status, 0);
    ASSERT_EQ(Run({"server", "add", "--host", "smtp.example.test", "--type", "smtp", "--sign-in",
                   "oauth2", "--provider", "other", "--client-id", "vantel-test-client",
                   "--authorize-url", server_.Url("/authorize"), "--token-url",
                   server_.Url("/token"), "--scopes", "mail"})
                  .status,
              0);
    ASSERT_EQ(Run({"server",          "add",
                   "--host",          "imap.example.test",
                   "--type",          "imap4",
                   "--sign-in",       "oauth2",
                   "--provider",      "other",
                   "--account",       kAccount,
                   "--client-id",     "vantel-test-client",
                   "--authorize-url", server_.Url("/authorize"),
                   "--token-url",     server_.Url("/token"),
                   "--scopes",        "mail"})
                  .status,
              0);
    struct Case {
        const char* name;
        std::vector<std::string> words;
        std::string input;
        bool noTools;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"no number", {"auth"}, "", false, 2, "give the entry's number"},
        {"two flows", {"auth", "1", "--paste", "--device"}, "", false, 2, "exclude each other"},
        {"password with status",
         {"auth", "1", "--status", "--password-stdin"},
         "",
         false,
         2,
         "goes with a sign-in only"},
        {"no such entry", {"auth", "9"}, "", false, 1, "there is no server 9"},
        {"a password entry", {"auth", "2"}, "", false, 1, "signs in with a password"},
        {"no account", {"auth", "3"}, "", false, 1, "--account ADDRESS"},
        {"no device URL", {"auth", "4", "--device"}, "", false, 1, "has no device sign-in"},
        {"a short local password",
         {"auth", "1", "--password-stdin"},
         "short\n",
         false,
         1,
         "will not do"},
        {"a local password with a NUL",
         {"auth", "1", "--password-stdin"},
         std::string("long enough\0really", 18) + "\n",
         false,
         1,
         "will not do"},
        {"no local password", {"auth", "1", "--password-stdin"}, "", false, 1, "gave no line"},
        {"no sign-in on this system", {"auth", "1"}, "", true, 1, "not available on this system"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.input);
        const Outcome outcome = Run(c.words, in, c.noTools ? nullptr : &tools_);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out.find("Open this page"), std::string::npos);
    }
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_FALSE(tokens_.Load(Key()).record);
}

TEST(SignInStatusTest, UtcTimesInIso8601) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "1970-01-01T00:00:00Z"},    {951782400, "2000-02-29T00:00:00Z"},
        {kNow, "2026-12-11T23:34:21Z"}, {4102444799, "2099-12-31T23:59:59Z"},
        {-1, "1969-12-31T23:59:59Z"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(SignInStatus::UtcTime(seconds), text) << seconds;
    }
}

}  // namespace
}  // namespace vantel
