#include "test_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace lumora::test {
namespace {

// A client that hangs up mid-reply must not kill the test process.
const bool kIgnoreSigpipe = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

SSL* sslOf(void* p) {
    return static_cast<SSL*>(p);
}

void* serverContext(const TestPeer::Tls& tls) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    const auto load = [](const std::string& pem) {
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        std::vector<X509*> certs;
        while (X509* c = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.push_back(c);
        ERR_clear_error();
        BIO_free(bio);
        return certs;
    };
    auto leaf = load(tls.leaf.certificatePem);
    BIO* keyBio = BIO_new_mem_buf(tls.leaf.privateKeyPem.data(),
                                  static_cast<int>(tls.leaf.privateKeyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    if (leaf.size() != 1 || !key || SSL_CTX_use_certificate(ctx, leaf[0]) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key) != 1)
        throw std::runtime_error("test peer: unusable certificate");
    X509_free(leaf[0]);
    EVP_PKEY_free(key);
    for (X509* c : load(tls.chainPem)) SSL_CTX_add_extra_chain_cert(ctx, c);  // takes it
    return ctx;
}

}  // namespace

std::optional<std::string> TestPeer::Conn::readRequest(std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::size_t need = std::string::npos;
    while (true) {
        if (need == std::string::npos) {
            const auto end = pending.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::size_t length = 0;
                std::string head = pending.substr(0, end);
                for (auto& c : head)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if (const auto at = head.find("\r\ncontent-length:"); at != std::string::npos)
                    length = std::stoul(head.substr(at + 17));
                need = end + 4 + length;
            }
        }
        if (need != std::string::npos && pending.size() >= need) {
            std::string out = pending.substr(0, need);
            pending.erase(0, need);
            return out;
        }
        if (!(ssl && SSL_pending(sslOf(ssl)) > 0)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return std::nullopt;
        }
        char buf[4096];
        const int n = ssl ? SSL_read(sslOf(ssl), buf, sizeof buf)
                          : static_cast<int>(::recv(fd, buf, sizeof buf, 0));
        if (n <= 0) return std::nullopt;
        pending.append(buf, static_cast<std::size_t>(n));
        std::lock_guard lock(peer->mutex_);
        peer->received_.append(buf, static_cast<std::size_t>(n));
    }
}

bool TestPeer::Conn::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const int n = ssl ? SSL_write(sslOf(ssl), bytes.data(), static_cast<int>(bytes.size()))
                          : static_cast<int>(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool TestPeer::Conn::open() const {
    if (peer->stopping_) return false;
    char c;
    const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

TestPeer::TestPeer(Handler handler, std::optional<Tls> tls) : handler_(std::move(handler)) {
    (void)kIgnoreSigpipe;
    if (tls) ctx_ = serverContext(*tls);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe(stopPipe_) != 0)
        throw std::runtime_error("test peer: cannot listen");
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestPeer::~TestPeer() {
    stopping_ = true;
    [[maybe_unused]] const auto n = ::write(stopPipe_[1], "x", 1);
    acceptThread_.join();
    for (auto& t : threads_) t.join();
    ::close(listenFd_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    if (ctx_) SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

std::string TestPeer::url(std::string_view path) const {
    return std::string(ctx_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           std::string(path);
}

std::string TestPeer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

TestPeer::Handler TestPeer::serveAll(std::string reply) {
    return [reply = std::move(reply)](Conn& c) {
        while (c.readRequest())
            if (!c.write(reply)) return;
    };
}

void TestPeer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || fds[1].revents) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++accepted_;
        threads_.emplace_back([this, fd] { serve(fd); });
    }
}

void TestPeer::serve(int fd) {
    Conn conn;
    conn.fd = fd;
    conn.peer = this;
    // A handler that writes into a client that stopped reading gives up.
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    SSL* ssl = nullptr;
    if (ctx_) {
        ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
        SSL_set_fd(ssl, fd);
        conn.ssl = ssl;
        if (SSL_accept(ssl) != 1) {
            ERR_clear_error();
            SSL_free(ssl);
            ::close(fd);
            ++finished_;
            return;
        }
    }
    handler_(conn);
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::close(fd);
    ++finished_;
}

std::string reply(int status, std::string_view body, std::string_view extraHeaders) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace lumora::test
