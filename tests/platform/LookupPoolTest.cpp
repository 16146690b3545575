// The lookup pool against a name server that answers only when the test lets it.
#include "platform/LookupPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

#include "LoopRunner.h"

namespace vantel {
namespace {

using namespace std::chrono_literals;

/// Lookup number n (its port is its number) blocks until more than n are released.
class BlockingResolver {
  public:
    std::vector<SocketAddress> LookUp(std::uint16_t port, std::string& error) {
        std::unique_lock<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
        maxRunning = std::max(maxRunning, ++running);
        changed.notify_all();
        const bool let = changed.wait_for(lock, 20s, [&] { return released > port; });
        --running;
        if (!let) {
            error = "never released";
            return {};
        }
        SocketAddress address;
        address.port = port;
        return {address};
    }
    void Release(std::size_t count) {
        std::lock_guard<std::mutex> lock(mutex);
        released = count;
        changed.notify_all();
    }
    bool WaitUntilRunning(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return running >= count; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::thread::id> threads;
    std::size_t running = 0;
    std::size_t maxRunning = 0;
    std::size_t released = 0;
};

LookupPool::LookUpFunction Through(const std::shared_ptr<BlockingResolver>& resolver) {
    return [resolver](const std::string&, std::uint16_t port, std::string& error) {
        return resolver->LookUp(port, error);
    };
}

/// Results go through a queue drained on the loop, as an event loop drains its own.
class LookupPoolTest : public ::testing::Test {
  protected:
    ~LookupPoolTest() override { posts_->Close(); }

    std::unique_ptr<EventLoop> loop_ = CreateEventLoop();
    std::shared_ptr<PostQueue> posts_ = std::make_shared<PostQueue>([this] {
        loop_->Post([this] {
            for (auto& work : posts_->TakeAll()) {
                work();
            }
        });
    });
};

TEST_F(LookupPoolTest, ManyBlockedLookupsShareAFewWorkersAndAnswerOnTheLoopInOrder) {
    constexpr std::uint16_t kLookups = 300;
    auto resolver = std::make_shared<BlockingResolver>();
    LookupPool pool(Through(resolver));
    std::vector<std::uint16_t> answered;
    std::string errors;
    bool onLoopThread = true;
    const std::thread::id loopThread = std::this_thread::get_id();
    for (std::uint16_t i = 0; i < kLookups; ++i) {
        pool.Resolve(posts_, "host" + std::to_string(i), i,
                     [&](std::vector<SocketAddress> addresses, std::string error) {
                         onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
                         answered.push_back(addresses.empty() ? 0xFFFF : addresses[0].port);
                         errors += error;
                         // One at a time: the next answer can only come from the next lookup.
                         resolver->Release(answered.size() + 1);
                     });
    }
    ASSERT_TRUE(resolver->WaitUntilRunning(LookupPool::kDefaultThreads));
    std::this_thread::sleep_for(50ms);  // room for any worker beyond the limit to show up

    resolver->Release(1);
    ASSERT_TRUE(test::RunUntil(
        *loop_, [&] { return answered.size() == kLookups; }, 20000));
    std::vector<std::uint16_t> expected(kLookups);
    std::iota(expected.begin(), expected.end(), std::uint16_t{0});
    EXPECT_EQ(answered, expected);
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(onLoopThread);
    std::lock_guard<std::mutex> lock(resolver->mutex);
    EXPECT_EQ(resolver->maxRunning, LookupPool::kDefaultThreads);
    EXPECT_EQ(resolver->threads.size(), LookupPool::kDefaultThreads);
}

TEST_F(LookupPoolTest, DestroyedWhileLookupsBlockReturnsAtOnceAndNeverCallsBack) {
    constexpr std::uint16_t kLookups = 10;
    constexpr std::size_t kThreads = 2;
    auto resolver = std::make_shared<BlockingResolver>();
    const std::weak_ptr<BlockingResolver> resolverWatch = resolver;
    auto pool = std::make_unique<LookupPool>(Through(resolver), kThreads);
    int calls = 0;
    std::vector<std::weak_ptr<int>> captures;
    for (std::uint16_t i = 0; i < kLookups; ++i) {
        auto capture = std::make_shared<int>(i);
        captures.push_back(capture);
        pool->Resolve(posts_, "host", i,
                      [&calls, capture](std::vector<SocketAddress>, std::string) { ++calls; });
    }
    ASSERT_TRUE(resolver->WaitUntilRunning(kThreads));

    const auto start = std::chrono::steady_clock::now();
    pool.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    // The queued lookups went with the pool; the running ones hold their callbacks still.
    for (std::size_t i = 0; i < captures.size(); ++i) {
        EXPECT_EQ(captures[i].expired(), i >= kThreads) << i;
    }

    // Once their lookups return, the workers drop the answers and end, letting go of all
    // they shared.
    resolver->Release(kLookups);
    resolver.reset();
    for (int i = 0; i < 1000 && !resolverWatch.expired(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(resolverWatch.expired());
    bool drained = false;
    posts_->Push([&] { drained = true; });
    ASSERT_TRUE(test::RunUntil(*loop_, [&] { return drained; }));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(captures[0].expired() && captures[1].expired());
}

TEST_F(LookupPoolTest, AnIPv6AddressInBracketsIsLookedUpWithoutThem) {
    std::vector<std::string> asked;
    LookupPool pool(
        [&](const std::string& host, std::uint16_t, std::string& error) {
            asked.push_back(host);  // one worker: the lookups come one after the other
            error = "no such host";
            return std::vector<SocketAddress>();
        },
        1);
    const std::vector<std::string> hosts = {"[::1]", "[fe80::1%eth0]", "[mail.example.org]",
                                            "[]",    "[::1",           "::1]"};
    std::size_t answered = 0;
    for (const std::string& host : hosts) {
        pool.Resolve(posts_, host, 25,
                     [&](std::vector<SocketAddress>, std::string) { ++answered; });
    }
    ASSERT_TRUE(test::RunUntil(
        *loop_, [&] { return answered == hosts.size(); }, 10000));
    EXPECT_EQ(asked, (std::vector<std::string>{"::1", "fe80::1%eth0", "[mail.example.org]", "[]",
                                               "[::1", "::1]"}));
}

}  // namespace
}  // namespace vantel
