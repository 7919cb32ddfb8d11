#include "simulator/http_transport.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumora::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A waiting connection looks this often whether others need its worker.
constexpr milliseconds kYieldCheck{100};
// Replies up to this size are gathered and sent in one write; larger pieces
// (the huge fault) go out as they come.
constexpr std::size_t kGatherLimit = 256 * 1024;

thread_local int tlsSocket = -1;

milliseconds toMillis(time_t sec, time_t usec) {
    return milliseconds(sec * 1000 + usec / 1000);
}

}  // namespace

// Starts a worker whenever a connection finds none free, up to a limit; a
// worker stays for the next connection once its own has closed.
class WorkerPool final : public httplib::TaskQueue {
  public:
    explicit WorkerPool(std::size_t maxWorkers) : max_(std::max<std::size_t>(maxWorkers, 1)) {}
    ~WorkerPool() override { shutdown(); }

    void enqueue(std::function<void()> job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() > idle_ && workers_.size() < max_) {
            workers_.emplace_back([this] { work(); });
        } else {
            wake_.notify_one();
        }
    }

    // Runs what is queued, then joins every worker.
    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& worker : workers_) {
            if (worker.joinable()) worker.join();
        }
    }

    // A connection is queued with every worker taken.
    bool starved() const {
        std::lock_guard lock(mutex_);
        return jobs_.size() > idle_ && workers_.size() >= max_;
    }

  private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (jobs_.empty()) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const std::size_t max_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> workers_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

namespace {

enum class Wait { ready, timedOut, woken };

// One accepted connection as the library's request parser sees it. Reads are
// buffered (the parser reads header lines byte by byte); writes are gathered
// until flush(), so headers and body leave together.
class Connection final : public httplib::Stream {
  public:
    Connection(int sock, int wakeFd, milliseconds readTimeout, milliseconds writeTimeout)
        : sock_(sock), wakeFd_(wakeFd), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

    bool is_readable() const override {
        return inPos_ < inEnd_ || waitFor(POLLIN, readTimeout_) == Wait::ready;
    }
    bool is_writable() const override { return waitFor(POLLOUT, writeTimeout_) == Wait::ready; }

    ssize_t read(char* ptr, std::size_t size) override {
        // Whatever is gathered goes first: the peer may wait for it
        // ("100 Continue") before it sends more.
        if (!flush()) return -1;
        if (inPos_ == inEnd_) {
            if (waitFor(POLLIN, readTimeout_) != Wait::ready) return -1;
            ssize_t n;
            do {
                n = ::recv(sock_, in_, sizeof in_, 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            inPos_ = 0;
            inEnd_ = static_cast<std::size_t>(n);
        }
        const std::size_t count = std::min(size, inEnd_ - inPos_);
        std::memcpy(ptr, in_ + inPos_, count);
        inPos_ += count;
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
    socket_t socket() const override { return sock_; }

    bool flush() {
        if (out_.empty()) return true;
        const bool sent = sendAll(out_.data(), out_.size());
        out_.clear();
        return sent;
    }

    // Until the next request starts (bytes already buffered count), the
    // keep-alive time passes, or `yield` says another connection needs the worker.
    Wait waitForRequest(milliseconds keepAlive, const std::function<bool()>& yield) const {
        if (inPos_ < inEnd_) return Wait::ready;
        const auto deadline = Clock::now() + keepAlive;
        for (;;) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return Wait::timedOut;
            Wait got = waitFor(POLLIN, std::min(left, kYieldCheck));
            if (got != Wait::timedOut) return got;
            if (yield()) return Wait::timedOut;
        }
    }

  private:
    // Readiness of the socket, or the server's wake-up, whichever comes first.
    // Hang-up and errors count as ready: the next read or write reports them.
    Wait waitFor(short events, milliseconds timeout) const {
        pollfd fds[2] = {{sock_, events, 0}, {wakeFd_, POLLIN, 0}};
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

    bool sendAll(const char* data, std::size_t size) const {
        while (size > 0) {
            ssize_t n = ::send(sock_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (waitFor(POLLOUT, writeTimeout_) != Wait::ready) return false;
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
        if (query(sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
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

    const int sock_;
    const int wakeFd_;
    const milliseconds readTimeout_;
    const milliseconds writeTimeout_;
    char in_[16384];
    std::size_t inPos_ = 0;
    std::size_t inEnd_ = 0;
    std::string out_;
};

}  // namespace

SimHttpServer::SimHttpServer(std::size_t maxWorkers)
    : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    new_task_queue = [this, maxWorkers]() -> httplib::TaskQueue* {
        auto* pool = new WorkerPool(maxWorkers);
        pool_ = pool;
        return pool;
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
    // Replies leave in one write; waiting for the peer's delayed ACK before
    // the next would only add latency.
    int yes = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    Connection connection(sock, wakeFd_, toMillis(read_timeout_sec_, read_timeout_usec_),
                          toMillis(write_timeout_sec_, write_timeout_usec_));
    WorkerPool* pool = pool_;
    auto yield = [pool] { return pool != nullptr && pool->starved(); };
    const milliseconds keepAlive = toMillis(keep_alive_timeout_sec_, 0);

    tlsSocket = sock;
    bool served = true;
    for (std::size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET;
         --left) {
        if (connection.waitForRequest(keepAlive, yield) != Wait::ready) break;
        bool closed = false;
        served = process_request(connection, left == 1, closed, nullptr);
        // Also after a failed reply: a deliberately cut one must still go out.
        const bool flushed = connection.flush();
        if (!served || !flushed || closed) break;
    }
    tlsSocket = -1;

    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}

}  // namespace lumora::sim
