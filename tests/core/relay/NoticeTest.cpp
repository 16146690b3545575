// What the user is told when a server cannot be reached, and how often.
#include <gtest/gtest.h>

#include <regex>

#include "FaultyLoop.h"
#include "core/notice/LogNotifier.h"
#include "core/notice/NoticeCoalescer.h"
#include "core/relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackServer;

class NoticeTest : public test::RelayFixture {
  protected:
    /// A relay of its own on `loop`, telling `notifier`, with one entry to `name`:`remotePort`.
    std::unique_ptr<RelayHost> Relay(EventLoop& loop, Notifier& notifier, std::string name,
                                     int remotePort, std::uint16_t& port) {
        auto host = std::make_unique<RelayHost>(loop, notifier, nullptr, observer_, 7);
        port = test::FreePort(*loop_);
        ServerEntry entry;
        entry.Type = static_cast<int>(ServerType::Smtp);
        entry.LocalPort = port;
        entry.RemotePort = remotePort;
        entry.Name = std::move(name);
        host->settings().ServerList = {entry};
        host->settings().ConnectTimeout = 1;
        host->Start();
        return host;
    }
};

TEST_F(NoticeTest, FailuresSayWhichEntryWhichHostAndWhy) {
    // Refused: nothing listens on the server's port.
    const std::uint16_t closed = test::FreePort(*loop_);
    std::uint16_t port = 0;
    auto refused = Relay(*loop_, notifier_, "127.0.0.1", closed, port);
    auto client = Client(port);
    ASSERT_TRUE(Run([&] { return notifier_.notices.size() == 1 && client->closed; }));
    Notice notice = notifier_.notices[0];
    EXPECT_EQ(notice.text, RelayEngine::kConnectFailedText);
    EXPECT_EQ(notice.entry, "local port " + std::to_string(port) + ", server 127.0.0.1 port " +
                                std::to_string(closed));
    EXPECT_EQ(notice.host, "127.0.0.1:" + std::to_string(closed));
    EXPECT_EQ(notice.reason, "connection refused");
    EXPECT_EQ(notice.Box(), "Error connecting to host\n\nEntry: " + notice.entry +
                                "\nHost: " + notice.host + "\nReason: connection refused");
    refused.reset();

    // No such host.
    auto unknown = Relay(*loop_, notifier_, "no-such-host.invalid", 25, port);
    client = Client(port);
    ASSERT_TRUE(Run([&] { return notifier_.notices.size() == 2 && client->closed; }));
    notice = notifier_.notices[1];
    EXPECT_EQ(notice.host, "no-such-host.invalid");
    // A machine without a name server cannot tell "no such host" from "cannot ask".
    EXPECT_TRUE(notice.reason == "no such host" ||
                notice.reason.find("resolution") != std::string::npos)
        << notice.reason;
    unknown.reset();

    // Timed out: the lookup alone takes longer than the connect time-out of 1 s.
    test::FaultyLoop slow(*loop_);
    slow.resolveDelayMs = 3000;
    LoopbackServer server(*loop_);
    auto late = Relay(slow, notifier_, "127.0.0.1", server.port(), port);
    client = Client(port);
    ASSERT_TRUE(Run([&] { return notifier_.notices.size() == 3 && client->closed; }, 5000));
    notice = notifier_.notices[2];
    EXPECT_EQ(notice.host, "127.0.0.1");
    EXPECT_EQ(notice.reason, "timed out after 1 s");
    EXPECT_TRUE(server.connections.empty());
    late.reset();
    Run([] { return false; }, 3100);  // the late answer finds its session gone
}

class LineLog : public LogSink {
  public:
    void WriteLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

TEST_F(NoticeTest, ALogTellsARepeatOnceAMinuteWithItsCount) {
    LineLog log;
    LogNotifier writer(log);
    NoticeCoalescer coalescer(*loop_, writer, 300, true);  // a minute, shortened
    const Notice refused{"Error connecting to host", "local port 2525, server mx port 25",
                         "192.0.2.1:25", "connection refused"};
    for (int i = 0; i < 5; ++i) {
        coalescer.ShowError(refused);
    }
    coalescer.ShowError({"Error connecting to host", "local port 1110, server pop port 110",
                         "192.0.2.2:110", "timed out after 5 s"});
    ASSERT_EQ(log.lines.size(), 2u);
    ASSERT_TRUE(Run([&] { return log.lines.size() == 3; }, 2000));
    const std::regex stamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");
    for (const std::string& line : log.lines) {
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    }
    EXPECT_EQ(log.lines[0].substr(20),
              "Error connecting to host: local port 2525, server mx port 25; 192.0.2.1:25; "
              "connection refused");
    EXPECT_EQ(log.lines[2].substr(20), log.lines[0].substr(20) + " (repeated 4 times)");
    // Nothing more to tell: no line when the next hold ends.
    Run([] { return false; }, 700);
    EXPECT_EQ(log.lines.size(), 3u);
}

}  // namespace
}  // namespace vantel
