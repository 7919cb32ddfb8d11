#include "bridge/http_tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <ctime>

#include "base/letter_case.h"
#include "bridge/http_conn.h"

namespace lumora {

std::string_view bridgeRootsPem();

struct TrustAnchors::Impl {
    X509_STORE* store = nullptr;
};

TrustAnchors::TrustAnchors(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TrustAnchors::~TrustAnchors() {
    X509_STORE_free(impl_->store);
}

std::shared_ptr<const TrustAnchors> TrustAnchors::fromPem(std::string_view pem) {
    auto impl = std::make_unique<Impl>();
    impl->store = X509_STORE_new();
    std::shared_ptr<const TrustAnchors> out(new TrustAnchors(std::move(impl)));
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    int count = 0;
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        X509_STORE_add_cert(out->impl_->store, cert);
        X509_free(cert);
        ++count;
    }
    // The loop ends on the first block that is not a certificate: all must be.
    const bool clean = ERR_GET_REASON(ERR_peek_last_error()) == PEM_R_NO_START_LINE;
    ERR_clear_error();
    BIO_free(bio);
    if (count == 0 || !clean) return nullptr;
    return out;
}

std::shared_ptr<const TrustAnchors> TrustAnchors::bridgeRoots() {
    static const std::shared_ptr<const TrustAnchors> roots = fromPem(bridgeRootsPem());
    return roots;
}

TlsIdentity TlsIdentity::bridge(std::string id, std::shared_ptr<const TrustAnchors> anchors) {
    TlsIdentity out;
    out.mode = Mode::bridge;
    out.bridgeId = std::move(id);
    out.anchors = anchors ? std::move(anchors) : TrustAnchors::bridgeRoots();
    return out;
}

TlsIdentity TlsIdentity::pinned(std::string sha256) {
    TlsIdentity out;
    out.mode = Mode::pinned;
    out.fingerprint = std::move(sha256);
    return out;
}

std::string TlsIdentity::key() const {
    switch (mode) {
        case Mode::web:
            return "web";
        case Mode::bridge:
            return "bridge:" + asciiLowerCased(bridgeId) + "@" +
                   std::to_string(reinterpret_cast<std::uintptr_t>(anchors.get()));
        case Mode::pinned:
            return "pinned:" + normalizedFingerprint(fingerprint);
    }
    return {};
}

std::string normalizedFingerprint(std::string_view text) {
    std::string hex;
    for (char c : text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
        hex.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    if (hex.size() != 64) return {};
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (i) out.push_back(':');
        out.append(hex, i, 2);
    }
    return out;
}

std::string describe(const TlsRefusal& r) {
    switch (r.reason) {
        case TlsFailure::none:
            return "presented an acceptable certificate";
        case TlsFailure::untrustedIssuer:
            return "presented a certificate that is not from the bridge's maker";
        case TlsFailure::wrongBridge:
            return "is a different bridge: expected id " + r.expected + ", got " +
                   (r.got.empty() ? "none" : r.got);
        case TlsFailure::wrongHost:
            return "presented a certificate for another name than " + r.expected;
        case TlsFailure::expired:
            return "presented a certificate that expired on " + r.date;
        case TlsFailure::notYetValid:
            return "presented a certificate that is not valid before " + r.date;
        case TlsFailure::notForServer:
            return "presented a certificate that is not for a server";
        case TlsFailure::fingerprintMismatch:
            return "presented a certificate other than the one trusted (its fingerprint is " +
                   r.fingerprint + ")";
        case TlsFailure::handshakeFailed:
            return "could not agree on a secure connection" +
                   (r.detail.empty() ? std::string() : " (" + r.detail + ")");
    }
    return "presented an unusable certificate";
}

namespace net {
namespace {

std::string fingerprintOf(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!X509_digest(cert, EVP_sha256(), md, &len)) return {};
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        if (i) out.push_back(':');
        out.push_back(digits[md[i] >> 4]);
        out.push_back(digits[md[i] & 15]);
    }
    return out;
}

std::string dayOf(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || !ASN1_TIME_to_tm(t, &tm)) return "an unreadable date";
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

// Every common name in the subject; a bridge's has exactly one, its id.
std::vector<std::string> commonNames(X509* cert) {
    std::vector<std::string> out;
    const X509_NAME* subject = X509_get_subject_name(cert);
    for (int i = X509_NAME_get_index_by_NID(subject, NID_commonName, -1); i >= 0;
         i = X509_NAME_get_index_by_NID(subject, NID_commonName, i)) {
        const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i));
        unsigned char* utf8 = nullptr;
        const int len = ASN1_STRING_to_UTF8(&utf8, data);
        out.emplace_back(len > 0 ? std::string(reinterpret_cast<char*>(utf8), len) : std::string());
        OPENSSL_free(utf8);
    }
    return out;
}

