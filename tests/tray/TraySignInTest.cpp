// Signing in on Windows end to end: the tray program's sign-in and vantel-cli.exe auth against
// the fake authorization server (started by scripts/wine-ctest.sh), with a browser that follows
// the redirect, WinHTTP, the sealed store and the relay's renewals.
#include "tray/TraySignIn.h"

#include <windows.h>

#include <winhttp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

#include "FakeNotifier.h"
#include "LoopRunner.h"
#include "TempDir.h"
#include "cli/CliApp.h"
#include "cli/CliContext.h"
#include "cli/SignInTools.h"
#include "core/oauth/TokenBroker.h"
#include "core/oauth/TokenRecordText.h"
#include "platform/SystemWallClock.h"
#include "platform/store/FileStore.h"
#include "platform/win32/BCryptCrypto.h"
#include "platform/win32/DpapiTokenStore.h"
#include "platform/win32/WideText.h"
#include "platform/win32/Win32EventLoop.h"
#include "platform/win32/WinHttpClient.h"

namespace vantel {
namespace {

/// Visits the sign-in page on a thread, as a browser would, and follows the provider's
/// redirect to the listener: WinHTTP follows it by itself.
struct FollowingBrowser : BrowserLauncher {
    std::thread thread;
    int opened = 0;
    ~FollowingBrowser() override { thread.joinable() ? thread.join() : void(); }
    bool Open(const std::string& url, std::string&) override {
        ++opened;
        thread.joinable() ? thread.join() : void();
        thread = std::thread([url] {
            const std::wstring wide = Widen(url);
            URL_COMPONENTS parts{};
            parts.dwStructSize = sizeof parts;
            parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
                static_cast<DWORD>(-1);
            WinHttpCrackUrl(wide.c_str(), 0, 0, &parts);
            const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
            const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                                      std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
            HINTERNET session =
                WinHttpOpen(L"browser", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
            HINTERNET connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
            HINTERNET request =
                WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, nullptr, nullptr, 0);
            if (WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
                WinHttpReceiveResponse(request, nullptr)) {
                char page[4096];
                DWORD read = 0;
                while (WinHttpReadData(request, page, sizeof page, &read) && read != 0) {
                }
            }
            WinHttpCloseHandle(request);
            WinHttpCloseHandle(connection);
            WinHttpCloseHandle(session);
        });
        return true;
    }
};

class TraySignInTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* server = std::getenv("VANTEL_FAKE_AUTH_URL");
        base_ = server != nullptr ? server : "";
        entry_.Provider = "other";
        entry_.Account = "tester@example.test";
        entry_.ClientId = "vantel-test-client";
        entry_.AuthorizeUrl = base_ + "/authorize";
        entry_.TokenUrl = base_ + "/token";
        entry_.DeviceUrl = base_ + "/devicecode";
        entry_.Scopes = "mail";
    }

    /// Settings with `count` OAuth 2.0 entries of the test's account.
    RelaySettings WithEntries(std::size_t count) const {
        ServerEntry entry;
        entry.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
        entry.OAuth = entry_;
        RelaySettings settings;
        settings.ServerList.assign(count, entry);
        return settings;
    }

    std::optional<TokenRecord> Stored() {
        std::string error;
        const auto text = tokens_.Load(TokenRecordText::Key(entry_)).record;
        return text ? TokenRecordText::Read(*text, error) : std::nullopt;
    }

    /// A renewal the relay makes for a client's login; the token it gives.
    std::string Renewed(TokenBroker& broker) {
        std::optional<AccessTokenAnswer> answer;
        broker.Request(entry_, true, [&](AccessTokenAnswer a) { answer = std::move(a); });
        EXPECT_TRUE(test::RunUntil(
            loop_, [&] { return answer.has_value(); }, 20000));
        EXPECT_EQ(answer ? answer->kind : AccessTokenAnswer::Kind::Temporary,
                  AccessTokenAnswer::Kind::Token)
            << (answer ? answer->reason : "");
        return answer ? answer->token : "";
    }

    std::string base_;
    OAuthSignIn entry_;
    test::TempDir dir_;
    Win32EventLoop loop_;
    WinHttpClient http_{loop_};
    DpapiTokenStore tokens_{dir_.path() / "tokens"};
    BCryptCrypto crypto_;
    SystemWallClock clock_;
    FollowingBrowser browser_;
    test::FakeNotifier notices_;
    TraySignIn signIn_{loop_, {&tokens_, &http_, &crypto_, &clock_, &browser_, 20000}, [] {
                           return OAuthDefaults::BuiltIn();
                       }};
};

