// The event loop of this platform, driven through the portable interface only, so the same
// cases run natively and (cross-built) under Wine.
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vantel {
namespace {

/// One socket and what it has been told; the socket goes before the hooks it reports to.
class Peer : public SocketEvents {
  public:
    std::function<void()> onAccept;
    std::function<void(int)> onConnect;
    std::function<void()> onReceive;
    std::function<void()> onSend;
    std::function<void(int)> onClose;
    int receives = 0;
    int sends = 0;
    int closes = 0;
    int closeError = 0;
    std::size_t lastBacklog = 0;
    std::string received;
    std::unique_ptr<AsyncSocket> socket;

    void OnAccept() override {
        if (onAccept) {
            onAccept();
        }
    }
    void OnConnect(int error) override {
        if (onConnect) {
            onConnect(error);
        }
    }
    void OnReceive() override {
        ++receives;
        if (onReceive) {
            onReceive();
        }
    }
    void OnSent(std::size_t backlog) override {
        ++sends;
        lastBacklog = backlog;
        if (onSend) {
            onSend();
        }
    }
    void OnClose(int error) override {
        ++closes;
        closeError = error;
        if (onClose) {
            onClose(error);
        }
    }

    /// Reads into `received` until the socket has nothing more; returns the last result.
    long Drain(std::size_t chunk = 4096) {
        std::vector<char> buffer(chunk);
        for (;;) {
            const long n = socket->Receive(buffer.data(), buffer.size());
            if (n <= 0) {
                return n;
            }
            received.append(buffer.data(), static_cast<std::size_t>(n));
        }
    }

    void SendText(const std::string& text) { socket->Write(text); }

    /// Takes a waiting connection into `into`.
    std::unique_ptr<AsyncSocket> AcceptInto(SocketEvents& into) {
        int error = 0;
        return socket->Accept(into, error);
    }
};

class EventLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loop_ = CreateEventLoop();
        ASSERT_NE(loop_, nullptr);
        listener_.socket = loop_->CreateSocket(listener_);
        ASSERT_NE(listener_.socket, nullptr);
        std::string error;
        ASSERT_TRUE(listener_.socket->Listen("127.0.0.1", 0, error)) << error;
    }

    /// Runs the loop until something calls Quit; false when `limitMs` passed first.
    bool Run(std::uint32_t limitMs = 5000) {
        bool timedOut = false;
        const TimerId guard = loop_->StartTimer(limitMs, false, [&] {
            timedOut = true;
            loop_->Quit();
        });
        loop_->Run();
        loop_->StopTimer(guard);
        return !timedOut;
    }

    void After(std::uint32_t delayMs, std::function<void()> work) {
        loop_->StartTimer(delayMs, false, std::move(work));
    }

    /// Connects `client` to the listener and accepts the other end into `server`.
    void ConnectPair(Peer& client, Peer& server) {
        bool connected = false;
        listener_.onAccept = [&] {
            if (!server.socket) {
                server.socket = listener_.AcceptInto(server);
            }
            if (server.socket && connected) {
                loop_->Quit();
            }
        };
        client.onConnect = [&](int error) {
            EXPECT_EQ(error, 0);
            connected = true;
            if (server.socket) {
                loop_->Quit();
            }
        };
        client.socket = loop_->CreateSocket(client);
        ASSERT_NE(client.socket, nullptr);
        int error = 0;
        const ConnectResult result =
            client.socket->Connect(listener_.socket->LocalAddress(), error);
        ASSERT_NE(result, ConnectResult::Failed) << error;
        connected = result == ConnectResult::Connected;
        ASSERT_TRUE(Run()) << "connecting timed out";
        listener_.onAccept = nullptr;
        client.onConnect = nullptr;
        ASSERT_NE(server.socket, nullptr);
        ASSERT_TRUE(connected);
    }

    std::uint16_t ClosedPort() {
        Peer probe;
        probe.socket = loop_->CreateSocket(probe);
        std::string error;
        EXPECT_TRUE(probe.socket->Listen("127.0.0.1", 0, error)) << error;
        return probe.socket->LocalAddress().port;
    }

    std::unique_ptr<EventLoop> loop_;  // declared first: outlives every socket below
    Peer listener_;
    Peer client_;
    Peer server_;
};

