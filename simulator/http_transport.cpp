#include "simulator/http_transport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "simulator/http_transport_internal.h"

namespace lumora::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kReadChunk = 16 * 1024;
// Read from one connection per wake-up before the others get their turn.
constexpr std::size_t kReadPerWake = 64 * 1024;
// A buffer that held a large body is given back rather than kept.
constexpr std::size_t kKeptCapacity = 64 * 1024;
// After a refusal the client's remaining bytes are read and dropped for this
// long, so that closing does not reset the connection before the refusal is read.
constexpr milliseconds kLinger{1000};
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

std::string refusal(int status, const char* reason) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// Workers started as requests need them, up to a limit; a worker stays for
// the next connection once it is done with its own.
class WorkerPool {
  public:
    using Work = std::function<void(Link&)>;
    WorkerPool(std::size_t maxWorkers, Work work)
        : max_(std::max<std::size_t>(maxWorkers, 1)), work_(std::move(work)) {}
    ~WorkerPool() { shutdown(); }

    void submit(Link& link) {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        links_.push_back(&link);
        if (links_.size() > idle_ && workers_.size() < max_) {
            workers_.emplace_back([this] { run(); });
        } else {
            wake_.notify_one();
        }
    }

    // Forgets what waits, lets running work finish, joins every worker.
    void shutdown() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            links_.clear();
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
            Link* link = links_.front();
            links_.pop_front();
            lock.unlock();
            work_(*link);
            lock.lock();
        }
    }

    const std::size_t max_;
    const Work work_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Link*> links_;  // owned by the hub
    std::vector<std::thread> workers_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace

// Every connection, busy or waiting. One thread waits on the waiting ones with
// epoll and hands a connection to a worker when bytes arrive; the worker reads
// them, answers each whole request there is, and puts the connection back to
// wait. The library's accept loop sees the hub as its task queue.
class ConnectionHub final : public httplib::TaskQueue {
  public:
    explicit ConnectionHub(SimHttpServer& server)
        : server_(server),
          limits_(server.limits_),
          epollFd_(::epoll_create1(EPOLL_CLOEXEC)),
          stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          pool_(limits_.maxWorkers, [this](Link& link) { serve(link); }) {
        watch(stopFd_);
        watch(server_.wakeFd_);
        reactor_ = std::thread([this] { run(); });
    }
    ~ConnectionHub() override {
        {
            // From here stats() and closeIdle() leave the hub alone.
            std::lock_guard lock(server_.hubMutex_);
            server_.hub_ = nullptr;
        }
        shutdown();
        ::close(epollFd_);
        ::close(stopFd_);
    }
    ConnectionHub(const ConnectionHub&) = delete;
    ConnectionHub& operator=(const ConnectionHub&) = delete;

