// Checks of vantel-load: the generated text, the scanning of what arrives, and every client
// against the fake servers on a loopback port.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LoadBurst.h"
#include "LoadClients.h"
#include "LoadServers.h"
#include "LoadText.h"

namespace vantel::load {
namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

/// Undoes DotTerminated: drops the final dot line and one leading dot of every line.
std::string Unstuff(const std::string& sent) {
    std::string out;
    std::vector<std::string> lines = SplitCrLf(sent);
    EXPECT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), ".");
    lines.pop_back();
    for (const std::string& line : lines) {
        out += (line.rfind('.', 0) == 0 ? line.substr(1) : line) + "\r\n";
    }
    return out;
}

TEST(LoadTextTest, BodyHasTheAskedSizeInShortCrLfLines) {
    for (std::size_t size : {0u, 2u, 3u, 4u, 77u, 78u, 79u, 80u, 157u, 1000u, 100000u}) {
        const std::string body = MakeBody(size);
        ASSERT_EQ(body.size(), size) << size;
        if (size == 0) {
            continue;
        }
        EXPECT_EQ(body.substr(body.size() - 2), "\r\n") << size;
        for (const std::string& line : SplitCrLf(body)) {
            EXPECT_LE(line.size(), 76u) << size;
            EXPECT_EQ(line.find('\r'), std::string::npos) << size;
            EXPECT_EQ(line.find('\n'), std::string::npos) << size;
        }
    }
    EXPECT_EQ(MakeBody(1), "\r\n");
}

TEST(LoadTextTest, BodyHasFullLinesAndSomeStartingWithADot) {
    const std::vector<std::string> lines = SplitCrLf(MakeBody(78 * 500));
    ASSERT_EQ(lines.size(), 500u);
    EXPECT_TRUE(std::all_of(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.size() == 76; }));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& line) { return line[0] == '.'; }));
}

TEST(LoadTextTest, HeaderHasTheAskedLinesEachNamed) {
    for (int count : {0, 1, 28, 50, 99}) {
        const std::vector<std::string> lines = SplitCrLf(MakeHeader(count, 7));
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(count));
        for (const std::string& line : lines) {
            const std::size_t colon = line.find(':');
            ASSERT_NE(colon, std::string::npos) << line;
            EXPECT_EQ(line.substr(0, colon).find(' '), std::string::npos) << line;
            EXPECT_NE(line[0], '.');
        }
    }
}

TEST(LoadTextTest, SerialMakesMessagesDiffer) {
    const std::string first = MakeHeader(50, 1);
    const std::string second = MakeHeader(50, 2);
    EXPECT_NE(first, second);
    EXPECT_NE(first.find("Message-ID: <1@"), std::string::npos);
    EXPECT_NE(second.find("Message-ID: <2@"), std::string::npos);
    EXPECT_EQ(first.size(), MakeHeader(50, 3).size());
}

TEST(LoadTextTest, MessageOfSizeIsExactAndHeaderEndsWithBlankLine) {
    const std::string message = MakeMessageOfSize(64 * 1024);
    ASSERT_EQ(message.size(), 64u * 1024);
    const std::vector<std::string> lines = SplitCrLf(message);
    ASSERT_GT(lines.size(), 51u);
    EXPECT_EQ(lines[50], "");
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(lines[static_cast<std::size_t>(i)].empty()) << i;
    }
    // Too small for the header: the header alone.
    EXPECT_EQ(MakeMessageOfSize(10), MakeHeader(50, 1) + "\r\n");
}

TEST(LoadTextTest, DotTerminatedStuffsAndEnds) {
    EXPECT_EQ(DotTerminated(""), ".\r\n");
    EXPECT_EQ(DotTerminated("a\r\n"), "a\r\n.\r\n");
    EXPECT_EQ(DotTerminated("a"), "a\r\n.\r\n");
    EXPECT_EQ(DotTerminated(".\r\n..x\r\nb.c\r\n"), "..\r\n...x\r\nb.c\r\n.\r\n");
    const std::string message = MakeMessage(50, 3, 78 * 300);
    const std::string sent = DotTerminated(message);
    EXPECT_GT(sent.size(), message.size() + 3);  // some body lines were stuffed
    EXPECT_EQ(Unstuff(sent), message);
}

