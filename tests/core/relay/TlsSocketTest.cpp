// TlsSocket as a filter between a wire and a TLS client, both fakes: the server's bytes are fed
// in every fragmentation, and what the owner hears is checked, with no network and no TLS
// library.
#include "core/relay/TlsSocket.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantel {
namespace {

/// The plain socket under the TLS socket: what is sent is kept, what the server says is fed.
class FakeWire : public AsyncSocket {
  public:
    using AsyncSocket::AsyncSocket;
    bool Listen(const std::string&, std::uint16_t, std::string&) override { return false; }
    std::unique_ptr<AsyncSocket> Accept(SocketEvents&, int&) override { return nullptr; }
    ConnectResult Connect(const SocketAddress&, int&) override { return ConnectResult::Connected; }
    long Receive(void* buffer, std::size_t size) override {
        if (inbox.empty()) {
            return ended ? 0 : kWouldBlock;
        }
        const std::size_t n = std::min(size, inbox.size());
        inbox.copy(static_cast<char*>(buffer), n);
        inbox.erase(0, n);
        return static_cast<long>(n);
    }
    void PauseReceive(bool) override {}
    void SetNoDelay() override {}
    SocketAddress LocalAddress() const override { return {}; }

    void Deliver(std::string_view bytes) {
        inbox.append(bytes);
        events_.OnReceive();
    }
    void End() {
        ended = true;
        events_.OnClose(0);
    }

    std::string inbox;
    std::string sent;
    bool ended = false;

  protected:
    long SendSome(const char* data, std::size_t size, int&) override {
        sent.append(data, size);
        return static_cast<long>(size);
    }
    void ShutDownNow() override { sent += "<FIN>"; }
    void ResetNow() override {}
    bool CanSend() const override { return true; }
    void ReportFailureLater(int) override {}
};

class FakeLoop : public EventLoop {
  public:
    std::uint64_t NowMs() override { return 1000; }
    std::unique_ptr<AsyncSocket> CreateSocket(SocketEvents& events) override {
        auto socket = std::make_unique<FakeWire>(events);
        wire = socket.get();
        return socket;
    }
    TimerId StartTimer(std::uint32_t, bool, std::function<void()>) override { return 1; }
    void StopTimer(TimerId) override {}
    void Post(std::function<void()> work) override { posted.push_back(std::move(work)); }
    void Resolve(const std::string&, std::uint16_t, ResolveCallback) override {}
    std::string DescribeError(int) const override { return "error"; }
    void Run() override {}
    void Quit() override {}
    void RunPosted() {
        while (!posted.empty()) {
            auto work = std::move(posted.front());
            posted.pop_front();
            work();
        }
    }

    FakeWire* wire = nullptr;
    std::deque<std::function<void()>> posted;
};

/// A TLS client with a toy record layer: the handshake ends at "WELCOME", a record is
/// "[plaintext]", "~" is close_notify and "!" a record that fails.
class FakeTls : public TlsClient {
  public:
    void Start() override { out_ += "HELLO"; }
    void Feed(std::string_view ciphertext) override {
        buffer_.append(ciphertext);
        if (state_ == TlsState::Handshaking) {
            const std::size_t welcome = buffer_.find("WELCOME");
            if (welcome == std::string::npos) {
                return;
            }
            buffer_.erase(0, welcome + 7);
            state_ = TlsState::Open;
            out_ += "FINISHED";
        }
        while (state_ == TlsState::Open && !buffer_.empty()) {
            if (buffer_[0] == '~') {
                state_ = TlsState::Closed;
            } else if (buffer_[0] == '!') {
                Failed(TlsProblem::Handshake);
            } else if (const std::size_t end = buffer_.find(']'); end != std::string::npos) {
                in_.append(buffer_, 1, end - 1);
                buffer_.erase(0, end + 1);
                continue;
            } else {
                return;  // the rest of the record is still to come
            }
            buffer_.clear();
        }
    }
    void EndOfInput() override {
        if (state_ == TlsState::Handshaking) {
            Failed(TlsProblem::Closed);
        }
    }
    void TakeOutgoing(std::string& ciphertext) override {
        ciphertext += out_;
        out_.clear();
    }
    void Write(std::string_view plaintext) override { out_.append("[").append(plaintext) += "]"; }
    void TakeIncoming(std::string& plaintext) override {
        plaintext += in_;
        in_.clear();
    }
    void Close() override { out_ += "~"; }
    TlsState state() const override { return state_; }
    const TlsFailure& failure() const override { return failure_; }
    std::string fingerprint() const override { return ""; }
    std::string version() const override { return "TLSv1.3"; }
    std::string cipher() const override { return "TOY"; }
    CertificateInfo certificate() const override { return {}; }

  private:
    void Failed(TlsProblem problem) {
        state_ = TlsState::Failed;
        failure_.problem = problem;
    }
    TlsState state_ = TlsState::Handshaking;
    TlsFailure failure_;
    std::string buffer_, in_, out_;
};

/// The owner: everything it hears, in order, with what it read.
class Owner : public TlsSocketEvents {
  public:
    void OnConnect(int error) override { log += "connect(" + std::to_string(error) + ") "; }
    void OnReceive() override {
        char block[64];
        for (long n; (n = socket->Receive(block, sizeof block)) > 0;) {
            read.append(block, static_cast<std::size_t>(n));
        }
    }
    void OnClose(int error) override { log += "close(" + std::to_string(error) + ") "; }
    void OnTlsFailed(const std::string& reason, bool) override { log += "failed: " + reason; }
    void OnSecuring() override { log += "securing "; }
    void OnPlainText(std::string_view bytes) override { plainText.append(bytes); }

