// An old server is made with the fixed-version methods OpenSSL deprecates: like old software,
// they answer a ClientHello with their own version and ignore the client's supported_versions.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "tls/TlsTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace vantel::test {

namespace {

constexpr std::size_t kChunk = 16 * 1024;
constexpr int kLingerMs = 1000;

void Check(bool ok, const std::string& what) {
    if (!ok) {
        ERR_clear_error();
        throw std::runtime_error("TlsTestServer: " + what);
    }
}

/// The certificate (and any chain behind it in the same PEM) and the key, into `context`.
void UseCertificate(SSL_CTX* context, const TestCertificate& certificate) {
    BIO* bio =
        BIO_new_mem_buf(certificate.certPem.data(), static_cast<int>(certificate.certPem.size()));
    X509* leaf = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    const bool used = leaf != nullptr && SSL_CTX_use_certificate(context, leaf) == 1;
    X509_free(leaf);
    while (X509* issuer = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        if (SSL_CTX_add_extra_chain_cert(context, issuer) != 1) {  // takes it on success
            X509_free(issuer);
        }
    }
    BIO_free(bio);
    ERR_clear_error();  // the end of the PEM text
    Check(used, "the certificate is unusable");

    bio = BIO_new_mem_buf(certificate.keyPem.data(), static_cast<int>(certificate.keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    const bool keyed = key != nullptr && SSL_CTX_use_PrivateKey(context, key) == 1 &&
                       SSL_CTX_check_private_key(context) == 1;
    EVP_PKEY_free(key);
    Check(keyed, "the key is unusable or not the certificate's");
}

}  // namespace

TlsTestConnection::TlsTestConnection(int fd, SSL_CTX* context) : fd_(fd), context_(context) {}

TlsTestConnection::~TlsTestConnection() {
    if (fd_ >= 0) {
        close(fd_);
    }
    SSL_free(ssl_);  // frees both BIOs
}

bool TlsTestConnection::StartTls() {
    if (ssl_ != nullptr || fd_ < 0) {
        return false;
    }
    ssl_ = SSL_new(context_);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (ssl_ == nullptr || in_ == nullptr || out_ == nullptr) {
        BIO_free(in_);
        BIO_free(out_);
        in_ = out_ = nullptr;
        ERR_clear_error();
        return false;
    }
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_accept_state(ssl_);
    if (Drive([this] { return SSL_do_handshake(ssl_); }) != 1) {
        return false;
    }
    const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
    serverName_ = name != nullptr ? name : "";
    tls_ = true;
    return true;
}

template <typename Step>
int TlsTestConnection::Drive(Step step) {
    for (;;) {
        ERR_clear_error();
        const int result = step();
        const int error = result > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, result);
        ERR_clear_error();
        if (!Flush()) {
            return -1;
        }
        if (result > 0) {
            return result;
        }
        if (error == SSL_ERROR_ZERO_RETURN) {
            sawCloseNotify_ = true;
            ended_ = true;
            return 0;
        }
        if (error != SSL_ERROR_WANT_READ || ended_ || fd_ < 0) {
            ended_ = true;
            return -1;
        }
        char data[kChunk];
        ssize_t size;
        do {
            size = recv(fd_, data, sizeof data, 0);
        } while (size < 0 && errno == EINTR);
        if (size <= 0) {
            ended_ = true;
            return -1;
        }
        BIO_write(in_, data, static_cast<int>(size));
    }
}

bool TlsTestConnection::Flush() {
    const std::size_t pending = out_ != nullptr ? BIO_ctrl_pending(out_) : 0;
    if (pending == 0) {
        return true;
    }
    std::string bytes(pending, '\0');
    const int read = BIO_read(out_, bytes.data(), static_cast<int>(pending));
    bytes.resize(static_cast<std::size_t>(read > 0 ? read : 0));
    return SendAll(bytes);
}

bool TlsTestConnection::SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
        if (fd_ < 0) {
            return false;
        }
        const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool TlsTestConnection::FillBuffer() {
    if (!tls_ || ended_) {
        return false;
    }
    char data[kChunk];
    std::size_t size = 0;
    if (Drive([&] { return SSL_read_ex(ssl_, data, sizeof data, &size); }) != 1) {
        return false;
    }
    buffer_.append(data, size);
    return true;
}

bool TlsTestConnection::ReadPlainByte(char& c) {
    if (ended_ || fd_ < 0) {
        return false;
    }
    ssize_t size;
    do {
        size = recv(fd_, &c, 1, 0);
    } while (size < 0 && errno == EINTR);
    if (size <= 0) {
        ended_ = true;
        return false;
    }
    return true;
}

bool TlsTestConnection::ReadLine(std::string& line) {
    line.clear();
    if (!tls_) {
        char c;
        while (ReadPlainByte(c)) {
            line += c;
            if (c == '\n') {
                return true;
            }
        }
        return false;
    }
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end != std::string::npos) {
            line.assign(buffer_, 0, end + 1);
            buffer_.erase(0, end + 1);
            return true;
        }
        if (!FillBuffer()) {
            line.swap(buffer_);
            buffer_.clear();
            return false;
        }
    }
}