TEST_F(TraySignInTest, TheStatusLineAndTheMenuFollowTheStoredSignIn) {
    TraySignIn& signIn = signIn_;
    RelaySettings settings = WithEntries(1);
    TokenRecord record;
    record.Account = entry_.Account;
    record.Provider = "other";
    record.RefreshToken = "r";
    const struct {
        bool signInNeeded;
        std::string reason;
        std::string status;
    } cases[] = {
        {false, "", "Signed in as tester@example.test; renewed automatically"},
        {true, "", "Sign-in needed: the provider refused the renewal"},
        {true, "the grant\r\nended", "Sign-in needed: the grant  ended"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        record.SignInNeeded = c.signInNeeded;
        record.SignInNeededReason = c.reason;
        std::string error;
        ASSERT_TRUE(
            tokens_.Save(TokenRecordText::Key(entry_), TokenRecordText::Write(record), error));
        EXPECT_EQ(signIn.Status(entry_), c.status);
        EXPECT_EQ(signIn.EntriesNeedingSignIn(settings).size(), c.signInNeeded ? 1u : 0u);
    }
    ServerEntry password = settings.ServerList[0];
    password.SignIn = StoredSignInMethod(SignInMethod::Password);
    settings.ServerList = {password};
    EXPECT_TRUE(signIn.EntriesNeedingSignIn(settings).empty()) << "password entries need none";
    OAuthSignIn google = entry_;
    google.Provider = "google";
    EXPECT_FALSE(signIn.Offers(google, SignInService::Way::Device));
}

TEST_F(TraySignInTest, TheTraySignsInAndTheRelayRenewsWithTheRotatedToken) {
    if (base_.empty()) {
        GTEST_SKIP() << "VANTEL_FAKE_AUTH_URL names no fake authorization server";
    }
    TraySignIn& signIn = signIn_;
    RelaySettings settings = WithEntries(2);
    EXPECT_EQ(signIn.Status(entry_), "Not signed in");
    EXPECT_EQ(signIn.EntriesNeedingSignIn(settings), std::vector<std::size_t>{0})
        << "one sign-in per account";
    EXPECT_TRUE(signIn.Offers(entry_, SignInService::Way::Device));

    // A sign-in cancelled before the browser is back ends without a word.
    std::vector<std::string> progress;
    std::optional<SignInService::Outcome> outcome;
    std::string error;
    const auto onProgress = [&](const std::string& line) { progress.push_back(line); };
    const auto onDone = [&](const SignInService::Outcome& o) { outcome = o; };
    ASSERT_TRUE(signIn.Start(entry_, SignInService::Way::Browser, onProgress, onDone, error))
        << error;
    signIn.Cancel();
    test::RunUntil(
        loop_, [] { return false; }, 500);
    EXPECT_FALSE(outcome.has_value());
    EXPECT_FALSE(Stored().has_value());

    ASSERT_TRUE(signIn.Start(entry_, SignInService::Way::Browser, onProgress, onDone, error))
        << error;
    ASSERT_TRUE(test::RunUntil(
        loop_, [&] { return outcome.has_value(); }, 20000));
    ASSERT_TRUE(outcome->signedIn) << outcome->failure;
    EXPECT_EQ(progress.back(), "Waiting for the sign-in in the browser...");
    EXPECT_EQ(signIn.Status(entry_), "Signed in as tester@example.test; renewed automatically");
    EXPECT_TRUE(signIn.EntriesNeedingSignIn(settings).empty());
    const std::optional<TokenRecord> first = Stored();
    ASSERT_TRUE(first.has_value());

    // The relay checks the local password shown once, and renews: each renewal's rotated
    // refresh token is kept, or the next one would be refused (the server retires used ones).
    TokenBroker broker(loop_, tokens_, http_, clock_, crypto_, notices_,
                       [](const OAuthSignIn&) { return std::string("sign in again"); });
    EXPECT_TRUE(broker.CheckLocalLogin(entry_, "Tester@Example.test", outcome->localPassword));
    EXPECT_FALSE(broker.CheckLocalLogin(entry_, "tester@example.test", "wrong"));
    const std::string renewed = Renewed(broker);
    EXPECT_NE(renewed, first->AccessToken);
    EXPECT_NE(Stored()->RefreshToken, first->RefreshToken);
    EXPECT_NE(Renewed(broker), renewed);
    EXPECT_TRUE(notices_.messages.empty());
}

TEST_F(TraySignInTest, VantelCliSignsInTheSameWayAndTellsTheStatus) {
    if (base_.empty()) {
        GTEST_SKIP() << "VANTEL_FAKE_AUTH_URL names no fake authorization server";
    }
    FileStore settings(dir_.path() / "settings.reg");
    SignInTools tools{&tokens_,
                      &crypto_,
                      &clock_,
                      &browser_,
                      [](EventLoop& loop) -> std::unique_ptr<HttpClient> {
                          return std::make_unique<WinHttpClient>(loop);
                      },
                      20000};
    const auto run = [&](const std::vector<std::string>& words, std::string& out) {
        std::istringstream in;
        std::ostringstream output;
        std::ostringstream err;
        settings.Load();
        CliContext context{settings, "settings.reg", "", false, {}, false, false, in, output, err};
        context.signIn = &tools;
        const int status = CliApp::Run(context, words);
        out = output.str() + err.str();
        return status;
    };
    std::string out;
    ASSERT_EQ(run({"server",      "add",           "--host",          "imap.example.test",
                   "--type",      "imap4",         "--sign-in",       "oauth2",
                   "--provider",  "other",         "--account",       entry_.Account,
                   "--client-id", entry_.ClientId, "--authorize-url", entry_.AuthorizeUrl,
                   "--token-url", entry_.TokenUrl, "--scopes",        "mail"},
                  out),
              0)
        << out;
    ASSERT_EQ(run({"auth", "1"}, out), 0) << out;
    EXPECT_NE(out.find("Local password for tester@example.test"), std::string::npos) << out;
    EXPECT_EQ(browser_.opened, 1);
    ASSERT_TRUE(Stored().has_value());
    EXPECT_EQ(out.find(Stored()->RefreshToken), std::string::npos) << "no token is shown";
    ASSERT_EQ(run({"auth", "1", "--status"}, out), 0) << out;
    EXPECT_NE(out.find("signed in as tester@example.test"), std::string::npos) << out;
    ASSERT_EQ(run({"auth", "1", "--sign-out"}, out), 0) << out;
    EXPECT_FALSE(Stored().has_value());
}

}  // namespace
}  // namespace vantel
