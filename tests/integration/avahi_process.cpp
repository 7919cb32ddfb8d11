#include "avahi_process.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace lumora::proc {
namespace {

using namespace std::chrono_literals;

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// After fork: only system calls from here on. A failure is reported to the parent as
// the step's number and errno over the pipe.
[[noreturn]] void childFail(int pipeFd, int step) {
    int report[2] = {step, errno};
    [[maybe_unused]] auto n = write(pipeFd, report, sizeof report);
    _exit(127);
}

const char* stepName(int step) {
    static const char* const names[] = {"start",
                                        "set the parent-death signal",
                                        "enter the network namespace",
                                        "make a mount namespace",
                                        "make mounts private",
                                        "bind-mount",
                                        "redirect output",
                                        "exec"};
    return step > 0 && step < 8 ? names[step] : names[0];
}

}  // namespace

std::unique_ptr<Process> Process::spawn(const SpawnOptions& options, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    if (options.argv.empty()) return fail("no program");
    std::vector<std::string> argv = options.argv, env = options.env;
    std::vector<char*> argvp = pointers(argv), envp = pointers(env);

    int nsFd = -1;
    if (!options.netns.empty()) {
        nsFd = open(("/run/netns/" + options.netns).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsFd < 0) return fail("open namespace " + options.netns + ": " + std::strerror(errno));
    }
    int logFd = open(options.logPath.empty() ? "/dev/null" : options.logPath.c_str(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0) {
        if (nsFd >= 0) close(nsFd);
        return fail("open " + options.logPath + ": " + std::strerror(errno));
    }
    int report[2];
    if (pipe2(report, O_CLOEXEC) < 0) return fail(std::string("pipe: ") + std::strerror(errno));

    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) < 0) childFail(report[1], 1);
        if (getppid() != parent) _exit(127);
        if (nsFd >= 0 && setns(nsFd, CLONE_NEWNET) < 0) childFail(report[1], 2);
        if (!options.binds.empty()) {
            if (unshare(CLONE_NEWNS) < 0) childFail(report[1], 3);
            // Private first, so the binds never show outside this child.
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0)
                childFail(report[1], 4);
            for (const auto& [source, target] : options.binds)
                if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) < 0)
                    childFail(report[1], 5);
        }
        if (dup2(logFd, 1) < 0 || dup2(logFd, 2) < 0) childFail(report[1], 6);
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, 0);
        execve(argvp[0], argvp.data(), envp.data());
        childFail(report[1], 7);
    }
    close(report[1]);
    close(logFd);
    if (nsFd >= 0) close(nsFd);
    if (pid < 0) {
        close(report[0]);
        return fail(std::string("fork: ") + std::strerror(errno));
    }
    int failure[2] = {0, 0};
    ssize_t n;
    do n = read(report[0], failure, sizeof failure);
    while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof failure)) {
        waitpid(pid, nullptr, 0);
        return fail(options.argv[0] + ": cannot " + stepName(failure[0]) + ": " +
                    std::strerror(failure[1]));
    }
    return std::unique_ptr<Process>(new Process(pid));
}

Process::~Process() {
    terminate();
}

bool Process::reap(int flags) {
    if (status_) return true;
    int raw = 0;
    pid_t r;
    do r = waitpid(pid_, &raw, flags);
    while (r < 0 && errno == EINTR);
    if (r != pid_) return false;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

bool Process::running() {
    return !reap(WNOHANG);
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(WNOHANG)) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
    return status_;
}

void Process::terminate() {
    if (status_) return;
    kill(pid_, SIGTERM);
    if (wait(1s)) return;
    kill(pid_, SIGKILL);
    reap(0);
}

int runProgram(const std::vector<std::string>& argv, std::string* output,
               std::chrono::milliseconds timeout) {
    char logTemplate[] = "/tmp/lumora-run-XXXXXX";
    int fd = mkstemp(logTemplate);
    if (fd < 0) return -1;
    close(fd);
    SpawnOptions options;
    options.argv = argv;
    options.env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    options.logPath = logTemplate;
    std::string error;
    auto process = Process::spawn(options, &error);
    int status = -1;
    if (process) {
        auto exit = process->wait(timeout);
        if (!exit) process->terminate();
        status = exit.value_or(-1);
    }
    if (output) *output = process ? readFile(logTemplate) : error;
    unlink(logTemplate);
    return status;
}

std::string findProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::stringstream folders(path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty()) continue;
        std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool waitForText(const std::string& path, const std::string& text, Process* owner,
                 std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (readFile(path).find(text) != std::string::npos) return true;
        if (owner && !owner->running()) return readFile(path).find(text) != std::string::npos;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

}  // namespace lumora::proc
