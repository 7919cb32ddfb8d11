#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "support/x11_support.h"  // findProgram

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

bool exited(pid_t pid) {
    siginfo_t info{};
    // WNOWAIT leaves a zombie that keeps the pid, and with it the group id,
    // from going to another process until we reap it.
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::optional<unsigned long long> processStartTime(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22) return std::stoull(field);
    }
    return std::nullopt;
}

std::unique_ptr<ChildProcess> ChildProcess::start(const Launch& launch, std::string* error) {
    std::string program = launch.argv.empty() ? std::string() : launch.argv[0];
    if (program.find('/') == std::string::npos) program = findProgram(program);
    if (program.empty() || access(program.c_str(), X_OK) != 0) {
        *error =
            "no " + (launch.argv.empty() ? std::string("program") : launch.argv[0]) + " to run";
        return nullptr;
    }
    // stdin is a socket so that writing to a child that died gives EPIPE
    // through MSG_NOSIGNAL instead of killing us with SIGPIPE.
    int in[2], out[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
        *error = "socketpair failed";
        return nullptr;
    }
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        *error = "pipe failed";
        return nullptr;
    }
    const int logFd = open(launch.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

    // Everything the child needs is made before fork: between fork and exec
    // a threaded process may only make system calls.
    std::vector<std::string> args = launch.argv;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = launch.env;
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // Should this process die without its destructors, the child is told
        // to go; it applies to this thread, the one that starts children.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        dup2(in[1], 0);
        dup2(out[1], 1);
        if (logFd >= 0) dup2(logFd, 2);
        if (launch.fd3 == 3) {
            fcntl(3, F_SETFD, 0);
        } else if (launch.fd3 >= 0) {
            dup2(launch.fd3, 3);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(in[1]);
    close(out[1]);
    if (logFd >= 0) close(logFd);
    if (pid < 0) {
        close(in[0]);
        close(out[0]);
        *error = "fork failed";
        return nullptr;
    }
    setpgid(pid, pid);  // both sides, so the group exists whoever runs first

    std::unique_ptr<ChildProcess> child(new ChildProcess());
    child->log_ = launch.log;
    child->pid_ = pid;
    child->stdin_ = in[0];
    child->stdout_ = out[0];
    child->stopFd_ = eventfd(0, EFD_CLOEXEC);
    child->reader_ = std::thread([c = child.get()] { c->readLoop(); });
    return child;
}

ChildProcess::~ChildProcess() {
    terminate();
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(stopFd_, &one, sizeof one);
    if (reader_.joinable()) reader_.join();
    for (int fd : {stdin_, stdout_, stopFd_})
        if (fd >= 0) close(fd);
}

void ChildProcess::readLoop() {
    pollfd fds[2] = {{stdout_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) break;
        char buffer[4096];
        const ssize_t n = read(stdout_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        partial_.append(buffer, static_cast<size_t>(n));
        for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
            lines_.push_back(partial_.substr(0, end));
            taken_.push_back(false);
            partial_.erase(0, end + 1);
        }
        arrived_.notify_all();
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    arrived_.notify_all();
}

bool ChildProcess::send(const std::string& line) {
    const std::string text = line + "\n";
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(stdin_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::optional<std::string> ChildProcess::waitLine(
    const std::function<bool(const std::string&)>& match, std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    std::unique_lock lock(mutex_);
    auto take = [&]() -> std::optional<std::string> {
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (!taken_[i] && match(lines_[i])) {
                taken_[i] = true;
                return lines_[i];
            }
        }
        return std::nullopt;
    };
    for (;;) {
        if (auto line = take()) return line;
        if (closed_) return std::nullopt;
        // One last look at what came with the time-out.
        if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout) return take();
    }
}

std::optional<std::string> ChildProcess::waitLine(const std::string& prefix,
                                                  std::chrono::milliseconds limit) {
    return waitLine([&](const std::string& line) { return line.starts_with(prefix); }, limit);
}

std::optional<std::string> ChildProcess::ask(const std::string& line,
                                             const std::vector<std::string>& replies,
                                             std::chrono::milliseconds limit) {
    if (!send(line)) return std::nullopt;
    return waitLine(
        [&](const std::string& l) {
            return std::any_of(replies.begin(), replies.end(), [&](const std::string& r) {
                return l == r || l.starts_with(r + " ");
            });
        },
        limit);
}

std::vector<std::string> ChildProcess::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string ChildProcess::stderrText() const {
    return readFile(log_);
}

bool ChildProcess::running() {
    return pid_ > 0 && !status_ && !exited(pid_);
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds limit) {
    if (status_) return status_;
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = SteadyClock::now() + limit;
    while (!exited(pid_)) {
        if (SteadyClock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    terminate();  // ends what is left of the group, then reaps
    return status_;
}

void ChildProcess::terminate(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || status_) return;
    kill(-pid_, SIGTERM);
    const auto deadline = SteadyClock::now() + grace;
    while (!exited(pid_) && SteadyClock::now() < deadline) std::this_thread::sleep_for(5ms);
    // The leader is alive or a zombie, so the group is still the one we made.
    kill(-pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace lumora::testing
