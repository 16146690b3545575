// The token broker against a scripted token endpoint, an in-memory store and a clock the
// test moves.
#include "core/oauth/TokenBroker.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <optional>

#include "FakeNotifier.h"
#include "LoopRunner.h"
#include "core/oauth/FakeCrypto.h"
#include "core/oauth/LocalPassword.h"
#include "core/oauth/TokenRecordText.h"

namespace vantel {
namespace {

class ScriptedHttp : public HttpClient {
  public:
    void PostForm(HttpRequest request, std::function<void(HttpResponse)> done) override {
        calls.push_back({std::move(request), std::move(done)});
    }
    /// Answers the oldest call still open.
    void Answer(int status, std::string body, std::uint32_t retryAfter = 0) {
        ASSERT_FALSE(calls.empty());
        auto call = std::move(calls.front());
        calls.pop_front();
        HttpResponse response;
        response.status = status;
        response.body = std::move(body);
        response.retryAfterSeconds = retryAfter;
        if (status == 0) {
            response.error = "connection refused";
        }
        call.second(response);
    }
    std::deque<std::pair<HttpRequest, std::function<void(HttpResponse)>>> calls;
};

class MemoryStore : public TokenStore {
  public:
    Loaded Load(std::string_view key) override {
        Loaded loaded;
        loaded.problem = problem;
        const auto found = records.find(std::string(key));
        if (problem.empty() && found != records.end()) {
            loaded.record = found->second;
        }
        return loaded;
    }
    bool Save(std::string_view key, std::string_view record, std::string& error) override {
        if (failSaves) {
            error = "disk full";
            return false;
        }
        records[std::string(key)] = std::string(record);
        ++generation;
        return true;
    }
    bool Remove(std::string_view key, std::string&) override {
        records.erase(std::string(key));
        ++generation;
        return true;
    }
    std::string Location() const override { return "memory"; }
    std::uint64_t Generation(std::string_view) override { return generation; }

    std::map<std::string, std::string> records;
    std::uint64_t generation = 1;
    bool failSaves = false;
    std::string problem;
};

class FakeClock : public WallClock {
  public:
    std::int64_t NowSeconds() override { return now; }
    std::int64_t now = 1'000'000;
};

std::string TokenAnswer(const std::string& refresh = "") {
    return refresh.empty() ? R"({"access_token":"new-access","expires_in":3600})"
                           : R"({"access_token":"new-access","expires_in":3600,"refresh_token":")" +
                                 refresh + "\"}";
}

class TokenBrokerTest : public ::testing::Test {
  protected:
    TokenBrokerTest() {
        signIn_.Provider = "google";
        signIn_.Account = "me@example.com";
        signIn_.ClientId = "cid";
        signIn_.ClientSecret = "secret";
        key_ = TokenRecordText::Key(signIn_);
        broker_ =
            std::make_unique<TokenBroker>(*loop_, store_, http_, clock_, crypto_, notifier_,
                                          [](const OAuthSignIn&) { return "run vantel auth 1"; });
    }

    void Store(std::int64_t expiresIn, std::string refresh = "old-refresh") {
        TokenRecord record;
        record.Account = signIn_.Account;
        record.Provider = "google";
        record.AccessToken = "old-access";
        record.AccessExpiry = clock_.now + expiresIn;
        record.RefreshToken = std::move(refresh);
        record.LocalPasswordHash = LocalPassword::Hash(crypto_, "local-password");
        std::string error;
        ASSERT_TRUE(store_.Save(key_, TokenRecordText::Write(record), error));
    }

    std::optional<TokenRecord> Stored() {
        std::string error;
        return TokenRecordText::Read(store_.records[key_], error);
    }

    /// Asks once; the answer arrives later, on the loop.
    std::shared_ptr<std::optional<AccessTokenAnswer>> Ask(bool renew = false) {
        auto answer = std::make_shared<std::optional<AccessTokenAnswer>>();
        broker_->Request(signIn_, renew, [answer](AccessTokenAnswer a) { *answer = a; });
        EXPECT_FALSE(answer->has_value()) << "answered inside the call";
        return answer;
    }

    AccessTokenAnswer Await(const std::shared_ptr<std::optional<AccessTokenAnswer>>& answer) {
        EXPECT_TRUE(test::RunUntil(
            *loop_, [&] { return answer->has_value(); }, 2000));
        return answer->value_or(AccessTokenAnswer{});
    }

    AccessTokenAnswer AskAndAwait(bool renew = false) { return Await(Ask(renew)); }

