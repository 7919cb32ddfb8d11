#include "simulator/http_transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace lumora::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Replies up to this size are gathered and sent in one write; larger pieces
// (the huge fault) go out as they come.
constexpr std::size_t kGatherLimit = 256 * 1024;
constexpr std::size_t kReadChunk = 16 * 1024;
// Read from one connection per wake-up before the others get their turn.
constexpr std::size_t kReadPerWake = 64 * 1024;
// A buffer that held a large body is given back rather than kept.
constexpr std::size_t kKeptCapacity = 64 * 1024;
// After a refusal the client's remaining bytes are read and dropped for this
// long, so that closing does not reset the connection before the refusal is read.
constexpr milliseconds kLinger{1000};
// Replaces the name "Expect" (same length, so no offset moves) once the
// expectation is met here, so that the library does not answer it again.
constexpr char kAnsweredExpect[] = "X-Done";
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

thread_local int tlsSocket = -1;

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

// One try, never waiting: for short answers to clients that may not read.
void sendNow(int sock, std::string_view bytes) {
    [[maybe_unused]] auto sent =
        ::send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string refusal(int status, const char* reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

}  // namespace

// One client connection and the bytes it has sent that are not answered yet,
// from the start of its next request.
struct Link {
    Link(int sock, FramingLimits limits) : fd(sock), framer(limits) {}
    ~Link() {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The expectation is answered here, or needs no answer as the body is
    // in; true the first time.
    bool meetExpectation() {
        const std::size_t at = framer.expectAt();
        if (at == std::string_view::npos || in.compare(at, 6, "Expect") != 0) return false;
        in.replace(at, 6, kAnsweredExpect);
        return true;
    }

    const int fd;
    std::string in;
    RequestFramer framer;
    Clock::time_point deadline;
    std::size_t served = 0;
    bool peerDone = false;  // the client has shut its sending side
    bool closing = false;   // refused: only drained until the deadline
};

namespace {

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

    bool flush() {
        if (out_.empty()) return true;
        const bool sent = sendAll(out_.data(), out_.size());
        out_.clear();
        return sent;
    }

  private:
    bool sendAll(const char* data, std::size_t size) const {
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

// Workers started as requests need them, up to a limit; a worker stays for
// the next request once its own is answered.
class WorkerPool {
  public:
    using Work = std::function<void(std::unique_ptr<Link>)>;
    WorkerPool(std::size_t maxWorkers, Work work)
        : max_(std::max<std::size_t>(maxWorkers, 1)), work_(std::move(work)) {}
    ~WorkerPool() { shutdown(); }

    void submit(std::unique_ptr<Link> link) {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        links_.push_back(std::move(link));
        if (links_.size() > idle_ && workers_.size() < max_) {
            workers_.emplace_back([this] { run(); });
        } else {
            wake_.notify_one();
        }
    }

    // Drops what waits, lets running requests finish, joins every worker.
    void shutdown() {
        std::deque<std::unique_ptr<Link>> dropped;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            dropped.swap(links_);
        }
        wake_.notify_all();
        for (auto& worker : workers_) {
            if (worker.joinable()) worker.join();
        }
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return stopping_ || !links_.empty(); });
            --idle_;
            if (links_.empty()) return;
            auto link = std::move(links_.front());
            links_.pop_front();
            lock.unlock();
            work_(std::move(link));
            lock.lock();
        }
    }

    const std::size_t max_;
    const Work work_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<Link>> links_;
    std::vector<std::thread> workers_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace

// Every connection between requests: one thread waits on all of them with
// epoll, reads what arrives and hands a connection to a worker once a whole
// request is buffered. The library's accept loop sees it as its task queue.
class ConnectionHub final : public httplib::TaskQueue {
  public:
    explicit ConnectionHub(SimHttpServer& server)
        : server_(server),
          limits_(server.limits_),
          epollFd_(::epoll_create1(EPOLL_CLOEXEC)),
          inboxFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          pool_(limits_.maxWorkers,
                [this](std::unique_ptr<Link> link) { serve(std::move(link)); }) {
        watch(inboxFd_);
        watch(stopFd_);
        watch(server_.wakeFd_);
        reactor_ = std::thread([this] { run(); });
    }
    ~ConnectionHub() override {
        shutdown();
        server_.hub_ = nullptr;
        ::close(epollFd_);
        ::close(inboxFd_);
        ::close(stopFd_);
    }
    ConnectionHub(const ConnectionHub&) = delete;
    ConnectionHub& operator=(const ConnectionHub&) = delete;

    // The accept loop's job only parks its socket here: run it at once.
    void enqueue(std::function<void()> job) override { job(); }

    void shutdown() override {
        {
            std::lock_guard lock(inboxMutex_);
            if (stopping_) return;
            stopping_ = true;
        }
        signal(stopFd_);
        if (reactor_.joinable()) reactor_.join();
        pool_.shutdown();
        std::lock_guard lock(inboxMutex_);
        inbox_.clear();
    }

    void adopt(int sock) {
        ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
        // Replies leave in one write; waiting for the peer's delayed ACK
        // before the next would only add latency.
        int yes = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        giveBack(std::make_unique<Link>(sock, limits_.request));
    }

  private:
    void watch(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event);
    }

    static void signal(int eventFd) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(eventFd, &one, sizeof one);
    }

    // From a worker, or a fresh connection: to be parked until its next request.
    void giveBack(std::unique_ptr<Link> link) {
        {
            std::lock_guard lock(inboxMutex_);
            if (stopping_) return;  // the link closes as it goes
            inbox_.push_back(std::move(link));
        }
        signal(inboxFd_);
    }

    // On a worker: answers every whole request buffered, then parks the link.
    void serve(std::unique_ptr<Link> link) {
        for (;;) {
            if (!server_.answer(*link)) return;
            link->in.erase(0, link->framer.length());
            if (link->in.capacity() > kKeptCapacity) link->in.shrink_to_fit();
            link->framer.reset();
            if (link->in.empty() ||
                link->framer.advance(link->in) != RequestFramer::Result::complete) {
                break;
            }
            link->meetExpectation();
        }
        giveBack(std::move(link));
    }

    void run() {
        using Parked = std::unordered_map<int, std::unique_ptr<Link>>;
        const milliseconds sweepEvery =
            std::clamp(limits_.requestTimeout / 4, milliseconds(10), milliseconds(250));
        auto nextSweep = Clock::now() + sweepEvery;
        std::vector<epoll_event> events(256);
        for (;;) {
            const auto wait = std::chrono::ceil<milliseconds>(nextSweep - Clock::now()).count();
            const int n = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()),
                                       static_cast<int>(std::max<milliseconds::rep>(wait, 0)));
            if (n < 0 && errno != EINTR) break;
            bool stop = false;
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == stopFd_ || fd == server_.wakeFd_) {
                    stop = true;
                } else if (fd == inboxFd_) {
                    std::uint64_t count;
                    [[maybe_unused]] auto got = ::read(inboxFd_, &count, sizeof count);
                    std::vector<std::unique_ptr<Link>> arrived;
                    {
                        std::lock_guard lock(inboxMutex_);
                        arrived.swap(inbox_);
                    }
                    for (auto& link : arrived) park(std::move(link));
                } else if (auto it = parked_.find(fd); it != parked_.end()) {
                    receive(it);
                }
            }
            if (stop) break;
            if (Clock::now() >= nextSweep) {
                sweep();
                nextSweep = Clock::now() + sweepEvery;
            }
        }
        Parked closing;
        closing.swap(parked_);
        buffered_ = 0;
    }

    void park(std::unique_ptr<Link> link) {
        link->deadline = Clock::now() + limits_.requestTimeout;
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.fd = link->fd;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, link->fd, &event) != 0) return;
        buffered_ += link->in.size();
        auto [it, added] = parked_.emplace(link->fd, std::move(link));
        // A worker leaves the beginning of the next request behind it.
        if (!it->second->in.empty()) examine(it);
    }

    void close(std::unordered_map<int, std::unique_ptr<Link>>::iterator it) {
        buffered_ -= it->second->in.size();
        parked_.erase(it);  // the socket leaves the epoll set as it closes
    }

    void receive(std::unordered_map<int, std::unique_ptr<Link>>::iterator it) {
        Link& link = *it->second;
        if (link.closing) {
            char scratch[kReadChunk];
            ssize_t n;
            while ((n = ::recv(link.fd, scratch, sizeof scratch, 0)) > 0) {
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) close(it);
            return;
        }
        for (std::size_t taken = 0; taken < kReadPerWake;) {
            const std::size_t had = link.in.size();
            link.in.resize(had + kReadChunk);
            const ssize_t n = ::recv(link.fd, link.in.data() + had, kReadChunk, 0);
            link.in.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            if (n > 0) {
                taken += static_cast<std::size_t>(n);
                buffered_ += static_cast<std::size_t>(n);
                continue;
            }
            if (n == 0) {
                link.peerDone = true;
            } else if (errno == EINTR) {
                continue;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return close(it);
            }
            break;
        }
        examine(it);
    }

    // What the buffered bytes of a parked link call for.
    void examine(std::unordered_map<int, std::unique_ptr<Link>>::iterator it) {
        Link& link = *it->second;
        switch (link.framer.advance(link.in)) {
            case RequestFramer::Result::complete:
                link.meetExpectation();
                ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, link.fd, nullptr);
                buffered_ -= link.in.size();
                pool_.submit(std::move(it->second));
                parked_.erase(it);
                return;
            case RequestFramer::Result::headTooLarge:
                return refuse(it, 431, "Request Header Fields Too Large");
            case RequestFramer::Result::bodyTooLarge:
                return refuse(it, 413, "Payload Too Large");
            case RequestFramer::Result::malformed:
                return refuse(it, 400, "Bad Request");
            case RequestFramer::Result::needMore:
                break;
        }
        if (link.peerDone) return close(it);
        if (buffered_ > limits_.maxBufferedBytes) return refuse(it, 503, "Service Unavailable");
        if (link.framer.headComplete() && link.framer.expectsContinue() && link.meetExpectation()) {
            sendNow(link.fd, kContinue);
        }
    }

    void refuse(std::unordered_map<int, std::unique_ptr<Link>>::iterator it, int status,
                const char* reason) {
        Link& link = *it->second;
        sendNow(link.fd, refusal(status, reason));
        ::shutdown(link.fd, SHUT_WR);
        buffered_ -= link.in.size();
        link.in = std::string();
        link.closing = true;
        link.deadline = Clock::now() + kLinger;
        if (link.peerDone) close(it);
    }

    // Closes every parked link past its deadline; one that has sent part of
    // a request is told why first.
    void sweep() {
        const auto now = Clock::now();
        for (auto it = parked_.begin(); it != parked_.end();) {
            Link& link = *it->second;
            if (link.deadline > now) {
                ++it;
                continue;
            }
            if (!link.closing && !link.in.empty())
                sendNow(link.fd, refusal(408, "Request Timeout"));
            buffered_ -= link.in.size();
            it = parked_.erase(it);
        }
    }

    SimHttpServer& server_;
    const TransportLimits limits_;
    const int epollFd_;
    const int inboxFd_;
    const int stopFd_;
    std::thread reactor_;
    // The reactor thread's own.
    std::unordered_map<int, std::unique_ptr<Link>> parked_;
    std::size_t buffered_ = 0;  // bytes in parked links' buffers

    std::mutex inboxMutex_;
    std::vector<std::unique_ptr<Link>> inbox_;
    bool stopping_ = false;

    WorkerPool pool_;  // last: its workers use everything above
};

