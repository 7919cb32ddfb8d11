#include "bridge/http_conn.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace lumora::net {
namespace {

// A socket BIO that never raises SIGPIPE: the program does not own the
// process's signal dispositions, and a bridge that resets must not kill it.
BIO_METHOD* socketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "socket");
        BIO_meth_set_write(m, [](BIO* b, const char* data, int len) {
            const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
            BIO_clear_retry_flags(b);
            const ssize_t n = ::send(fd, data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                BIO_set_retry_write(b);
            return static_cast<int>(n);
        });
        BIO_meth_set_read(m, [](BIO* b, char* data, int len) {
            const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
            BIO_clear_retry_flags(b);
            const ssize_t n = ::recv(fd, data, static_cast<std::size_t>(len), 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                BIO_set_retry_read(b);
            return static_cast<int>(n);
        });
        BIO_meth_set_ctrl(
            m, [](BIO*, int cmd, long, void*) -> long { return cmd == BIO_CTRL_FLUSH ? 1 : 0; });
        BIO_meth_set_create(m, [](BIO* b) {
            BIO_set_init(b, 1);
            return 1;
        });
        return m;
    }();
    return method;
}

struct AddrInfoDeleter {
    void operator()(addrinfo* a) const { freeaddrinfo(a); }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// Address literals need no lookup. A name (the web discovery service,
// "localhost") is looked up on a thread of its own, so a slow resolver costs
// the caller no more than its deadline; a late answer is simply dropped.
AddrList resolve(const ParsedUrl& url, Deadline deadline, HttpError& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string port = std::to_string(url.port);
    addrinfo* found = nullptr;
    if (getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found) == 0) return AddrList(found);

    struct Lookup {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        addrinfo* result = nullptr;
        ~Lookup() {
            if (result) freeaddrinfo(result);
        }
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host = url.host, port] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* res = nullptr;
        if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0) res = nullptr;
        std::lock_guard lock(lookup->m);
        lookup->result = res;
        lookup->done = true;
        lookup->cv.notify_all();
    }).detach();
    std::unique_lock lock(lookup->m);
    if (!lookup->cv.wait_until(lock, deadline.at(), [&] { return lookup->done; })) {
        error = HttpError::timedOut;
        return nullptr;
    }
    if (!lookup->result) error = HttpError::connectionFailed;
    return AddrList(std::exchange(lookup->result, nullptr));
}

}  // namespace

int Deadline::pollMs() const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - Clock::now()).count();
    if (left <= 0) return 0;
    return left > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(left);
}

Connection::~Connection() {
    if (ssl_) SSL_free(ssl_);
    if (fd_ >= 0) ::close(fd_);
}

Io Connection::wait(short events, Deadline deadline, int cancelFd) {
    while (true) {
        if (deadline.passed()) return Io::timedOut;
        pollfd fds[2] = {{fd_, events, 0}, {cancelFd, POLLIN, 0}};
        const int n = ::poll(fds, cancelFd >= 0 ? 2 : 1, deadline.pollMs());
        if (n < 0) {
            if (errno == EINTR) continue;
            return Io::failed;
        }
        if (cancelFd >= 0 && (fds[1].revents & POLLIN)) return Io::cancelled;
        // An error or hang-up is reported by the read or write that follows.
        if (fds[0].revents) return Io::ok;
    }
}