    std::unique_ptr<EventLoop> loop_ = CreateEventLoop();
    MemoryStore store_;
    ScriptedHttp http_;
    FakeClock clock_;
    FakeCrypto crypto_;
    test::FakeNotifier notifier_;
    OAuthSignIn signIn_;
    std::string key_;
    std::unique_ptr<TokenBroker> broker_;
};

using Kind = AccessTokenAnswer::Kind;

TEST_F(TokenBrokerTest, RenewsDueTokensOnceForEveryoneWaitingAndKeepsTheRotatedOneFirst) {
    Store(3600);
    EXPECT_EQ(AskAndAwait().token, "old-access");
    EXPECT_TRUE(http_.calls.empty());

    clock_.now += 3600 - TokenBroker::kRenewMarginSeconds + 1;
    auto first = Ask();
    auto second = Ask();
    ASSERT_EQ(http_.calls.size(), 1u);
    const std::string form = http_.calls.front().first.form;
    EXPECT_NE(form.find("grant_type=refresh_token"), std::string::npos);
    EXPECT_NE(form.find("refresh_token=old-refresh"), std::string::npos);
    EXPECT_NE(form.find("client_secret=secret"), std::string::npos);
    EXPECT_EQ(http_.calls.front().first.url, "https://oauth2.googleapis.com/token");

    http_.calls.front().second = [inner = std::move(http_.calls.front().second),
                                  this](HttpResponse r) {
        inner(r);
        // By the time anyone hears of the new access token, the new refresh token is kept.
        EXPECT_EQ(Stored()->RefreshToken, "new-refresh");
    };
    http_.Answer(200, TokenAnswer("new-refresh"));
    EXPECT_EQ(Await(first).token, "new-access");
    EXPECT_EQ(Await(second).token, "new-access");
    EXPECT_EQ(Stored()->AccessExpiry, clock_.now + 3600);
    EXPECT_EQ(Stored()->RefreshedAt, clock_.now);
    EXPECT_EQ(Stored()->LocalPasswordHash.empty(), false);

    // A server's refusal forces a renewal, unless the token is that fresh already.
    EXPECT_EQ(AskAndAwait(true).token, "new-access");
    EXPECT_TRUE(http_.calls.empty());
    clock_.now += TokenBroker::kJustRenewedSeconds;
    auto forced = Ask(true);
    ASSERT_EQ(http_.calls.size(), 1u);
    http_.Answer(200, TokenAnswer());
    EXPECT_EQ(Await(forced).kind, Kind::Token);
    EXPECT_EQ(Stored()->RefreshToken, "new-refresh");
}

TEST_F(TokenBrokerTest, PassingFailuresKeepTheTokensAndBackOff) {
    Store(0);
    const struct {
        int status;
        std::uint32_t retryAfter;
        std::int64_t wait;  ///< until the next renewal is tried
    } failures[] = {
        {0, 0, TokenBroker::kFirstBackOffSeconds},
        {503, 0, 2 * TokenBroker::kFirstBackOffSeconds},
        {429, 500, 500},
        {500, 0, 8 * TokenBroker::kFirstBackOffSeconds},
        {504, 0, 16 * TokenBroker::kFirstBackOffSeconds},
        {502, 0, TokenBroker::kMaxBackOffSeconds},
    };
    const std::string before = store_.records[key_];
    for (const auto& f : failures) {
        SCOPED_TRACE(f.status);
        auto answer = Ask();
        ASSERT_EQ(http_.calls.size(), 1u);
        http_.Answer(f.status, "", f.retryAfter);
        EXPECT_EQ(Await(answer).kind, Kind::Temporary);
        // Within the back-off nobody goes to the endpoint.
        clock_.now += f.wait - 1;
        const AccessTokenAnswer waiting = AskAndAwait();
        EXPECT_EQ(waiting.kind, Kind::Temporary);
        EXPECT_NE(waiting.reason.find("the next try in 1 s"), std::string::npos) << waiting.reason;
        EXPECT_TRUE(http_.calls.empty());
        clock_.now += 1;
    }
    EXPECT_EQ(store_.records[key_], before);
    EXPECT_TRUE(notifier_.messages.empty());

    auto answer = Ask();
    http_.Answer(200, TokenAnswer());
    EXPECT_EQ(Await(answer).kind, Kind::Token);
    clock_.now += 3600 - TokenBroker::kRenewMarginSeconds + 1;
    answer = Ask();
    http_.Answer(503, "");
    Await(answer);
    clock_.now += TokenBroker::kFirstBackOffSeconds;
    answer = Ask();
    EXPECT_EQ(http_.calls.size(), 1u) << "a success starts the back-off afresh";
}

TEST_F(TokenBrokerTest, AFailedSaveLeavesTheOldRecordAndGivesATemporaryFailure) {
    Store(0);
    store_.failSaves = true;
    auto answer = Ask();
    http_.Answer(200, TokenAnswer("rotated"));
    const AccessTokenAnswer failed = Await(answer);
    EXPECT_EQ(failed.kind, Kind::Temporary);
    EXPECT_TRUE(failed.token.empty());
    EXPECT_EQ(Stored()->RefreshToken, "old-refresh");
    ASSERT_EQ(notifier_.messages.size(), 1u);
    EXPECT_NE(notifier_.messages[0].find("could not keep the renewed"), std::string::npos);
    EXPECT_NE(notifier_.messages[0].find("disk full"), std::string::npos);
    EXPECT_EQ(notifier_.messages[0].find("rotated"), std::string::npos);
}

TEST_F(TokenBrokerTest, AnEndedGrantNeedsANewSignInUntilOneIsSaved) {
    Store(0);
    auto answer = Ask();
    http_.Answer(400, R"({"error":"invalid_grant","error_description":"Token has been expired"})");
    const AccessTokenAnswer ended = Await(answer);
    EXPECT_EQ(ended.kind, Kind::SignInNeeded);
    EXPECT_NE(ended.reason.find("run vantel auth 1"), std::string::npos);
    ASSERT_EQ(notifier_.messages.size(), 1u);
    EXPECT_NE(notifier_.messages[0].find("me@example.com"), std::string::npos);
    EXPECT_NE(notifier_.messages[0].find("run vantel auth 1"), std::string::npos);
    // The record stays, marked, with its tokens.
    ASSERT_TRUE(Stored());
    EXPECT_TRUE(Stored()->SignInNeeded);
    EXPECT_EQ(Stored()->RefreshToken, "old-refresh");

    clock_.now += TokenBroker::kMaxBackOffSeconds * 2;
    EXPECT_EQ(AskAndAwait().kind, Kind::SignInNeeded);
    EXPECT_TRUE(http_.calls.empty());
    EXPECT_EQ(notifier_.messages.size(), 1u) << "told once";
    EXPECT_TRUE(broker_->CheckLocalLogin(signIn_, "me@example.com", "local-password"));

    // `vantel auth` in another process saves a new record: the relay takes it up at once.
    Store(3600, "fresh-refresh");
    EXPECT_EQ(AskAndAwait().token, "old-access");
}

TEST_F(TokenBrokerTest, RefusalsOtherThanAnEndedGrantAreToldAndLeaveTheRecord) {
    Store(0);
    auto answer = Ask();
    http_.Answer(401, R"({"error":"invalid_client"})");
    EXPECT_EQ(Await(answer).kind, Kind::SignInNeeded);
    EXPECT_FALSE(Stored()->SignInNeeded);
    ASSERT_EQ(notifier_.messages.size(), 1u);
    EXPECT_NE(notifier_.messages[0].find("client"), std::string::npos);
}

TEST_F(TokenBrokerTest, ChecksTheLocalLogin) {
    EXPECT_FALSE(broker_->CheckLocalLogin(signIn_, "me@example.com", "local-password"));
    EXPECT_EQ(AskAndAwait().kind, Kind::SignInNeeded);
    Store(3600);
    const struct {
        const char* account;
        const char* password;
        bool accepted;
    } logins[] = {
        {"me@example.com", "local-password", true},     {"ME@Example.COM", "local-password", true},
        {"me@example.com", "local-passworD", false},    {"me@example.com", "", false},
        {"other@example.com", "local-password", false}, {"", "local-password", false},
    };
    for (const auto& l : logins) {
        SCOPED_TRACE(std::string(l.account) + " " + l.password);
        EXPECT_EQ(broker_->CheckLocalLogin(signIn_, l.account, l.password), l.accepted);
    }
}

TEST_F(TokenBrokerTest, AnUnreadableRecordIsToldNotUsed) {
    Store(3600);
    store_.problem = "the token file may be read by others";
    const AccessTokenAnswer answer = AskAndAwait();
    EXPECT_EQ(answer.kind, Kind::SignInNeeded);
    EXPECT_NE(answer.reason.find("read by others"), std::string::npos);
    ASSERT_EQ(notifier_.messages.size(), 1u);
    EXPECT_FALSE(broker_->CheckLocalLogin(signIn_, "me@example.com", "local-password"));
}

TEST_F(TokenBrokerTest, ASignInDuringARenewalWinsAndALateAnswerAfterTheBrokerIsHarmless) {
    Store(0);
    auto answer = Ask();
    Store(3600, "signed-in-again");
    http_.Answer(200, TokenAnswer("from-the-old-grant"));
    EXPECT_EQ(Await(answer).kind, Kind::Token);
    EXPECT_EQ(Stored()->RefreshToken, "signed-in-again");

    clock_.now += 3600;
    Ask();
    ASSERT_EQ(http_.calls.size(), 1u);
    broker_.reset();
    http_.Answer(200, TokenAnswer());
}

}  // namespace
}  // namespace vantel