TEST_F(EventLoopTest, ListensOnAnAssignedLoopbackPortAndConnects) {
    const SocketAddress local = listener_.socket->LocalAddress();
    EXPECT_NE(local.port, 0);
    EXPECT_EQ(local.ToString(), "127.0.0.1:" + std::to_string(local.port));
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    EXPECT_EQ(client_.socket->LocalAddress().family, SocketAddress::Family::IPv4);
    EXPECT_EQ(client_.socket->LocalAddress().bytes[0], 127);
    EXPECT_EQ(server_.socket->LocalAddress().port, local.port);
}

TEST_F(EventLoopTest, ConnectsOverIPv6LoopbackWhereTheHostHasIt) {
    listener_.socket = loop_->CreateSocket(listener_);
    std::string error;
    if (!listener_.socket->Listen("::1", 0, error)) {
        GTEST_SKIP() << "no IPv6 loopback here: " << error;
    }
    const SocketAddress local = listener_.socket->LocalAddress();
    EXPECT_EQ(local.ToString(), "[::1]:" + std::to_string(local.port));
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    server_.onReceive = [&] {
        server_.Drain();
        loop_->Quit();
    };
    client_.SendText("six");
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, "six");
    EXPECT_EQ(client_.socket->LocalAddress().family, SocketAddress::Family::IPv6);
}

TEST_F(EventLoopTest, EchoesARoundTrip) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    client_.socket->SetNoDelay();
    server_.socket->SetNoDelay();
    server_.onReceive = [&] {
        server_.received.clear();
        server_.Drain();
        server_.SendText(server_.received);
    };
    client_.onReceive = [&] {
        client_.Drain();
        if (client_.received.size() >= 12) {
            loop_->Quit();
        }
    };
    client_.SendText("HELO there\r\n");
    ASSERT_TRUE(Run());
    EXPECT_EQ(client_.received, "HELO there\r\n");
}

TEST_F(EventLoopTest, ReceiveRepeatsWhileUnreadDataRemains) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    const std::string data(1000, 'x');
    server_.onReceive = [&] {
        char buffer[100];
        const long n = server_.socket->Receive(buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        server_.received.append(buffer, static_cast<std::size_t>(n));
        if (server_.received.size() == data.size()) {
            loop_->Quit();
        }
    };
    client_.SendText(data);
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, data);
    EXPECT_GE(server_.receives, 10);
}

TEST_F(EventLoopTest, PausedReceiveHoldsDataUntilResumed) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    int receivesWhenPaused = -1;
    server_.onReceive = [&] {
        server_.Drain();
        if (server_.received == "first") {
            server_.socket->PauseReceive(true);
            receivesWhenPaused = server_.receives;
            After(20, [&] { client_.SendText("second"); });
            After(150, [&] {
                EXPECT_EQ(server_.receives, receivesWhenPaused) << "OnReceive while paused";
                server_.socket->PauseReceive(false);
            });
        } else if (server_.received == "firstsecond") {
            loop_->Quit();
        }
    };
    client_.SendText("first");
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, "firstsecond");
}

TEST_F(EventLoopTest, DataAndCloseWaitingWhilePausedArriveAfterResuming) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    server_.socket->PauseReceive(true);
    bool resumed = false;
    const auto finishOnceComplete = [&] {
        if (server_.received == "tail" && server_.closes == 1) {
            After(50, [&] { loop_->Quit(); });
        }
    };
    server_.onReceive = [&] {
        EXPECT_TRUE(resumed) << "OnReceive while paused";
        server_.Drain();
        finishOnceComplete();
    };
    // Linux tells of the close at once, Windows once the data before it is read.
    server_.onClose = [&](int error) {
        EXPECT_EQ(error, 0);
        if (resumed) {
            server_.Drain();
        }
        finishOnceComplete();
    };
    client_.SendText("tail");
    client_.socket.reset();
    After(100, [&] {
        resumed = true;
        server_.socket->PauseReceive(false);
    });
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, "tail");
    EXPECT_EQ(server_.closes, 1);
}

