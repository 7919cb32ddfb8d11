// The request exchange: a whole request, framed by the hub, handed to the
// library's parser, and its reply gathered and sent in as few writes as it takes.
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "simulator/http_transport_internal.h"

namespace lumora::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Replies up to this size are gathered and sent in one write; larger pieces
// (the huge fault) go out as they come.
constexpr std::size_t kGatherLimit = 256 * 1024;

thread_local int tlsSocket = -1;
class Exchange;
thread_local Exchange* currentExchange = nullptr;

milliseconds toMillis(time_t sec, time_t usec) {
    return milliseconds(sec * 1000 + usec / 1000);
}

enum class Wait { ready, timedOut, woken };

// Readiness of the socket, or the server's wake-up, whichever comes first.
// Hang-up and errors count as ready: the next read or write reports them.
Wait waitFor(int sock, short events, int wakeFd, milliseconds timeout) {
    pollfd fds[2] = {{sock, events, 0}, {wakeFd, POLLIN, 0}};
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        int n = ::poll(fds, 2, static_cast<int>(std::max<milliseconds::rep>(left.count(), 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Wait::woken;
        if (fds[1].revents != 0) return Wait::woken;
        if (fds[0].revents != 0) return Wait::ready;
        return Wait::timedOut;
    }
}

// The request at the start of a link's buffer as the library's parser sees
// it, with nothing beyond it; replies are gathered until flush(), so headers
// and body leave together.
class Exchange final : public httplib::Stream {
  public:
    Exchange(Link& link, int wakeFd, milliseconds writeTimeout)
        : link_(link), end_(link.framer.length()), wakeFd_(wakeFd), writeTimeout_(writeTimeout) {}

    bool is_readable() const override { return pos_ < end_; }
    bool is_writable() const override {
        return waitFor(link_.fd, POLLOUT, wakeFd_, writeTimeout_) == Wait::ready;
    }

    ssize_t read(char* ptr, std::size_t size) override {
        const std::size_t count = std::min(size, end_ - pos_);
        std::memcpy(ptr, link_.in.data() + pos_, count);
        pos_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, std::size_t size) override {
        if (out_.size() + size > kGatherLimit) {
            if (!flush()) return -1;
            if (size >= kGatherLimit) return sendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
        }
        out_.append(ptr, size);
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        describe(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        describe(::getsockname, ip, port);
    }
    socket_t socket() const override { return link_.fd; }

    SimHttpServer::ReplyWait waitDuring(int eventFd) {
        using ReplyWait = SimHttpServer::ReplyWait;
        for (;;) {
            if (!dropInput()) return ReplyWait::clientGone;
            pollfd fds[3] = {
                {link_.fd, POLLIN | POLLRDHUP, 0}, {eventFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            const int n = ::poll(fds, 3, -1);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || fds[2].revents != 0) return ReplyWait::stopping;
            if (fds[1].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto got = ::read(eventFd, &count, sizeof count);
                return ReplyWait::woken;
            }
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return ReplyWait::clientGone;
            }
        }
    }

    bool flush() {
        if (out_.empty()) return true;
        const bool sent = sendAll(out_.data(), out_.size());
        out_.clear();
        return sent;
    }

  private:
    // Reads and drops whatever the client has sent; false once it has gone.
    bool dropInput() {
        char scratch[16 * 1024];
        for (;;) {
            if (link_.ssl) {
                if (link_.tlsBroken) return false;
                ERR_clear_error();
                const int n = SSL_read(link_.ssl, scratch, sizeof scratch);
                if (n > 0) continue;
                const int error = link_.tlsError(n);
                return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
            }
            const ssize_t n = ::recv(link_.fd, scratch, sizeof scratch, 0);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }

    bool sendAll(const char* data, std::size_t size) const {
        if (link_.ssl) return sendAllTls(data, size);
        while (size > 0) {
            ssize_t n = ::send(link_.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (waitFor(link_.fd, POLLOUT, wakeFd_, writeTimeout_) != Wait::ready) return false;
            } else {
                return false;
            }
        }
        return true;
    }

    bool sendAllTls(const char* data, std::size_t size) const {
        if (link_.tlsBroken) return false;
        while (size > 0) {
            ERR_clear_error();
            const int n =
                SSL_write(link_.ssl, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
                continue;
            }
            const int error = link_.tlsError(n);
            const short wanted = error == SSL_ERROR_WANT_WRITE  ? POLLOUT
                                 : error == SSL_ERROR_WANT_READ ? POLLIN
                                                                : 0;
            if (wanted == 0) return false;
            if (waitFor(link_.fd, wanted, wakeFd_, writeTimeout_) != Wait::ready) return false;
        }
        return true;
    }

    template <typename Query>
    void describe(Query query, std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ip.clear();
        port = 0;
        if (query(link_.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
        char host[NI_MAXHOST] = {};
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr,
                          0, NI_NUMERICHOST) == 0) {
            ip = host;
        }
        if (address.ss_family == AF_INET) {
            port = ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
        } else if (address.ss_family == AF_INET6) {
            port = ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
        }
    }

    Link& link_;
    const std::size_t end_;
    const int wakeFd_;
    const milliseconds writeTimeout_;
    std::size_t pos_ = 0;
    std::string out_;
};

}  // namespace

int SimHttpServer::currentSocket() {
    return tlsSocket;
}

bool SimHttpServer::flushReply() {
    return currentExchange != nullptr && currentExchange->flush();
}

SimHttpServer::ReplyWait SimHttpServer::waitDuringReply(int wakeFd) {
    if (currentExchange == nullptr) return ReplyWait::stopping;
    return currentExchange->waitDuring(wakeFd);
}
bool SimHttpServer::answer(Link& link) {
    Exchange exchange(link, wakeFd_, toMillis(write_timeout_sec_, write_timeout_usec_));
    const bool last = ++link.served >= keep_alive_max_count_ || link.peerDone;
    bool closed = false;
    tlsSocket = link.fd;
    currentExchange = &exchange;
    const bool served = process_request(exchange, last, closed, nullptr);
    currentExchange = nullptr;
    // Also after a failed reply: a deliberately cut one must still go out.
    const bool flushed = exchange.flush();
    tlsSocket = -1;
    return served && flushed && !closed && !last && svr_sock_ != INVALID_SOCKET;
}

}  // namespace lumora::sim