std::unique_ptr<Connection> Connection::open(const ParsedUrl& url,
                                             const std::optional<TlsIdentity>& identity,
                                             Deadline deadline, int cancelFd, Counters counters,
                                             HttpError& error, TlsRefusal& refusal) {
    error = HttpError::connectionFailed;
    AddrList addresses = resolve(url, deadline, error);
    if (!addresses) return nullptr;

    std::unique_ptr<Connection> conn(new Connection);
    for (addrinfo* a = addresses.get(); a && conn->fd_ < 0; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        conn->fd_ = fd;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
        if (errno == EINPROGRESS) {
            const Io io = conn->wait(POLLOUT, deadline, cancelFd);
            if (io == Io::timedOut || io == Io::cancelled) {
                error = io == Io::timedOut ? HttpError::timedOut : HttpError::cancelled;
                return nullptr;
            }
            int soError = 0;
            socklen_t len = sizeof soError;
            if (io == Io::ok && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 &&
                soError == 0)
                break;
        }
        ::close(fd);
        conn->fd_ = -1;
    }
    if (conn->fd_ < 0) {
        error = HttpError::connectionFailed;
        return nullptr;
    }
    // A request goes out in one write; nothing is gained by holding it back.
    const int one = 1;
    ::setsockopt(conn->fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (counters.connections) ++*counters.connections;

    if (url.scheme == "https") {
        const TlsIdentity id = identity.value_or(TlsIdentity::web());
        conn->ssl_ = SSL_new(clientTlsContext());
        BIO* bio = BIO_new(socketMethod());
        if (!conn->ssl_ || !bio) {
            BIO_free(bio);
            return nullptr;
        }
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(conn->fd_)));
        SSL_set_bio(conn->ssl_, bio, bio);
        unsigned char addr[16];
        const bool literal = inet_pton(AF_INET, url.host.c_str(), addr) == 1 ||
                             inet_pton(AF_INET6, url.host.c_str(), addr) == 1;
        if (id.mode == TlsIdentity::Mode::web && !literal)
            SSL_set_tlsext_host_name(conn->ssl_, url.host.c_str());
        while (true) {
            ERR_clear_error();
            const int rc = SSL_connect(conn->ssl_);
            if (rc == 1) break;
            const int why = SSL_get_error(conn->ssl_, rc);
            Io io = Io::failed;
            if (why == SSL_ERROR_WANT_READ) io = conn->wait(POLLIN, deadline, cancelFd);
            if (why == SSL_ERROR_WANT_WRITE) io = conn->wait(POLLOUT, deadline, cancelFd);
            if (io == Io::ok) continue;
            if (io == Io::timedOut || io == Io::cancelled) {
                error = io == Io::timedOut ? HttpError::timedOut : HttpError::cancelled;
                return nullptr;
            }
            char text[256] = "the peer closed the connection";
            if (const unsigned long e = ERR_peek_error()) ERR_error_string_n(e, text, sizeof text);
            ERR_clear_error();
            error = HttpError::tlsFailed;
            refusal.reason = TlsFailure::handshakeFailed;
            refusal.detail = text;
            return nullptr;
        }
        if (counters.handshakes) ++*counters.handshakes;
        refusal = verifyPeer(conn->ssl_, id, url.host);
        if (refusal.reason != TlsFailure::none) {
            error = HttpError::tlsFailed;
            return nullptr;
        }
    }
    error = HttpError::none;
    return conn;
}

Io Connection::writeAll(std::string_view bytes, Deadline deadline, int cancelFd,
                        std::size_t& written) {
    written = 0;
    while (written < bytes.size()) {
        if (deadline.passed()) return Io::timedOut;
        const char* at = bytes.data() + written;
        const std::size_t left = bytes.size() - written;
        short waitFor = POLLOUT;
        if (ssl_) {
            ERR_clear_error();
            std::size_t n = 0;
            // The same buffer on every retry, as a TLS write requires.
            if (SSL_write_ex(ssl_, at, left, &n) == 1) {
                written += n;
                continue;
            }
            const int why = SSL_get_error(ssl_, 0);
            if (why == SSL_ERROR_WANT_READ)
                waitFor = POLLIN;
            else if (why != SSL_ERROR_WANT_WRITE)
                return Io::failed;
        } else {
            const ssize_t n = ::send(fd_, at, left, MSG_NOSIGNAL);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return Io::failed;
        }
        if (const Io io = wait(waitFor, deadline, cancelFd); io != Io::ok) return io;
    }
    return Io::ok;
}

Io Connection::readSome(char* buffer, std::size_t capacity, Deadline deadline, int cancelFd,
                        std::size_t& got) {
    got = 0;
    while (true) {
        if (cancelFd >= 0) {
            pollfd p{cancelFd, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) return Io::cancelled;
        }
        short waitFor = POLLIN;
        if (ssl_) {
            ERR_clear_error();
            if (SSL_read_ex(ssl_, buffer, capacity, &got) == 1) return Io::ok;
            const int why = SSL_get_error(ssl_, 0);
            if (why == SSL_ERROR_ZERO_RETURN) return Io::closed;
            if (why == SSL_ERROR_WANT_WRITE)
                waitFor = POLLOUT;
            else if (why != SSL_ERROR_WANT_READ)
                return Io::failed;
        } else {
            const ssize_t n = ::recv(fd_, buffer, capacity, 0);
            if (n > 0) {
                got = static_cast<std::size_t>(n);
                return Io::ok;
            }
            if (n == 0) return Io::closed;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Io::failed;
        }
        if (deadline.passed()) return Io::timedOut;
        if (const Io io = wait(waitFor, deadline, cancelFd); io != Io::ok) return io;
    }
}

bool Connection::looksClosed() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) == 0) return false;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return true;
    if (!ssl_) return true;  // a byte nobody asked for, or the end of the stream
    // TLS may carry records that are not data (a session ticket) after a reply.
    char byte;
    std::size_t got = 0;
    ERR_clear_error();
    if (SSL_read_ex(ssl_, &byte, 1, &got) == 1) return true;
    const bool idle = SSL_get_error(ssl_, 0) == SSL_ERROR_WANT_READ;
    ERR_clear_error();
    return !idle;
}

}  // namespace lumora::net