TEST_F(EventLoopTest, LargeWriteIsQueuedAndSentInFullBeforeTheShutdown) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    auto data = std::make_shared<std::string>(8 << 20, '\0');
    for (std::size_t i = 0; i < data->size(); ++i) {
        (*data)[i] = static_cast<char>((i * 7 + i / 4096) & 0xff);
    }
    // A slow reader: nothing is read until the sender has filled every buffer.
    server_.socket->PauseReceive(true);
    After(50, [&] { server_.socket->PauseReceive(false); });
    server_.onReceive = [&] {
        if (server_.Drain(65536) == 0) {
            loop_->Quit();
        }
    };
    client_.socket->Write(std::string_view(*data).substr(0, 1000));
    client_.socket->Write(std::shared_ptr<const std::string>(data));
    client_.socket->Write(std::string_view(*data).substr(1000));
    client_.socket->ShutDownSend();  // goes after the last queued byte
    ASSERT_GT(client_.socket->Backlog(), 0u) << "the whole payload fit into the socket buffers";
    ASSERT_TRUE(Run(20000));
    EXPECT_GE(client_.sends, 1);
    EXPECT_EQ(client_.lastBacklog, 0u);
    EXPECT_EQ(client_.socket->Backlog(), 0u);
    const std::string expected = data->substr(0, 1000) + *data + data->substr(1000);
    ASSERT_EQ(server_.received.size(), expected.size());
    EXPECT_TRUE(server_.received == expected) << "the bytes arrived changed or out of order";
}

TEST_F(EventLoopTest, AQueueToppedUpBeforeItDrainsSendsEveryBlockInOrder) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    constexpr int kBlocks = 2000;  // far more than the system buffers hold
    constexpr std::size_t kBlock = 16 * 1024;
    std::string expected;
    int written = 0;
    bool ended = false;
    // Shared blocks queue as chunks of their own; topping the queue up whenever some of it has
    // gone keeps it from ever running empty, so sent chunks and new ones share it throughout.
    const auto topUp = [&] {
        while (written < kBlocks && client_.socket->Backlog() < 8 * kBlock) {
            auto block = std::make_shared<std::string>(kBlock, '\0');
            for (std::size_t i = 0; i < kBlock; ++i) {
                (*block)[i] =
                    static_cast<char>((static_cast<std::size_t>(written) * 131 + i) & 0xff);
            }
            expected += *block;
            client_.socket->Write(std::shared_ptr<const std::string>(std::move(block)));
            ++written;
        }
        if (written == kBlocks && !ended) {
            ended = true;
            client_.socket->ShutDownSend();
        }
    };
    client_.onSend = topUp;
    // A reader that takes a little at each event, so that the queue waits many times.
    server_.onReceive = [&] {
        char buffer[65536];
        const long n = server_.socket->Receive(buffer, sizeof buffer);
        if (n > 0) {
            server_.received.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            loop_->Quit();
        }
    };
    // The end may be told first: what is still waiting is read then.
    server_.onClose = [&](int) {
        server_.Drain();
        loop_->Quit();
    };
    topUp();
    ASSERT_TRUE(Run(20000));
    EXPECT_GT(client_.sends, 10) << "the queue seldom had to wait";
    ASSERT_EQ(server_.received.size(), expected.size());
    EXPECT_TRUE(server_.received == expected) << "the bytes arrived changed or out of order";
}

TEST_F(EventLoopTest, WritesBeforeTheConnectionStandsGoOnceItDoes) {
    client_.socket = loop_->CreateSocket(client_);
    client_.SendText("early ");
    int error = 0;
    const ConnectResult result = client_.socket->Connect(listener_.socket->LocalAddress(), error);
    ASSERT_NE(result, ConnectResult::Failed) << error;
    client_.SendText("bird");
    client_.socket->ShutDownSend();
    listener_.onAccept = [&] {
        server_.socket = listener_.AcceptInto(server_);
        server_.onReceive = [&] { server_.Drain(); };
        server_.onClose = [&](int) {
            server_.Drain();
            loop_->Quit();
        };
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, "early bird");
}

