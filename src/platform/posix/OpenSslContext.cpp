#include "platform/posix/OpenSslContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "platform/posix/OpenSslClient.h"

namespace vantel {

namespace {

/// Adds every certificate of `pem` to the context's store; how many there were.
int AddRoots(SSL_CTX* context, const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr) {
        return 0;
    }
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    int count = 0;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        if (X509_STORE_add_cert(store, certificate) == 1) {
            ++count;
        }
        X509_free(certificate);
    }
    BIO_free(bio);
    ERR_clear_error();  // the end of the text is reported as an error
    return count;
}

}  // namespace

std::unique_ptr<OpenSslContext> OpenSslContext::Create(const TlsContextOptions& options,
                                                       std::string& error) {
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        error = "OpenSSL could not make a TLS context: " + TakeOpenSslErrors();
        return nullptr;
    }
    std::unique_ptr<OpenSslContext> made(new OpenSslContext(context));
    if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
        error = "OpenSSL refused TLS 1.2 as the lowest version: " + TakeOpenSslErrors();
        return nullptr;
    }
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    // Idle connections give their record buffers back.
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    if (!options.exclusiveRootsPem.empty()) {
        if (AddRoots(context, options.exclusiveRootsPem) == 0) {
            error = "no certificate in the trusted roots given";
            return nullptr;
        }
        made->rootsLoaded_ = true;
    }
    // SSL_VERIFY_PEER makes a refusal of OpenSslClient::VerifyServer end the handshake with an
    // alert; the callback itself decides what is checked.
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, &OpenSslClient::VerifyServer, nullptr);
    return made;
}

OpenSslContext::~OpenSslContext() {
    SSL_CTX_free(context_);
}

std::unique_ptr<TlsClient> OpenSslContext::CreateClient(const TlsClientOptions& options) {
    if (!rootsLoaded_) {
        rootsLoaded_ = true;
        ERR_clear_error();
        if (SSL_CTX_set_default_verify_paths(context_) != 1) {
            rootsProblem_ = "OpenSSL could not load the trusted roots: " + TakeOpenSslErrors();
        }
    }
    return std::make_unique<OpenSslClient>(context_, options, rootsProblem_);
}

std::unique_ptr<TlsContext> CreateTlsContext(const TlsContextOptions& options, std::string& error) {
    return OpenSslContext::Create(options, error);
}

}  // namespace vantel
