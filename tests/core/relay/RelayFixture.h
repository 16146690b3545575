// What the relay tests share: a relay host on a real event loop, and what it reports.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "FakeNotifier.h"
#include "LoopRunner.h"
#include "LoopbackPeer.h"
#include "core/relay/RelayHost.h"

namespace vantel::test {

/// Whether a reset connection surely reads as one. Windows reports it, but Wine, which the
/// Windows tests run under, reports it as the end of the stream.
#ifdef _WIN32
constexpr bool kResetsReported = false;
#else
constexpr bool kResetsReported = true;
#endif

class RecordingTrace : public TraceSink {
  public:
    void Write(std::string_view text) override {
        if (!failOn.empty() && text.find(failOn) != std::string_view::npos) {
            throw std::bad_alloc();  // as an allocation failing in the middle of a session
        }
        writes.emplace_back(text);
    }
    std::vector<std::string> writes;
    std::string failOn;
};

class CountingObserver : public RelayStateObserver {
  public:
    void OnRelayStateChanged() override { ++updates; }
    int updates = 0;
};

/// A relay host on a real loop, with loopback servers and clients around it.
class RelayFixture : public ::testing::Test {
  protected:
    RelayEngine& Engine() { return host_.engine(); }
    /// An entry relaying local port `localPort` to the test server.
    ServerEntry Entry(ServerType type, std::uint16_t localPort, const LoopbackServer& server) {
        ServerEntry entry;
        entry.Type = static_cast<int>(type);
        entry.LocalPort = localPort;
        entry.RemotePort = server.port();
        entry.Name = "127.0.0.1";
        return entry;
    }
    std::unique_ptr<LoopbackPeer> Client(std::uint16_t port) {
        auto client = std::make_unique<LoopbackPeer>(*loop_);
        EXPECT_TRUE(client->Connect(port));
        return client;
    }
    bool Run(const std::function<bool()>& done, std::uint32_t timeoutMs = 10000) {
        return RunUntil(*loop_, done, timeoutMs);
    }

    std::unique_ptr<EventLoop> loop_ = CreateEventLoop();
    test::FakeNotifier notifier_;
    RecordingTrace trace_;
    CountingObserver observer_;
    RelayHost host_{*loop_, notifier_, &trace_, observer_, 7};
    RelaySettings& settings_ = host_.settings();
};

}  // namespace vantel::test