bool TlsTestConnection::ReadExactly(std::size_t n, std::string& out) {
    if (!tls_) {
        char data[kChunk];
        while (n > 0 && !ended_ && fd_ >= 0) {
            const ssize_t size = recv(fd_, data, std::min(n, sizeof data), 0);
            if (size < 0 && errno == EINTR) {
                continue;
            }
            if (size <= 0) {
                ended_ = true;
                break;
            }
            out.append(data, static_cast<std::size_t>(size));
            n -= static_cast<std::size_t>(size);
        }
        return n == 0;
    }
    while (buffer_.size() < n) {
        if (!FillBuffer()) {
            return false;
        }
    }
    out.append(buffer_, 0, n);
    buffer_.erase(0, n);
    return true;
}

std::string TlsTestConnection::ReadToEnd() {
    std::string all;
    if (!tls_) {
        char data[kChunk];
        while (!ended_ && fd_ >= 0) {
            const ssize_t size = recv(fd_, data, sizeof data, 0);
            if (size < 0 && errno == EINTR) {
                continue;
            }
            if (size <= 0) {
                ended_ = true;
                break;
            }
            all.append(data, static_cast<std::size_t>(size));
        }
        return all;
    }
    while (FillBuffer()) {
    }
    all.swap(buffer_);
    buffer_.clear();
    return all;
}

bool TlsTestConnection::Write(std::string_view bytes) {
    if (!tls_) {
        return SendAll(bytes);
    }
    while (!bytes.empty()) {
        std::size_t written = 0;
        const std::size_t piece = std::min(bytes.size(), std::size_t{64 * 1024});
        if (Drive([&] { return SSL_write_ex(ssl_, bytes.data(), piece, &written); }) != 1) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool TlsTestConnection::WriteRaw(std::string_view bytes) {
    return SendAll(bytes);
}

void TlsTestConnection::Close() {
    if (fd_ >= 0 && tls_ && (SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN) == 0) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
        Flush();
    }
    CloseRaw();
}

void TlsTestConnection::CloseRaw() {
    if (fd_ < 0) {
        return;
    }
    shutdown(fd_, SHUT_WR);
    // Reads what the client still sends until it closes too: closing with unread input
    // would answer with a reset.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd ready{fd_, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char data[kChunk];
        if (recv(fd_, data, sizeof data, 0) <= 0) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(fdMutex_);
    close(fd_);
    fd_ = -1;
    ended_ = true;
}

void TlsTestConnection::Interrupt() {
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (fd_ >= 0) {
        shutdown(fd_, SHUT_RDWR);
    }
}

TlsTestServer::TlsTestServer(TestCertificate certificate, Handler handler,
                             TlsTestServerOptions options)
    : handler_(std::move(handler)), options_(options) {
    const bool old = options_.maxVersion != 0 && options_.maxVersion < TLS1_2_VERSION;
    context_ = SSL_CTX_new(!old                                    ? TLS_server_method()
                           : options_.maxVersion == TLS1_1_VERSION ? TLSv1_1_server_method()
                                                                   : TLSv1_server_method());
    Check(context_ != nullptr, "OpenSSL could not make a context");
    try {
        UseCertificate(context_, certificate);
        if (old) {
            // Past the system's MinProtocol, security level and ciphers.
            SSL_CTX_set_security_level(context_, 0);
            Check(SSL_CTX_set_min_proto_version(context_, 0) == 1 &&
                      SSL_CTX_set_cipher_list(context_, "DEFAULT:@SECLEVEL=0") == 1,
                  "old versions refused");
        } else if (options_.maxVersion != 0) {
            Check(SSL_CTX_set_max_proto_version(context_, options_.maxVersion) == 1,
                  "unknown maxVersion");
        }
        listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        Check(listenFd_ >= 0 &&
                  bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  listen(listenFd_, 64) == 0 &&
                  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
                  pipe2(wakeFds_, O_CLOEXEC) == 0,
              "cannot listen on 127.0.0.1");
        port_ = ntohs(address.sin_port);
    } catch (...) {
        for (const int fd : {listenFd_, wakeFds_[0], wakeFds_[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        SSL_CTX_free(context_);
        throw;
    }
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TlsTestServer::~TlsTestServer() {
    const char stop = 0;
    (void)!write(wakeFds_[1], &stop, 1);
    acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& connection : connections_) {
            connection->Interrupt();
        }
        threads.swap(threads_);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    connections_.clear();
    close(listenFd_);
    close(wakeFds_[0]);
    close(wakeFds_[1]);
    SSL_CTX_free(context_);
}

void TlsTestServer::AcceptLoop() {
    for (;;) {
        pollfd ready[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (poll(ready, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (ready[1].revents != 0) {
            return;
        }
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ++accepted_;
        auto connection = std::make_shared<TlsTestConnection>(fd, context_);
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.push_back(connection);
        threads_.emplace_back([this, connection] { Serve(connection); });
    }
}

void TlsTestServer::Serve(const std::shared_ptr<TlsTestConnection>& connection) {
    if (options_.implicitTls && !connection->StartTls()) {
        ++failedHandshakes_;
        connection->CloseRaw();
        return;
    }
    try {
        handler_(*connection);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "TlsTestServer handler threw: " << error.what();
    } catch (...) {
        ADD_FAILURE() << "TlsTestServer handler threw";
    }
    connection->Close();
}

}  // namespace vantel::test