TEST(DotEndScannerTest, FindsTheEndWhereverTheReadsCut) {
    const std::string block = DotTerminated(MakeMessage(5, 1, 78 * 200)) + "QUIT\r\n";
    const std::size_t expectedEnd = block.size() - 6;
    for (std::size_t cut = 1; cut < block.size(); ++cut) {
        DotEndScanner scanner;
        scanner.Reset(true);
        const std::string_view first(block.data(), cut);
        const std::size_t end = scanner.Feed(first);
        if (cut >= expectedEnd) {
            ASSERT_EQ(end, expectedEnd) << cut;
        } else {
            ASSERT_EQ(end, std::string_view::npos) << cut;
            ASSERT_EQ(scanner.Feed(std::string_view(block).substr(cut)), expectedEnd - cut) << cut;
        }
    }
}

TEST(DotEndScannerTest, FindsTheEndFedByteByByte) {
    const std::string block = "+OK\r\n..\r\n...\r\nx\r\n.\r\n";
    DotEndScanner scanner;
    scanner.Reset(false);
    for (std::size_t i = 0; i < block.size(); ++i) {
        const std::size_t end = scanner.Feed(std::string_view(block).substr(i, 1));
        if (i + 1 < block.size()) {
            ASSERT_EQ(end, std::string_view::npos) << i;
        } else {
            EXPECT_EQ(end, 1u);
        }
    }
}

TEST(DotEndScannerTest, LineStartDecidesWhetherALeadingDotLineEnds) {
    DotEndScanner scanner;
    scanner.Reset(true);
    EXPECT_EQ(scanner.Feed(".\r\nMAIL"), 3u);
    scanner.Reset(false);
    EXPECT_EQ(scanner.Feed(".\r\n"), std::string_view::npos);
    // A new block forgets the tail of the last one.
    scanner.Reset(false);
    EXPECT_EQ(scanner.Feed("\r\n"), std::string_view::npos);
    scanner.Reset(false);
    EXPECT_EQ(scanner.Feed(".\r\n"), std::string_view::npos);
    EXPECT_EQ(scanner.Feed("x\r\n.\r\n"), 6u);
}

TEST(QuantileTest, TakesTheValueAtTheRankThatCoversTheShare) {
    const struct {
        std::vector<double> values;
        double q;
        double expected;
    } cases[] = {
        {{}, 0.99, 0},           {{7}, 0.5, 7},        {{4, 1, 3, 2}, 0.5, 2},
        {{4, 1, 3, 2}, 0.99, 4}, {{4, 1, 3, 2}, 0, 1},
    };
    for (auto c : cases) {
        EXPECT_EQ(Quantile(c.values, c.q), c.expected) << c.q << " of " << c.values.size();
    }
}

