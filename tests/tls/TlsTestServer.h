// A real TLS server on 127.0.0.1 for tests: one thread accepts, one thread per connection runs
// the test's handler with blocking reads and writes. OpenSSL does the TLS on memory BIOs and
// the server moves the bytes itself (send with MSG_NOSIGNAL), so a client that goes away never
// raises SIGPIPE. Native tests only.
//
//   TestPki pki;
//   TlsTestServer server(pki.Issue({"localhost"}, {"127.0.0.1"}), [](TlsTestConnection& c) {
//       c.Write("220 ready\r\n");
//       std::string line;
//       while (c.ReadLine(line) && line != "QUIT\r\n") c.Write("250 ok\r\n");
//       c.Write("221 bye\r\n");
//   });                                   // the connection is closed when the handler returns
//   ... connect to 127.0.0.1:server.port() ...
//
// STARTTLS: TlsTestServerOptions{false}; the handler reads and writes plain lines, then calls
// StartTls(). Plain reads never read past the line or the bytes asked for, so a ClientHello
// sent right behind a command is left for the handshake.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tls/TestPki.h"

namespace vantel::test {

struct TlsTestServerOptions {
    /// The handshake runs as soon as a connection is accepted, and the handler is called only
    /// if it succeeds. false: the connection starts in plain text (STARTTLS, or a server that
    /// does not speak TLS at all).
    bool implicitTls = true;
    /// The highest protocol version offered; 0: OpenSSL's default (TLS 1.3); TLS1_2_VERSION: a
    /// server without TLS 1.3. TLS1_1_VERSION or TLS1_VERSION: an old server that speaks only
    /// that version and answers every ClientHello with it, as old software does (with the
    /// ciphers and security level the system's OpenSSL settings would refuse).
    int maxVersion = 0;
};

/// One accepted connection, used from its handler's thread only.
class TlsTestConnection {
  public:
    /// Made by TlsTestServer; `context` (the server's) must outlive it.
    TlsTestConnection(int fd, SSL_CTX* context);
    ~TlsTestConnection();
    TlsTestConnection(const TlsTestConnection&) = delete;
    TlsTestConnection& operator=(const TlsTestConnection&) = delete;

    /// The server's handshake, now; false when it fails (the client refused the certificate,
    /// spoke no TLS, went away).
    bool StartTls();
    /// One line, up to and including "\n" (or what came before the end of the stream, with
    /// false). Plain before StartTls, decrypted after it. false at the end or on an error.
    bool ReadLine(std::string& line);
    /// Exactly `n` bytes, appended to `out`; false if the stream ends or fails first.
    bool ReadExactly(std::size_t n, std::string& out);
    /// Everything until the client's close_notify (see sawCloseNotify) or the end of the stream.
    std::string ReadToEnd();
    /// Plain before StartTls, encrypted after it; false when the connection failed.
    bool Write(std::string_view bytes);
    /// With TLS: close_notify. Then closes the socket: sends FIN and waits up to a second for
    /// the client to close too, so the close never turns into a reset that could overtake what
    /// was sent. The handler may return without it: the server then closes the same way.
    void Close();

    /// Broken servers: bytes straight onto the socket, past any TLS.
    bool WriteRaw(std::string_view bytes);
    /// Broken servers: closes the socket as it is, without close_notify (mid-handshake, mid
    /// record), the same careful way as Close().
    void CloseRaw();
    /// The socket, for anything else a test wants to do to it; -1 once closed.
    int fd() const { return fd_; }

    /// StartTls succeeded: reads and writes go through TLS.
    bool tls() const { return tls_; }
    /// The server name (SNI) the client sent in its ClientHello; empty if it sent none.
    std::string serverName() const { return serverName_; }
    /// The client sent close_notify (seen by a read).
    bool sawCloseNotify() const { return sawCloseNotify_; }

    /// From another thread (the server going away): makes every read and write fail.
    void Interrupt();

  private:
    /// Runs an SSL call until it is done, sending what it writes and feeding it what arrives.
    /// Its result; <= 0 after a failure or the end of the stream.
    template <typename Step>
    int Drive(Step step);
    bool Flush();
    bool SendAll(std::string_view bytes);
    /// Reads more plaintext into buffer_ (TLS only); false at the end or on an error.
    bool FillBuffer();
    /// One byte from the socket (plain text only).
    bool ReadPlainByte(char& c);

    int fd_;
    SSL_CTX* context_;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
    bool tls_ = false;
    bool ended_ = false;  // the stream from the client ended or failed
    bool sawCloseNotify_ = false;
    std::string serverName_;
    std::string buffer_;  // decrypted, not yet handed out
    std::mutex fdMutex_;  // fd_ against Interrupt
};

class TlsTestServer {
  public:
    using Handler = std::function<void(TlsTestConnection&)>;

    /// Listens on 127.0.0.1 (a free port) with `certificate` at once. Every connection gets
    /// its own thread and runs `handler` (after the handshake, with implicitTls); the
    /// connection is closed (Close) when the handler returns. Throws std::runtime_error if the
    /// certificate or the socket cannot be set up.
    TlsTestServer(TestCertificate certificate, Handler handler, TlsTestServerOptions options = {});
    /// Stops accepting, cuts every connection still open (a handler's blocked read then
    /// fails), and joins every thread. Wait for what a handler is to do before this runs.
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    /// The port on 127.0.0.1.
    std::uint16_t port() const { return port_; }
    /// Connections accepted so far.
    std::size_t accepted() const { return accepted_; }
    /// Implicit-TLS handshakes that failed so far (their handler was not called).
    std::size_t failedHandshakes() const { return failedHandshakes_; }

  private:
    void AcceptLoop();
    void Serve(const std::shared_ptr<TlsTestConnection>& connection);

    Handler handler_;
    TlsTestServerOptions options_;
    SSL_CTX* context_ = nullptr;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<std::size_t> accepted_{0};
    std::atomic<std::size_t> failedHandshakes_{0};
    std::mutex mutex_;
    std::vector<std::shared_ptr<TlsTestConnection>> connections_;
    std::vector<std::thread> threads_;
    std::thread acceptThread_;
};

}  // namespace vantel::test
