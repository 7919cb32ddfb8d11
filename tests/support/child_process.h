#pragma once
// A program a test starts: in a process group of its own, told to stop should
// the test process die, stdin a socket for lines, stdout read line by line on
// a thread of its own, stderr into a log file. No toolkit.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumora::testing {

// Field 22 of /proc/PID/stat: tells a process from a later one with its pid.
std::optional<unsigned long long> processStartTime(pid_t pid);

// A program started inside a session: stdin is ours to write lines to,
// stdout is read line by line as it comes, stderr goes to a log file.
class ChildProcess {
  public:
    struct Launch {
        std::string name;               // for messages and the log file name
        std::vector<std::string> argv;  // argv[0] is looked up on PATH
        std::vector<std::string> env;   // KEY=VALUE, the whole environment
        std::filesystem::path log;      // where stderr goes
        int fd3 = -1;                   // handed to the child as its fd 3
    };
    // Nothing (and `error` says why) when the program cannot be started.
    static std::unique_ptr<ChildProcess> start(const Launch& launch, std::string* error);
    // Kills the process group.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Writes `line` and a newline to the child's stdin.
    bool send(const std::string& line);
    // Takes the first line not taken yet that `match` accepts, waiting up to
    // `limit`. Lines it passes over stay there for later waits, so replies
    // and unsolicited lines can be waited for in any order.
    std::optional<std::string> waitLine(const std::function<bool(const std::string&)>& match,
                                        std::chrono::milliseconds limit);
    // The same for lines that start with `prefix`.
    std::optional<std::string> waitLine(const std::string& prefix,
                                        std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Sends a command and takes the reply: the next line starting with one of
    // `replies` (by default "OK" or "ERR").
    std::optional<std::string> ask(const std::string& line,
                                   const std::vector<std::string>& replies = {"OK", "ERR"},
                                   std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Every line read so far, taken or not.
    std::vector<std::string> lines() const;
    std::string stderrText() const;

    bool running();
    // The exit status (or 128 + signal) once the child has ended.
    std::optional<int> waitExit(std::chrono::milliseconds limit);
    // SIGTERM to the group, SIGKILL after `grace`, then reaped.
    void terminate(std::chrono::milliseconds grace = std::chrono::seconds(2));

  private:
    ChildProcess() = default;
    void readLoop();

    std::filesystem::path log_;
    pid_t pid_ = -1;
    std::optional<int> status_;
    int stdin_ = -1;
    int stdout_ = -1;
    int stopFd_ = -1;
    std::thread reader_;

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> lines_;
    std::vector<bool> taken_;
    std::string partial_;
    bool closed_ = false;
};

}  // namespace lumora::testing