TEST(LineBufferTest, JoinsLinesAcrossAppendsAndGivesTheRest) {
    LineBuffer lines;
    std::string line;
    lines.Append("220 rea");
    EXPECT_FALSE(lines.Next(line));
    lines.Append("dy\r");
    EXPECT_FALSE(lines.Next(line));
    lines.Append("\n250 ok\r\n\r\nrest");
    ASSERT_TRUE(lines.Next(line));
    EXPECT_EQ(line, "220 ready");
    ASSERT_TRUE(lines.Next(line));
    EXPECT_EQ(line, "250 ok");
    ASSERT_TRUE(lines.Next(line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(lines.Next(line));
    EXPECT_EQ(lines.TakeRest(), "rest");
    EXPECT_EQ(lines.TakeRest(), "");
    // Many lines: the consumed part is dropped now and then without losing any.
    for (int i = 0; i < 20000; ++i) {
        lines.Append("line " + std::to_string(i) + "\r\n");
        ASSERT_TRUE(lines.Next(line));
        ASSERT_EQ(line, "line " + std::to_string(i));
    }
}

TEST(SmtpReplyTest, ParsesCodeAndContinuation) {
    EXPECT_EQ(ParseSmtpReply("250 ok").code, 250);
    EXPECT_TRUE(ParseSmtpReply("250 ok").last);
    EXPECT_FALSE(ParseSmtpReply("250-PIPELINING").last);
    EXPECT_TRUE(ParseSmtpReply("221").last);
    EXPECT_EQ(ParseSmtpReply("+OK").code, -1);
    EXPECT_EQ(ParseSmtpReply("25").code, -1);
}

/// A loop with the fake servers on free ports, and a way to run one scenario to its end.
class LoadLoopTest : public ::testing::Test {
  protected:
    LoadLoopTest() : loop_(CreateEventLoop()) {}

    std::uint16_t StartSmtp() {
        smtp_ = std::make_unique<FakeSmtpServer>(*loop_);
        std::string error;
        EXPECT_TRUE(smtp_->Listen(0, error)) << error;
        return smtp_->port();
    }
    std::uint16_t StartPop3(std::size_t size) {
        pop3_ = std::make_unique<FakePop3Server>(*loop_, size);
        std::string error;
        EXPECT_TRUE(pop3_->Listen(0, error)) << error;
        return pop3_->port();
    }
    /// A port that nothing listens on.
    std::uint16_t ClosedPort() {
        FakeSmtpServer server(*loop_);
        std::string error;
        EXPECT_TRUE(server.Listen(0, error));
        return server.port();
    }
    Scenario::DoneHandler Done() {
        return [this](const Outcome& outcome) {
            outcome_ = outcome;
            loop_->Quit();
        };
    }
    /// Runs `scenario` until it reports; the scenario's own timeout bounds the wait.
    Outcome Run(Scenario& scenario) {
        outcome_.reset();
        scenario.Start();
        for (int i = 0; i < 10 && !outcome_; ++i) {
            loop_->Run();
        }
        EXPECT_TRUE(outcome_.has_value());
        return outcome_.value_or(Outcome{});
    }

    std::unique_ptr<EventLoop> loop_;
    std::unique_ptr<FakeSmtpServer> smtp_;
    std::unique_ptr<FakePop3Server> pop3_;
    std::optional<Outcome> outcome_;
};

/// Accepts connections and never says a word.
struct SilentServer : SocketEvents {
    explicit SilentServer(EventLoop& loop) : listener(loop.CreateSocket(*this)) {}
    void OnAccept() override {
        int error = 0;
        if (auto socket = listener->Accept(ignored, error)) {
            accepted.push_back(std::move(socket));
        }
    }
    SocketEvents ignored;
    std::unique_ptr<AsyncSocket> listener;
    std::vector<std::unique_ptr<AsyncSocket>> accepted;
};

/// Greets only the first `greeted` connections; the others wait in silence, as connections a
/// server has lost do.
class HalfDeafServer : public FakeServer {
  public:
    HalfDeafServer(EventLoop& loop, int greeted) : FakeServer(loop), greeted_(greeted) {}

  private:
    class Session : public FakeServer::Session {
      public:
        Session(FakeServer& server, bool greets) : FakeServer::Session(server), greets_(greets) {}
        void Start() override {
            if (greets_) {
                Send("220 hello\r\n");
            }
        }

      protected:
        void Received(std::string_view data) override {
            lines_.Append(data);
            std::string line;
            while (greets_ && open() && lines_.Next(line)) {
                if (line.rfind("QUIT", 0) == 0) {
                    Send("221 bye\r\n");
                    CloseWhenSent();
                } else {
                    Send("250 ok\r\n");
                }
            }
        }

      private:
        bool greets_;
        LineBuffer lines_;
    };
    std::unique_ptr<FakeServer::Session> NewSession() override {
        return std::make_unique<Session>(*this, accepted_++ < greeted_);
    }

    int greeted_;
    int accepted_ = 0;
};

/// A raw client: sends what it is told and keeps everything the server says.
class Recorder : public Conversation {
  public:
    using Conversation::Conversation;
    std::string received;
    bool ended = false;

  protected:
    void Received(std::string_view data) override { received.append(data); }
    void Ended(bool) override { ended = true; }
};

/// The reply codes (or +OK/-ERR) that start the lines of `text`.
std::vector<std::string> Codes(const std::string& text) {
    std::vector<std::string> codes;
    for (const std::string& line : SplitCrLf(text)) {
        codes.push_back(line.substr(0, line.rfind('-', 0) == 0 ? 4 : 3));
    }
    return codes;
}

std::shared_ptr<const std::string> SmallMessage(long serial) {
    return std::make_shared<const std::string>(DotTerminated(MakeMessage(50, serial, 234)));
}

TEST_F(LoadLoopTest, MailerSendsALargeMessageAndTimesItsData) {
    const std::uint16_t port = StartSmtp();
    const auto message =
        std::make_shared<const std::string>(DotTerminated(MakeMessage(8, 1, 4 << 20)));
    SmtpMailer mailer(
        *loop_, port, 1, [&](long) { return message; }, true, 20000, Done());
    const Outcome outcome = Run(mailer);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.amount, static_cast<double>(message->size()));
    EXPECT_GT(outcome.seconds, 0);
    EXPECT_EQ(smtp_->messages(), 1);
}

TEST_F(LoadLoopTest, MailerSendsEveryMessageInOneSession) {
    const std::uint16_t port = StartSmtp();
    std::vector<long> serials;
    SmtpMailer mailer(
        *loop_, port, 40,
        [&](long serial) {
            serials.push_back(serial);
            return SmallMessage(serial);
        },
        false, 20000, Done());
    const Outcome outcome = Run(mailer);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.succeeded, 40);
    EXPECT_EQ(outcome.amount, 40);
    EXPECT_GT(outcome.seconds, 0);
    EXPECT_EQ(smtp_->messages(), 40);
    EXPECT_EQ(smtp_->sessions(), 1);
    ASSERT_EQ(serials.size(), 40u);
    EXPECT_EQ(serials.front(), 0);
    EXPECT_EQ(serials.back(), 39);
}