TEST_F(EventLoopTest, PeerCloseComesOnceAfterTheDataSentBeforeIt) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    long lastRead = AsyncSocket::kWouldBlock;
    server_.onReceive = [&] { lastRead = server_.Drain(); };
    server_.onClose = [&](int) {
        lastRead = server_.Drain();
        // Long enough for a second OnClose to show up.
        After(100, [&] { loop_->Quit(); });
    };
    client_.SendText("QUIT\r\n");
    client_.socket.reset();
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, "QUIT\r\n");
    EXPECT_EQ(lastRead, 0);
    EXPECT_LE(server_.receives, 3) << "OnReceive kept coming after the end of the stream";
    EXPECT_EQ(server_.closes, 1);
    EXPECT_EQ(server_.closeError, 0);
}

TEST_F(EventLoopTest, HalfClosedPeerStillReceivesTheReply) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    server_.onReceive = [&] { server_.Drain(); };
    server_.onClose = [&](int error) {
        EXPECT_EQ(error, 0);
        server_.Drain();
        server_.SendText("221 bye\r\n");
        server_.socket->ShutDownSend();
    };
    client_.onReceive = [&] { client_.Drain(); };
    client_.onClose = [&](int) {
        client_.Drain();
        loop_->Quit();
    };
    client_.SendText("QUIT\r\n");
    client_.socket->ShutDownSend();
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, "QUIT\r\n");
    EXPECT_EQ(client_.received, "221 bye\r\n");
    EXPECT_EQ(server_.closes, 1);
    EXPECT_EQ(client_.closes, 1);
}

TEST_F(EventLoopTest, PeerResetEndsABlockedWriteWithOneCloseAndNoCrash) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    // More than every buffer takes, so the client is waiting for room when the reset comes.
    client_.socket->Write(std::make_shared<const std::string>(32 << 20, 'r'));
    ASSERT_GT(client_.socket->Backlog(), 0u);
    // Closing with unread data makes the system reset the connection.
    server_.socket.reset();
    client_.onClose = [&](int) {
        const long last = client_.Drain();
        EXPECT_TRUE(last == 0 || last == AsyncSocket::kError) << last;
        // Writing on changes nothing and reports nothing twice.
        client_.SendText("more");
        After(100, [&] { loop_->Quit(); });
    };
    ASSERT_TRUE(Run()) << "the blocked sender never heard of the reset";
    EXPECT_EQ(client_.closes, 1);
#ifndef _WIN32
    // Windows gives the reset too, but Wine reports it as a plain close.
    EXPECT_NE(client_.closeError, 0);
#endif
}

TEST_F(EventLoopTest, DestroyingSocketsInACallbackSilencesTheirPendingEvents) {
    Peer otherClient;
    Peer otherServer;
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    ASSERT_NO_FATAL_FAILURE(ConnectPair(otherClient, otherServer));
    // Both servers become readable and see the hang-up in the same pass; whichever hears
    // first destroys both.
    int eventsAfterDestruction = 0;
    bool destroyed = false;
    const auto destroyBoth = [&] {
        if (destroyed) {
            ++eventsAfterDestruction;
            return;
        }
        destroyed = true;
        server_.socket.reset();
        otherServer.socket.reset();
        After(100, [&] { loop_->Quit(); });
    };
    server_.onReceive = destroyBoth;
    otherServer.onReceive = destroyBoth;
    server_.onClose = [&](int) { destroyBoth(); };
    otherServer.onClose = [&](int) { destroyBoth(); };
    client_.SendText("one");
    otherClient.SendText("two");
    client_.socket.reset();
    otherClient.socket.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(Run());
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(eventsAfterDestruction, 0);
}

TEST_F(EventLoopTest, ConnectToAClosedPortFails) {
    SocketAddress address = listener_.socket->LocalAddress();
    address.port = ClosedPort();
    int error = 0;
    client_.socket = loop_->CreateSocket(client_);
    const ConnectResult result = client_.socket->Connect(address, error);
    if (result == ConnectResult::InProgress) {
        client_.onConnect = [&](int connectError) {
            error = connectError;
            loop_->Quit();
        };
        ASSERT_TRUE(Run(10000));
    } else {
        EXPECT_EQ(result, ConnectResult::Failed);
    }
    EXPECT_NE(error, 0);
    EXPECT_EQ(client_.closes, 0);
}