    // The accept loop's job only parks its socket here: run it at once.
    void enqueue(std::function<void()> job) override { job(); }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            stopping_ = true;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(stopFd_, &one, sizeof one);
        if (reactor_.joinable()) reactor_.join();
        pool_.shutdown();
        std::unordered_map<int, std::unique_ptr<Link>> closing;
        std::lock_guard lock(mutex_);
        closing.swap(links_);
    }

    void adopt(int sock) {
        ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
        // Replies leave in one write; waiting for the peer's delayed ACK
        // before the next would only add latency.
        int yes = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto link = std::make_unique<Link>(sock, limits_.request);
        link->deadline = Clock::now() + limits_.requestTimeout;
        ++server_.accepted_;
        if (const auto context = server_.tlsContext()) {
            link->ssl = SSL_new(context.get());
            if (link->ssl == nullptr || SSL_set_fd(link->ssl, sock) != 1) return;
            SSL_set_accept_state(link->ssl);
            link->handshaking = true;
            link->unfinished = &server_.failedHandshakes_;
        }
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        arm(*link, EPOLL_CTL_ADD);
        links_[sock] = std::move(link);
    }

    // Closes every link that waits for its next request.
    std::size_t closeIdle() {
        std::vector<std::unique_ptr<Link>> idle;
        {
            std::lock_guard lock(mutex_);
            for (auto it = links_.begin(); it != links_.end();) {
                if (it->second->busy) {
                    ++it;
                    continue;
                }
                count(*it->second, 0);
                idle.push_back(std::move(it->second));
                it = links_.erase(it);
            }
        }
        return idle.size();  // they close as they go
    }

    std::size_t open() {
        std::lock_guard lock(mutex_);
        return links_.size();
    }

  private:
    using Result = RequestFramer::Result;

    void watch(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event);
    }

    // One wake-up for the next bytes (or for room to write, when a TLS
    // handshake needs it), then the link is the worker's until it is armed again.
    void arm(Link& link, int op, bool toWrite = false) {
        epoll_event event{};
        event.events = (toWrite ? EPOLLOUT : EPOLLIN) | EPOLLRDHUP | EPOLLONESHOT;
        event.data.fd = link.fd;
        ::epoll_ctl(epollFd_, op, link.fd, &event);
    }

    void run() {
        const milliseconds sweepEvery =
            std::clamp(limits_.requestTimeout / 4, milliseconds(10), milliseconds(250));
        auto nextSweep = Clock::now() + sweepEvery;
        std::vector<epoll_event> events(256);
        std::vector<Link*> ready;
        for (;;) {
            const auto wait = std::chrono::ceil<milliseconds>(nextSweep - Clock::now()).count();
            const int n = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()),
                                       static_cast<int>(std::max<milliseconds::rep>(wait, 0)));
            if (n < 0 && errno != EINTR) return;
            ready.clear();
            {
                std::lock_guard lock(mutex_);
                for (int i = 0; i < n; ++i) {
                    const int fd = events[i].data.fd;
                    if (fd == stopFd_ || fd == server_.wakeFd_) return;
                    auto it = links_.find(fd);
                    if (it == links_.end() || it->second->busy) continue;
                    it->second->busy = true;
                    ready.push_back(it->second.get());
                }
            }
            for (Link* link : ready) pool_.submit(*link);
            if (Clock::now() >= nextSweep) {
                sweep();
                nextSweep = Clock::now() + sweepEvery;
            }
        }
    }

    // Closes every waiting link past its deadline; one that has sent part of
    // a request is told why first.
    void sweep() {
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        for (auto it = links_.begin(); it != links_.end();) {
            Link& link = *it->second;
            if (link.busy || link.deadline > now) {
                ++it;
                continue;
            }
            if (!link.closing && !link.in.empty()) link.sendNow(refusal(408, "Request Timeout"));
            count(link, 0);
            it = links_.erase(it);
        }
    }

    // On a worker: reads what has come, answers every whole request, then
    // puts the link back to wait, or closes it.
    void serve(Link& link) {
        if (link.handshaking) {
            ERR_clear_error();
            const int result = SSL_accept(link.ssl);
            if (result != 1) {
                const int error = link.tlsError(result);
                if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                    return close(link);
                }
                std::lock_guard lock(mutex_);
                link.busy = false;
                arm(link, EPOLL_CTL_MOD, error == SSL_ERROR_WANT_WRITE);
                return;
            }
            link.handshaking = false;
            ++server_.handshakes_;
        }
        for (;;) {
            if (!receive(link)) return close(link);
            if (link.closing) break;
            const Result result = link.framer.advance(link.in);
            if (result == Result::needMore) break;
            if (result != Result::complete) return refuse(link, result);
            link.meetExpectation();
            count(link, 0);
            if (!server_.answer(link)) return close(link);
            link.in.erase(0, link.framer.length());
            if (link.in.capacity() > kKeptCapacity) link.in.shrink_to_fit();
            link.framer.reset();
            link.deadline = Clock::now() + limits_.requestTimeout;
        }
        if (link.peerDone) return close(link);
        if (!link.closing) {
            if (count(link, link.in.size()) > limits_.maxBufferedBytes) {
                return refuse(link, Result::needMore);
            }
            if (link.framer.headComplete() && link.framer.expectsContinue() &&
                link.meetExpectation()) {
                link.sendNow(kContinue);
            }
        }
        // TLS may hold bytes already taken from the socket, which epoll would
        // never report: come back for them after the others had their turn.
        if (link.ssl && SSL_has_pending(link.ssl) == 1 && !link.tlsBroken) {
            if (link.closing && Clock::now() >= link.deadline) return close(link);
            pool_.submit(link);
            return;
        }
        std::lock_guard lock(mutex_);
        link.busy = false;
        arm(link, EPOLL_CTL_MOD);
    }

    // Reads what the socket holds (a fair share of it); false on an error.
    // A refused link's bytes are dropped.
    bool receive(Link& link) {
        char scratch[kReadChunk];
        for (std::size_t taken = 0; taken < kReadPerWake && !link.peerDone;) {
            const std::size_t had = link.in.size();
            char* into = scratch;
            if (!link.closing) {
                link.in.resize(had + kReadChunk);
                into = link.in.data() + had;
            }
            if (link.ssl) {
                const ssize_t n = readTls(link, into);
                if (!link.closing)
                    link.in.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
                if (n > 0) {
                    taken += static_cast<std::size_t>(n);
                    continue;
                }
                return n == 0;
            }
            const ssize_t n = ::recv(link.fd, into, kReadChunk, 0);
            if (!link.closing)
                link.in.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            if (n > 0) {
                taken += static_cast<std::size_t>(n);
            } else if (n == 0) {
                link.peerDone = true;
            } else if (errno == EINTR) {
                continue;
            } else {
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
        }
        return true;
    }

    // Up to kReadChunk bytes of a TLS link: how many; 0 when none are there
    // yet or the client said goodbye (then peerDone is set); -1 on an error.
    static ssize_t readTls(Link& link, char* into) {
        if (link.tlsBroken) return -1;
        ERR_clear_error();
        const int n = SSL_read(link.ssl, into, static_cast<int>(kReadChunk));
        if (n > 0) return n;
        switch (link.tlsError(n)) {
            case SSL_ERROR_WANT_READ:
            case SSL_ERROR_WANT_WRITE:
                return 0;
            case SSL_ERROR_ZERO_RETURN:  // close_notify, or a bare end of stream
                link.peerDone = true;
                return 0;
            default:
                return -1;
        }
    }

    // Sets the bytes a link holds for a request still arriving; the total
    // over all links.
    std::size_t count(Link& link, std::size_t bytes) {
        buffered_ += bytes;
        buffered_ -= link.counted;
        link.counted = bytes;
        return buffered_;
    }

    // Answers with the status `why` calls for, then drops whatever the
    // client still sends until the link closes.
    void refuse(Link& link, Result why) {
        const std::string reply =
            why == Result::headTooLarge   ? refusal(431, "Request Header Fields Too Large")
            : why == Result::bodyTooLarge ? refusal(413, "Payload Too Large")
            : why == Result::malformed
                ? refusal(400, "Bad Request")
                : refusal(503, "Service Unavailable");  // over the buffer limit
        link.sendNow(reply);
        ::shutdown(link.fd, SHUT_WR);
        count(link, 0);
        link.in = std::string();
        link.closing = true;
        link.deadline = Clock::now() + kLinger;
        if (link.peerDone) return close(link);
        std::lock_guard lock(mutex_);
        link.busy = false;
        arm(link, EPOLL_CTL_MOD);
    }

    void close(Link& link) {
        count(link, 0);
        std::lock_guard lock(mutex_);
        links_.erase(link.fd);  // the socket leaves the epoll set as it closes
    }

    SimHttpServer& server_;
    const TransportLimits limits_;
    const int epollFd_;
    const int stopFd_;
    std::thread reactor_;
    std::atomic<std::size_t> buffered_{0};  // held for requests still arriving

    std::mutex mutex_;
    // A link marked busy is its worker's alone; the others wait in epoll.
    std::unordered_map<int, std::unique_ptr<Link>> links_;
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
TransportStats SimHttpServer::stats() const {
    TransportStats stats;
    stats.accepted = accepted_;
    stats.handshakes = handshakes_;
    stats.failedHandshakes = failedHandshakes_;
    std::lock_guard lock(hubMutex_);
    if (ConnectionHub* hub = hub_) stats.open = hub->open();
    return stats;
}

std::size_t SimHttpServer::closeIdle() {
    std::lock_guard lock(hubMutex_);
    ConnectionHub* hub = hub_;
    return hub ? hub->closeIdle() : 0;
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

}  // namespace lumora::sim
