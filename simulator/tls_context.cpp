// SimHttpServer's TLS identity: a server context made from the certificates
// and key, swapped in whole, so open connections keep the one they began with;
// the hub steps each connection's handshake and session.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <memory>
#include <mutex>
#include <string>

#include "simulator/http_transport.h"

namespace lumora::sim {

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;

BioPtr memoryOf(const std::string& pem) {
    return BioPtr(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

std::shared_ptr<SSL_CTX> makeContext(const TlsIdentity& identity, std::string& error) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!context) {
        error = "cannot make a TLS context";
        return nullptr;
    }
    SSL_CTX* ctx = context.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // An end of stream without a goodbye is an ordinary close, as in HTTP.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

    X509Ptr leaf(
        PEM_read_bio_X509(memoryOf(identity.certificatePem).get(), nullptr, nullptr, nullptr));
    if (!leaf || SSL_CTX_use_certificate(ctx, leaf.get()) != 1) {
        error = "unusable certificate";
        return nullptr;
    }
    if (!identity.chainPem.empty()) {
        BioPtr chain = memoryOf(identity.chainPem);
        int added = 0;
        while (X509* next = PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr)) {
            if (SSL_CTX_add0_chain_cert(ctx, next) != 1) {
                X509_free(next);
                error = "unusable chain certificate";
                return nullptr;
            }
            ++added;
        }
        if (added == 0) {
            error = "no certificate in the chain";
            return nullptr;
        }
    }
    KeyPtr key(
        PEM_read_bio_PrivateKey(memoryOf(identity.privateKeyPem).get(), nullptr, nullptr, nullptr));
    if (!key || SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        error = "the key does not fit the certificate";
        return nullptr;
    }
    return context;
}

}  // namespace

bool SimHttpServer::setTlsIdentity(const TlsIdentity& identity, std::string* error) {
    std::string why;
    auto context = makeContext(identity, why);
    ERR_clear_error();
    if (!context) {
        if (error) *error = why;
        return false;
    }
    std::lock_guard lock(tlsMutex_);
    tls_ = std::move(context);
    return true;
}

bool SimHttpServer::tls() const {
    return tlsContext() != nullptr;
}

std::shared_ptr<SSL_CTX> SimHttpServer::tlsContext() const {
    std::lock_guard lock(tlsMutex_);
    return tls_;
}

}  // namespace lumora::sim