TEST_F(EventLoopTest, ListenFailsWithAReasonOnABusyPortOrABadAddress) {
    const std::uint16_t busy = listener_.socket->LocalAddress().port;
    Peer second;
    second.socket = loop_->CreateSocket(second);
    std::string error;
    EXPECT_FALSE(second.socket->Listen("127.0.0.1", busy, error));
    EXPECT_NE(error.find(std::to_string(busy)), std::string::npos) << error;

    Peer third;
    third.socket = loop_->CreateSocket(third);
    error.clear();
    EXPECT_FALSE(third.socket->Listen("not-an-address", 0, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(EventLoopTest, TimersFireOnceOrRepeatAndStopFromTheirOwnCallback) {
    int oneShot = 0;
    int periodic = 0;
    int stopped = 0;
    std::vector<int> order;
    // Far enough apart for Windows, whose timers round up to 10 ms.
    loop_->StartTimer(60, false, [&] {
        ++oneShot;
        order.push_back(60);
    });
    loop_->StartTimer(5, false, [&] { order.push_back(5); });
    const TimerId cancelled = loop_->StartTimer(20, false, [&] { ++stopped; });
    loop_->StopTimer(cancelled);
    loop_->StopTimer(cancelled);
    loop_->StopTimer(987654321);
    TimerId repeating = 0;
    repeating = loop_->StartTimer(5, true, [&] {
        if (++periodic == 3) {
            loop_->StopTimer(repeating);
        }
    });
    After(150, [&] { loop_->Quit(); });
    ASSERT_TRUE(Run());
    EXPECT_EQ(oneShot, 1);
    EXPECT_EQ(periodic, 3);
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(order, (std::vector<int>{5, 60}));
}

TEST_F(EventLoopTest, NowMsIsMonotonicAndAdvancesWithTimers) {
    const std::uint64_t start = loop_->NowMs();
    std::uint64_t fired = 0;
    After(30, [&] {
        fired = loop_->NowMs();
        loop_->Quit();
    });
    ASSERT_TRUE(Run());
    // The Windows tick is coarse (about 16 ms), so allow one tick of slack.
    EXPECT_GE(fired, start + 14);
    EXPECT_LT(fired, start + 5000);
    EXPECT_GE(loop_->NowMs(), fired);
}

TEST_F(EventLoopTest, PostAndQuitWorkFromOtherThreads) {
    const std::thread::id loopThread = std::this_thread::get_id();
    std::vector<int> ran;
    bool allOnLoopThread = true;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop_->Post([&, i] {
                ran.push_back(i);
                allOnLoopThread = allOnLoopThread && std::this_thread::get_id() == loopThread;
                if (i == 99) {
                    loop_->Quit();
                }
            });
        }
    });
    const bool finished = Run();
    poster.join();
    ASSERT_TRUE(finished);
    ASSERT_EQ(ran.size(), 100u);
    EXPECT_TRUE(std::is_sorted(ran.begin(), ran.end()));
    EXPECT_TRUE(allOnLoopThread);

    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        loop_->Quit();
    });
    const bool quit = Run();
    quitter.join();
    EXPECT_TRUE(quit);
}

// The relay posts to its own loop (notices, clean-up); such work must keep its order and must
// not shut out the sockets, even when it keeps posting more.
TEST_F(EventLoopTest, WorkTheLoopPostsItselfKeepsItsOrderAndLetsSocketsBeHeard) {
    ASSERT_NO_FATAL_FAILURE(ConnectPair(client_, server_));
    std::vector<int> order;
    int rounds = 0;
    std::function<void()> again = [&] {
        ++rounds;
        if (server_.received.empty()) {
            loop_->Post(again);
        } else {
            loop_->Quit();
        }
    };
    server_.onReceive = [&] { server_.Drain(); };
    loop_->Post([&] {
        order.push_back(1);
        loop_->Post([&] { order.push_back(3); });
        loop_->Post(again);
        client_.SendText("heard");
    });
    loop_->Post([&] { order.push_back(2); });
    ASSERT_TRUE(Run());
    EXPECT_EQ(server_.received, "heard");
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_GT(rounds, 0);
}