// What the chain check found, most telling first.
struct Findings {
    bool untrusted = false;
    bool wrongHost = false;
    bool notForServer = false;
    std::string expired;
    std::string notYetValid;
};

thread_local Findings* findings = nullptr;

// Goes on past the first fault so the refusal can name the one that matters most.
int collect(int ok, X509_STORE_CTX* ctx) {
    if (ok || !findings) return ok;
    X509* cert = X509_STORE_CTX_get_current_cert(ctx);
    switch (X509_STORE_CTX_get_error(ctx)) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            if (findings->expired.empty()) findings->expired = dayOf(X509_get0_notAfter(cert));
            break;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            if (findings->notYetValid.empty())
                findings->notYetValid = dayOf(X509_get0_notBefore(cert));
            break;
        case X509_V_ERR_INVALID_PURPOSE:
            // A CA that may not sign server certificates breaks the chain; a
            // leaf that may not serve is the server's own fault.
            if (X509_STORE_CTX_get_error_depth(ctx) == 0)
                findings->notForServer = true;
            else
                findings->untrusted = true;
            break;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            findings->wrongHost = true;
            break;
        default:
            findings->untrusted = true;
            break;
    }
    return 1;
}

bool isIpLiteral(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

X509_STORE* systemStore() {
    static X509_STORE* store = [] {
        X509_STORE* s = X509_STORE_new();
        X509_STORE_set_default_paths(s);
        ERR_clear_error();
        return s;
    }();
    return store;
}

}  // namespace

SSL_CTX* clientTlsContext() {
    static SSL_CTX* ctx = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        // Checked by verifyPeer once the handshake is done, with reasons a
        // user can act on, before a single request byte is written.
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_CTX_set_mode(c, SSL_MODE_AUTO_RETRY);
        return c;
    }();
    return ctx;
}

TlsRefusal verifyPeer(SSL* ssl, const TlsIdentity& identity, const std::string& host) {
    TlsRefusal out;
    X509* leaf = SSL_get0_peer_certificate(ssl);
    if (!leaf) {
        out.reason = TlsFailure::handshakeFailed;
        out.detail = "no certificate";
        return out;
    }
    out.fingerprint = fingerprintOf(leaf);
    if (identity.mode == TlsIdentity::Mode::pinned) {
        // The user trusted this very certificate; its chain and dates do not matter.
        if (normalizedFingerprint(identity.fingerprint) != out.fingerprint ||
            out.fingerprint.empty())
            out.reason = TlsFailure::fingerprintMismatch;
        return out;
    }

    const bool bridge = identity.mode == TlsIdentity::Mode::bridge;
    X509_STORE* store =
        bridge ? (identity.anchors ? identity.anchors : TrustAnchors::bridgeRoots())->impl().store
               : systemStore();
    Findings found;
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    if (!ctx || !X509_STORE_CTX_init(ctx, store, leaf, SSL_get_peer_cert_chain(ssl))) {
        X509_STORE_CTX_free(ctx);
        out.reason = TlsFailure::handshakeFailed;
        out.detail = "out of memory";
        return out;
    }
    X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
    X509_STORE_CTX_set_verify_cb(ctx, collect);
    if (!bridge) {
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
        if (isIpLiteral(host))
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        else
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    }
    findings = &found;
    const int verified = X509_verify_cert(ctx);
    findings = nullptr;
    X509_STORE_CTX_free(ctx);
    ERR_clear_error();
    if (verified <= 0) found.untrusted = true;

    // A bridge is known by its id, the certificate's common name: it has no
    // subjectAltName, and one it had would not make the address its name.
    std::string got;
    bool otherBridge = false;
    if (bridge) {
        const auto names = commonNames(leaf);
        for (std::size_t i = 0; i < names.size(); ++i) got += (i ? ", " : "") + names[i];
        otherBridge = names.size() != 1 ||
                      asciiLowerCased(names.front()) != asciiLowerCased(identity.bridgeId) ||
                      identity.bridgeId.empty();
    }

    if (found.untrusted) {
        out.reason = TlsFailure::untrustedIssuer;
    } else if (otherBridge) {
        out.reason = TlsFailure::wrongBridge;
        out.expected = identity.bridgeId;
        out.got = got;
    } else if (found.wrongHost) {
        out.reason = TlsFailure::wrongHost;
        out.expected = host;
    } else if (!found.expired.empty()) {
        out.reason = TlsFailure::expired;
        out.date = found.expired;
    } else if (!found.notYetValid.empty()) {
        out.reason = TlsFailure::notYetValid;
        out.date = found.notYetValid;
    } else if (found.notForServer) {
        out.reason = TlsFailure::notForServer;
    }
    return out;
}

}  // namespace net
}  // namespace lumora