SimHttpServer::SimHttpServer(TransportLimits limits)
    : limits_(limits), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    new_task_queue = [this]() -> httplib::TaskQueue* {
        auto* hub = new ConnectionHub(*this);
        hub_ = hub;
        return hub;
    };
}

SimHttpServer::~SimHttpServer() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SimHttpServer::widenBacklog() {
    const socket_t sock = svr_sock_;
    // Listening again on a listening socket only changes its backlog.
    if (sock != INVALID_SOCKET) ::listen(sock, SOMAXCONN);
}

void SimHttpServer::stopAll() {
    const std::uint64_t one = 1;
    // Never read back: every later wait sees it too.
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    stop();
}

int SimHttpServer::currentSocket() {
    return tlsSocket;
}

bool SimHttpServer::process_and_close_socket(socket_t sock) {
    ConnectionHub* hub = hub_;
    if (hub == nullptr) {
        ::close(sock);
        return false;
    }
    hub->adopt(sock);
    return true;
}

bool SimHttpServer::answer(Link& link) {
    Exchange exchange(link, wakeFd_, toMillis(write_timeout_sec_, write_timeout_usec_));
    const bool last = ++link.served >= keep_alive_max_count_ || link.peerDone;
    bool closed = false;
    tlsSocket = link.fd;
    const bool served = process_request(exchange, last, closed, nullptr);
    // Also after a failed reply: a deliberately cut one must still go out.
    const bool flushed = exchange.flush();
    tlsSocket = -1;
    return served && flushed && !closed && !last && svr_sock_ != INVALID_SOCKET;
}

}  // namespace lumora::sim