TEST_F(EventLoopTest, ResolveGivesLoopbackForLocalhostAndAnErrorForNonsense) {
    std::vector<SocketAddress> local;
    std::string localError = "not called";
    std::vector<SocketAddress> bad;
    std::string badError;
    int answers = 0;
    loop_->Resolve("localhost", 25, [&](std::vector<SocketAddress> addresses, std::string error) {
        local = std::move(addresses);
        localError = std::move(error);
        if (++answers == 2) {
            loop_->Quit();
        }
    });
    loop_->Resolve("nonexistent.invalid", 25,
                   [&](std::vector<SocketAddress> addresses, std::string error) {
                       bad = std::move(addresses);
                       badError = std::move(error);
                       if (++answers == 2) {
                           loop_->Quit();
                       }
                   });
    ASSERT_TRUE(Run(15000));
    EXPECT_EQ(localError, "");
    ASSERT_FALSE(local.empty());
    for (const SocketAddress& address : local) {
        EXPECT_EQ(address.port, 25);
        const bool loopback = address.family == SocketAddress::Family::IPv4
                                  ? address.bytes[0] == 127
                                  : address.ToString() == "[::1]:25";
        EXPECT_TRUE(loopback) << address.ToString();
    }
    EXPECT_TRUE(bad.empty());
    EXPECT_FALSE(badError.empty());
}

TEST_F(EventLoopTest, LoopDestroyedWhileAResolveIsPendingNeverCallsBack) {
    auto alive = std::make_shared<int>(0);
    std::weak_ptr<int> watch = alive;
    std::atomic<bool> called{false};
    loop_->Resolve("localhost", 25,
                   [&called, alive](std::vector<SocketAddress>, std::string) { called = true; });
    alive.reset();
    listener_.socket.reset();
    loop_.reset();
    // The worker drops the callback (and what it holds) once it finds the loop gone.
    for (int i = 0; i < 500 && !watch.expired(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(called);
}

TEST_F(EventLoopTest, CarriesManyConcurrentConnections) {
#ifdef _WIN32
    constexpr int kPairs = 1000;
#else
    constexpr int kPairs = 2000;
#endif
    // Connects go out a window at a time so the listen backlog never overflows into retries.
    constexpr int kWindow = 64;
    std::vector<std::unique_ptr<Peer>> clients;
    std::vector<std::unique_ptr<Peer>> servers;
    int started = 0;
    int connectFailures = 0;
    int echoed = 0;
    std::function<void()> startNext = [&] {
        if (started == kPairs) {
            return;
        }
        const int index = started++;
        clients.push_back(std::make_unique<Peer>());
        Peer* client = clients.back().get();
        client->socket = loop_->CreateSocket(*client);
        const std::string hello = std::to_string(index) + "\n";
        client->onConnect = [&, client, hello](int error) {
            if (error != 0) {
                ++connectFailures;
                loop_->Quit();
                return;
            }
            client->SendText(hello);
        };
        client->onReceive = [&, client, hello] {
            client->Drain();
            if (client->received == hello && ++echoed == kPairs) {
                loop_->Quit();
            }
        };
        int error = 0;
        const ConnectResult result =
            client->socket->Connect(listener_.socket->LocalAddress(), error);
        if (result == ConnectResult::Failed) {
            ++connectFailures;
            loop_->Quit();
        } else if (result == ConnectResult::Connected) {
            client->SendText(hello);
        }
    };
    listener_.onAccept = [&] {
        for (;;) {
            servers.push_back(std::make_unique<Peer>());
            Peer* server = servers.back().get();
            server->socket = listener_.AcceptInto(*server);
            if (!server->socket) {
                servers.pop_back();
                return;
            }
            server->onReceive = [server] {
                server->received.clear();
                server->Drain();
                if (!server->received.empty()) {
                    server->SendText(server->received);
                }
            };
            startNext();
        }
    };
    for (int i = 0; i < kWindow; ++i) {
        startNext();
    }
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(Run(30000)) << echoed << " of " << kPairs << " pairs echoed";
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - began);
    EXPECT_EQ(connectFailures, 0);
    EXPECT_EQ(echoed, kPairs);
    EXPECT_EQ(servers.size(), static_cast<std::size_t>(kPairs));
    std::printf("%d connected pairs (%d sockets) echoed in %lld ms\n", kPairs, 2 * kPairs,
                static_cast<long long>(took.count()));
}

}  // namespace
}  // namespace vantel
