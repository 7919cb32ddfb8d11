#include "client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

namespace lumora::sim::test {
namespace {

// A socket connected to the loopback port, or -1; with a receive buffer of
// that many bytes when `receiveBuffer` is not 0.
int connectLoopback(int port, int receiveBuffer) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && receiveBuffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Takes the next whole reply (Content-Length framed) off the front of
// `pending`, calling `receiveMore` while it is incomplete; status 0 when
// that gives up first.
RawReply takeReply(std::string& pending, const std::function<bool()>& receiveMore) {
    RawReply reply;
    std::size_t bodyAt;
    while ((bodyAt = parseHead(pending, reply)) == std::string::npos) {
        if (!receiveMore()) return reply;
    }
    const std::size_t length =
        reply.headers.count("content-length") ? std::stoul(reply.headers["content-length"]) : 0;
    while (pending.size() < bodyAt + length) {
        if (!receiveMore()) {
            reply.status = 0;
            return reply;
        }
    }
    reply.connected = true;
    reply.bytes = pending.substr(0, bodyAt + length);
    reply.body = pending.substr(bodyAt, length);
    pending.erase(0, bodyAt + length);
    return reply;
}

}  // namespace

Client::Client(Plain, int port) : fd_(connectLoopback(port, 0)), handshaken_(fd_ >= 0) {}

Client::Client(int port, const std::string& rootPem, int maxVersion, int receiveBuffer) {
    fd_ = connectLoopback(port, receiveBuffer);
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (fd_ < 0 || !ctx_) return;
    timeval limit{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (maxVersion) SSL_CTX_set_max_proto_version(ctx_, maxVersion);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    if (!rootPem.empty()) {
        BIO* bio = BIO_new_mem_buf(rootPem.data(), static_cast<int>(rootPem.size()));
        X509* root = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        if (root) X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx_), root);
        X509_free(root);
    }
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    handshaken_ = SSL_connect(ssl_) == 1;
    if (handshaken_) leaf_ = SSL_get1_peer_certificate(ssl_);
    ERR_clear_error();
}

Client::~Client() {
    X509_free(leaf_);
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    if (fd_ >= 0) ::close(fd_);
}

long Client::verifyResult() const {
    return ssl_ ? SSL_get_verify_result(ssl_) : X509_V_ERR_UNSPECIFIED;
}

std::string Client::version() const {
    return ssl_ ? SSL_get_version(ssl_) : "";
}

STACK_OF(X509) * Client::chain() const {
    return ssl_ ? SSL_get_peer_cert_chain(ssl_) : nullptr;
}

bool Client::hostMatches(const std::string& host) const {
    return leaf_ && X509_check_host(leaf_, host.data(), host.size(), 0, nullptr) == 1;
}

bool Client::send(const std::string& bytes) {
    if (!ssl_) return handshaken_ && sendAll(fd_, bytes);
    return handshaken_ && SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) ==
                              static_cast<int>(bytes.size());
}

int Client::readSome(char* buffer, int size) {
    const int n =
        ssl_ ? SSL_read(ssl_, buffer, size) : static_cast<int>(::recv(fd_, buffer, size, 0));
    ERR_clear_error();
    return n;
}

bool Client::receive(std::chrono::steady_clock::time_point deadline) {
    if (!handshaken_) return false;
    if (!ssl_ || SSL_pending(ssl_) == 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    }
    char buffer[1 << 16];
    const int n = readSome(buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

RawReply Client::read(std::chrono::milliseconds timeout) {
    if (!handshaken_) return {};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    return takeReply(pending_, [&] { return receive(deadline); });
}

bool Client::closedByServer(std::chrono::milliseconds timeout) {
    if (!handshaken_) return true;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char byte;
    return readSome(&byte, 1) <= 0;
}

RawReply tlsRequest(int port, const std::string& rootPem, const std::string& method,
                    const std::string& path, const std::string& body) {
    Client client(port, rootPem);
    if (!client.handshaken() || client.verifyResult() != X509_V_OK) return {};
    if (!client.send(requestBytes(method, path, body))) return {};
    return client.read();
}

std::string pemOf(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<std::size_t>(len));
    BIO_free(bio);
    return out;
}

}  // namespace lumora::sim::test
