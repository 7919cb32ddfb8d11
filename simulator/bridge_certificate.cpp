#include "simulator/bridge_certificate.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>

namespace lumora::sim {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("certificate: ") + what);
}

std::string pemOf(const std::function<int(BIO*)>& write) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) fail("cannot write PEM");
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(len));
}

Cert readCert(std::string_view pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Cert c(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!c) fail("unreadable certificate");
    return c;
}

Key readKey(std::string_view pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Key k(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!k) fail("unreadable key");
    return k;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || !X509_add_ext(cert, ext, -1)) fail("cannot add an extension");
    X509_EXTENSION_free(ext);
}

}  // namespace

Certificate makeCertificate(const CertificateOptions& options, const Certificate* issuer) {
    Key key(EVP_EC_gen("P-256"));
    if (!key) fail("cannot make a key");
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);

    BIGNUM* serial = nullptr;
    if (options.serialHex.empty()) {
        serial = BN_new();
        BN_rand(serial, 64, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY);
    } else if (!BN_hex2bn(&serial, options.serialHex.c_str())) {
        fail("bad serial");
    }
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert.get()));
    BN_free(serial);

    X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(options.validFrom.count()));
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(options.validUntil.count()));
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Lumora tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(options.commonName.c_str()),
                               -1, -1, 0);

    Cert issuerCert;
    Key issuerKey;
    if (issuer) {
        issuerCert = readCert(issuer->certificatePem);
        issuerKey = readKey(issuer->privateKeyPem);
    }
    X509* signer = issuer ? issuerCert.get() : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    addExtension(cert.get(), signer, NID_basic_constraints,
                 options.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addExtension(cert.get(), signer, NID_key_usage,
                 options.ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    if (!options.ca)
        addExtension(cert.get(), signer, NID_ext_key_usage,
                     options.serverAuth ? "serverAuth" : "clientAuth");
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (issuer) addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");

    if (!X509_sign(cert.get(), issuer ? issuerKey.get() : key.get(), EVP_sha256()))
        fail("cannot sign");

    Certificate out;
    out.certificatePem = pemOf([&](BIO* b) { return PEM_write_bio_X509(b, cert.get()); });
    out.privateKeyPem = pemOf([&](BIO* b) {
        return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return out;
}

Certificate makeRootCertificate(std::string_view commonName) {
    CertificateOptions o;
    o.commonName = std::string(commonName);
    o.ca = true;
    o.validUntil = std::chrono::hours(24 * 365 * 10);
    return makeCertificate(o);
}

Certificate makeBridgeCertificate(const Certificate& issuer, std::string_view bridgeId) {
    CertificateOptions o;
    o.commonName = std::string(bridgeId);
    o.serialHex = std::string(bridgeId);
    return makeCertificate(o, &issuer);
}

namespace {

struct KindName {
    CertificateKind kind;
    const char* name;
};

constexpr std::array<KindName, 6> kKindNames{{
    {CertificateKind::bridge, "bridge"},
    {CertificateKind::otherRoot, "other-root"},
    {CertificateKind::selfSigned, "self-signed"},
    {CertificateKind::otherBridge, "other-bridge"},
    {CertificateKind::expired, "expired"},
    {CertificateKind::signedByLeaf, "signed-by-leaf"},
}};

// The same id with its last digit changed: a neighbour's bridge.
std::string neighbourId(std::string_view bridgeId) {
    std::string id(bridgeId);
    if (id.empty()) return "0";
    id.back() = id.back() == '0' ? '1' : '0';
    return id;
}

}  // namespace

const char* toString(CertificateKind kind) {
    for (const auto& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "";
}

std::optional<CertificateKind> certificateKindFromString(std::string_view name) {
    for (const auto& entry : kKindNames) {
        if (name == entry.name) return entry.kind;
    }
    return std::nullopt;
}

ServedCertificate makeServedCertificate(const Certificate& root, std::string_view bridgeId,
                                        CertificateKind kind) {
    CertificateOptions leaf;
    leaf.commonName = std::string(bridgeId);
    leaf.serialHex = std::string(bridgeId);
    switch (kind) {
        case CertificateKind::bridge:
            return {makeCertificate(leaf, &root), {}};
        case CertificateKind::otherRoot: {
            const Certificate stranger = makeRootCertificate("Lumora stranger root");
            return {makeCertificate(leaf, &stranger), {}};
        }
        case CertificateKind::selfSigned:
            return {makeCertificate(leaf), {}};
        case CertificateKind::otherBridge:
            leaf.commonName = leaf.serialHex = neighbourId(bridgeId);
            return {makeCertificate(leaf, &root), {}};
        case CertificateKind::expired:
            leaf.validFrom = -std::chrono::hours(24 * 366);
            leaf.validUntil = -std::chrono::hours(24);
            return {makeCertificate(leaf, &root), {}};
        case CertificateKind::signedByLeaf: {
            // A leaf of the trusted root, sent along so that the chain reaches
            // the root; only its missing CA right makes the chain invalid.
            CertificateOptions signer;
            signer.commonName = "Lumora ordinary leaf";
            const Certificate notCa = makeCertificate(signer, &root);
            return {makeCertificate(leaf, &notCa), notCa.certificatePem};
        }
    }
    fail("unknown certificate kind");
}

std::string fingerprintOf(std::string_view certificatePem) {
    const Cert cert = readCert(certificatePem);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    X509_digest(cert.get(), EVP_sha256(), md, &len);
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        if (i) out.push_back(':');
        out.push_back(digits[md[i] >> 4]);
        out.push_back(digits[md[i] & 15]);
    }
    return out;
}

}  // namespace lumora::sim