TEST_F(LoadLoopTest, MailerStopsSendingWhenItsTimeIsUp) {
    const std::uint16_t port = StartSmtp();
    SmtpMailer mailer(*loop_, port, 1000, SmallMessage, false, 20000, Done());
    mailer.StopAfter(1e-9);  // up as soon as the first message is through
    const Outcome outcome = Run(mailer);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.succeeded, 1);
    EXPECT_EQ(outcome.amount, 1);
    EXPECT_EQ(smtp_->messages(), 1);
}

TEST_F(LoadLoopTest, MailerFailsWhenNothingListens) {
    SmtpMailer mailer(*loop_, ClosedPort(), 1, SmallMessage, false, 5000, Done());
    const Outcome outcome = Run(mailer);
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.error.empty());
}

TEST_F(LoadLoopTest, MailerGivesUpWhenTheServerNeverGreets) {
    SilentServer silent(*loop_);
    std::string error;
    ASSERT_TRUE(silent.listener->Listen("127.0.0.1", 0, error)) << error;
    SmtpMailer mailer(*loop_, silent.listener->LocalAddress().port, 1, SmallMessage, false, 300,
                      Done());
    const Outcome outcome = Run(mailer);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("timed out"), std::string::npos) << outcome.error;
}

TEST_F(LoadLoopTest, SmtpServerTakesCommandsThatFollowTheDotInTheSameRead) {
    const std::uint16_t port = StartSmtp();
    Recorder client(*loop_);
    ASSERT_TRUE(client.Connect(port));
    // One write: the end of each message and the next commands arrive together, and the second
    // message is empty (its dot line follows DATA at once).
    client.Send(
        "EHLO x\r\nMAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\nline\r\n..dotted\r\n.\r\n"
        "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n.\r\nBOGUS\r\nQUIT\r\n");
    for (int i = 0; i < 10 && !client.ended; ++i) {
        const TimerId stop = loop_->StartTimer(500, false, [&] { loop_->Quit(); });
        loop_->Run();
        loop_->StopTimer(stop);
    }
    EXPECT_TRUE(client.ended);
    EXPECT_EQ(Codes(client.received),
              (std::vector<std::string>{"220", "250", "250", "250", "354", "250", "250", "250",
                                        "354", "250", "500", "221"}));
    EXPECT_EQ(smtp_->messages(), 2);
}