    TlsSocket* socket = nullptr;
    std::string log;
    std::string read;
    std::string plainText;
};

struct Heard {
    std::string log;
    std::string read;
    std::string plainText;
    std::string sent;
    bool truncated = false;
};

/// Connects a TLS socket (STARTTLS with `dialogue`) and feeds it `server` in pieces of
/// `piece` bytes, then the end of the wire when `end`.
Heard Feed(bool dialogue, const std::string& server, std::size_t piece, bool end) {
    FakeLoop loop;
    Owner owner;
    TlsSocket socket(owner, loop, "mx.example.test", std::make_unique<FakeTls>(),
                     dialogue ? std::make_unique<StartTlsDialogue>(ServerType::Smtp) : nullptr);
    owner.socket = &socket;
    EXPECT_TRUE(socket.Open());
    int error = 0;
    EXPECT_EQ(socket.Connect(SocketAddress{}, error), ConnectResult::InProgress);
    loop.RunPosted();
    for (std::size_t at = 0; at < server.size(); at += piece) {
        loop.wire->Deliver(std::string_view(server).substr(at, piece));
        loop.RunPosted();
    }
    if (end) {
        loop.wire->End();
        loop.RunPosted();
    }
    return {owner.log, owner.read, owner.plainText, loop.wire->sent, socket.Truncated()};
}

TEST(TlsSocketTest, AnyFragmentationGivesTheOwnerTheSameStory) {
    const std::string greeting = "220 mx\r\n250-mx\r\n250 STARTTLS\r\n220 go\r\n";
    const std::string closed = DescribeTlsFailure({TlsProblem::Closed, "", ""}, "mx.example.test");
    const struct {
        const char* what;
        bool dialogue;
        std::string server;
        bool end;
        std::string log;
        std::string read;
        std::string plainText;
        std::string sent;
        bool truncated;  ///< the wire ended without close_notify
        /// The largest piece fed; 0: up to all at once.
        std::size_t largestPiece = 0;
    } cases[] = {
        {"TLS, records and close_notify", false, "WELCOME[hello ][world]~", true,
         "securing connect(0) close(0) ", "hello world", "", "HELLOFINISHED", false},
        {"TLS, no close_notify", false, "WELCOME[all of it]", true, "securing connect(0) close(0) ",
         "all of it", "", "HELLOFINISHED", true},
        // Once the connection was announced: a broken record in the same read as the end
        // of the handshake fails the securing instead.
        {"TLS, a broken record once open", false, "WELCOME[part]!", false,
         "securing connect(0) close(-1) ", "part", "", "HELLOFINISHED", false, 13},
        // The start of TLS right behind the go-ahead is TLS; the greeting is read first.
        {"STARTTLS", true, greeting + "WELCOME[hi]~", true, "securing connect(0) close(0) ",
         "220 mx\r\nhi", greeting, "EHLO localhost\r\nSTARTTLS\r\nHELLOFINISHED", false},
        {"STARTTLS not offered", true, "220 mx\r\n250 SIZE 10\r\n", false,
         "securing failed: server does not offer STARTTLS", "", "220 mx\r\n250 SIZE 10\r\n",
         "EHLO localhost\r\n", false},
        {"hung up before TLS", true, "220 mx\r\n", true,
         "securing failed: server closed the connection before TLS", "", "220 mx\r\n",
         "EHLO localhost\r\n", true},
        {"hung up in the handshake", false, "WELC", true, "securing failed: " + closed, "", "",
         "HELLO", true},
    };
    for (const auto& c : cases) {
        const std::size_t largest = c.largestPiece != 0 ? c.largestPiece : c.server.size();
        for (std::size_t piece = 1; piece <= largest; ++piece) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            const Heard run = Feed(c.dialogue, c.server, piece, c.end);
            EXPECT_EQ(run.log, c.log);
            EXPECT_EQ(run.read, c.read);
            EXPECT_EQ(run.plainText, c.plainText);
            EXPECT_EQ(run.sent, c.sent);
            EXPECT_EQ(run.truncated, c.truncated);
        }
    }
}

TEST(TlsSocketTest, PlaintextWrittenGoesOutEncryptedAndTheEndAsCloseNotify) {
    FakeLoop loop;
    Owner owner;
    TlsSocket socket(owner, loop, "mx.example.test", std::make_unique<FakeTls>(), nullptr);
    owner.socket = &socket;
    ASSERT_TRUE(socket.Open());
    int error = 0;
    socket.Connect(SocketAddress{}, error);
    socket.Write("written early ");  // waits for the connection to stand
    loop.wire->Deliver("WELCOME");
    socket.Write("QUIT");
    socket.ShutDownSend();
    EXPECT_EQ(loop.wire->sent, "HELLOFINISHED[written early ][QUIT]~<FIN>");
}

}  // namespace
}  // namespace vantel