TEST_F(LoadLoopTest, Pop3ServerAnswersTheCommandsOfAMailbox) {
    const std::uint16_t port = StartPop3(5000);
    Recorder client(*loop_);
    ASSERT_TRUE(client.Connect(port));
    client.Send("USER a\r\nPASS b\r\nSTAT\r\nLIST\r\nXTND\r\nQUIT\r\n");
    for (int i = 0; i < 10 && !client.ended; ++i) {
        const TimerId stop = loop_->StartTimer(500, false, [&] { loop_->Quit(); });
        loop_->Run();
        loop_->StopTimer(stop);
    }
    EXPECT_TRUE(client.ended);
    EXPECT_EQ(client.received,
              "+OK vantel-load POP3 ready\r\n+OK\r\n+OK\r\n+OK 1 5000\r\n"
              "+OK 1 message\r\n1 5000\r\n.\r\n-ERR unknown command\r\n+OK bye\r\n");
    EXPECT_EQ(pop3_->messages(), 0);
}

TEST_F(LoadLoopTest, RetrieverReceivesTheWholeMessage) {
    const std::size_t size = 3 << 20;
    const std::uint16_t port = StartPop3(size);
    Pop3Retriever retriever(*loop_, port, 20000, Done());
    const Outcome outcome = Run(retriever);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    const std::string reply =
        "+OK " + std::to_string(size) + " octets\r\n" + DotTerminated(MakeMessageOfSize(size));
    EXPECT_EQ(outcome.amount, static_cast<double>(reply.size()));
    EXPECT_EQ(pop3_->messages(), 1);
}

/// vantel-minrelay on a free port in front of 127.0.0.1:`server`, for the object's life.
class MinimalRelay {
  public:
    MinimalRelay(bool splice, std::uint16_t server) {
        port_ = FreePort();
        const std::string listen = std::to_string(port_);
        const std::string target = std::to_string(server);
        std::vector<const char*> args = {VANTEL_MINRELAY};
        if (splice) {
            args.push_back("--splice");
        }
        args.insert(args.end(), {listen.c_str(), target.c_str(), nullptr});
        if (posix_spawn(&pid_, VANTEL_MINRELAY, nullptr, nullptr, const_cast<char**>(args.data()),
                        environ) != 0) {
            pid_ = -1;
        }
    }
    ~MinimalRelay() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    MinimalRelay(const MinimalRelay&) = delete;
    MinimalRelay& operator=(const MinimalRelay&) = delete;

    /// Its port, once it listens (5 s at most); 0 when it never does.
    std::uint16_t Ready() const {
        for (int i = 0; pid_ > 0 && i < 100; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in address = Loopback(port_);
            const bool up =
                connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            close(fd);
            if (up) {
                return port_;
            }
            usleep(50000);
        }
        return 0;
    }

  private:
    static sockaddr_in Loopback(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    static std::uint16_t FreePort() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        close(fd);
        return ntohs(address.sin_port);
    }

    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

TEST_F(LoadLoopTest, MinimalRelayCarriesAMessageEachWayCopyingOrSplicing) {
    const std::uint16_t smtp = StartSmtp();
    const std::uint16_t pop3 = StartPop3(3 << 20);
    const auto message =
        std::make_shared<const std::string>(DotTerminated(MakeMessage(8, 1, 4 << 20)));
    for (const bool splice : {false, true}) {
        const MinimalRelay toSmtp(splice, smtp);
        const MinimalRelay toPop3(splice, pop3);
        const std::uint16_t smtpPort = toSmtp.Ready();
        const std::uint16_t pop3Port = toPop3.Ready();
        ASSERT_NE(smtpPort, 0) << "splice " << splice;
        ASSERT_NE(pop3Port, 0) << "splice " << splice;
        SmtpMailer mailer(
            *loop_, smtpPort, 1, [&](long) { return message; }, true, 20000, Done());
        const Outcome sent = Run(mailer);
        EXPECT_TRUE(sent.ok) << sent.error;
        EXPECT_EQ(sent.bytes, static_cast<double>(message->size()));
        Pop3Retriever retriever(*loop_, pop3Port, 20000, Done());
        const Outcome retrieved = Run(retriever);
        EXPECT_TRUE(retrieved.ok) << retrieved.error;
        const std::string reply = "+OK " + std::to_string(3 << 20) + " octets\r\n" +
                                  DotTerminated(MakeMessageOfSize(3 << 20));
        EXPECT_EQ(retrieved.bytes, static_cast<double>(reply.size())) << "splice " << splice;
    }
    EXPECT_EQ(smtp_->messages(), 2);
    EXPECT_EQ(pop3_->messages(), 2);
}

TEST_F(LoadLoopTest, RetrieverFailsOnAServerThatIsNotPop3) {
    const std::uint16_t port = StartSmtp();
    Pop3Retriever retriever(*loop_, port, 5000, Done());
    const Outcome outcome = Run(retriever);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find("220"), std::string::npos) << outcome.error;
}

TEST_F(LoadLoopTest, SequentialSessionsRunOneAfterAnother) {
    const std::uint16_t port = StartSmtp();
    SequentialSessions sessions(*loop_, port, 60, 20000, Done());
    const Outcome outcome = Run(sessions);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.succeeded, 60);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(smtp_->sessions(), 60);
    EXPECT_LE(smtp_->peakOpenSessions(), 2u);
}

TEST_F(LoadLoopTest, SequentialSessionsCountFailures) {
    SequentialSessions sessions(*loop_, ClosedPort(), 5, 5000, Done());
    const Outcome outcome = Run(sessions);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.succeeded, 0);
    EXPECT_EQ(outcome.failed, 5);
}

TEST_F(LoadLoopTest, ConcurrentSessionsAreOpenTogether) {
    const std::uint16_t port = StartSmtp();
    ConcurrentSessions sessions(*loop_, port, 150, 20000, Done());
    const Outcome outcome = Run(sessions);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.succeeded, 150);
    EXPECT_EQ(smtp_->sessions(), 150);
    EXPECT_GE(smtp_->peakOpenSessions(), 150u);
}

TEST_F(LoadLoopTest, ConcurrentSessionsDoNotWaitForConnectionsTheServerLost) {
    HalfDeafServer server(*loop_, 3);
    std::string error;
    ASSERT_TRUE(server.Listen(0, error)) << error;
    ConcurrentSessions sessions(*loop_, server.port(), 5, 1000, Done());
    const Outcome outcome = Run(sessions);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.succeeded, 3);
    EXPECT_EQ(outcome.failed, 2);
    EXPECT_EQ(outcome.error.find("timed out"), std::string::npos) << outcome.error;
}

TEST_F(LoadLoopTest, BurstHoldsTheSessionsTheServerGreetsFromSeveralAddresses) {
    HalfDeafServer deaf(*loop_, 3);
    std::string error;
    ASSERT_TRUE(deaf.Listen(0, error)) << error;
    const struct {
        std::uint16_t port;
        long count;
        long held;
    } cases[] = {{StartSmtp(), 120, 120}, {deaf.port(), 5, 3}, {ClosedPort(), 4, 0}};
    // The burst blocks its thread; the servers answer from theirs.
    std::thread servers([this] { loop_->Run(); });
    std::vector<BurstOutcome> outcomes;
    for (const auto& c : cases) {
        outcomes.push_back(RunBurst(c.port, c.count, 4, 1000));
    }
    loop_->Quit();
    servers.join();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const BurstOutcome& outcome = outcomes[i];
        EXPECT_EQ(outcome.held, cases[i].held) << i;
        EXPECT_EQ(outcome.quit, cases[i].held) << i;
        EXPECT_EQ(outcome.failed, cases[i].count - cases[i].held) << i;
        // A session the server never greeted counts as having waited the whole time.
        EXPECT_EQ(outcome.p99Ms >= 1000, cases[i].held < cases[i].count) << i;
    }
    EXPECT_EQ(smtp_->sessions(), 120);
}

TEST_F(LoadLoopTest, ConcurrentSessionsReportHowManyFailed) {
    ConcurrentSessions sessions(*loop_, ClosedPort(), 20, 5000, Done());
    const Outcome outcome = Run(sessions);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.succeeded, 0);
    EXPECT_EQ(outcome.failed, 20);
}

}  // namespace
}  // namespace vantel::load
