#pragma once
// Child processes for the namespace tests: started inside a network namespace, with a
// private /run if asked, output to a log file, always ended by their owner.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumora::proc {

struct SpawnOptions {
    std::vector<std::string> argv;  // argv[0]: the program's path
    std::vector<std::string> env;   // the whole environment, "NAME=value"
    std::string logPath;            // standard output and error; empty: /dev/null
    std::string netns;              // a name under /run/netns to enter; empty: stay
    // Bind mounts made in a mount namespace of the child's own, e.g. a folder over /run.
    std::vector<std::pair<std::string, std::string>> binds;  // source, target
};

class Process {
  public:
    // Nullptr with `error` set when the program could not be started (namespace,
    // mounts, exec). The child is killed should this process die first.
    static std::unique_ptr<Process> spawn(const SpawnOptions& options, std::string* error);
    ~Process();  // terminate()
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // The exit status (or 128 + signal), or nullopt if still running after `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL if it has not ended within a second.
    void terminate();

  private:
    explicit Process(pid_t pid) : pid_(pid) {}
    bool reap(int flags);

    pid_t pid_;
    std::optional<int> status_;
};

// Runs a program to its end (at most `timeout`), returning its exit status and output.
int runProgram(const std::vector<std::string>& argv, std::string* output,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

std::string findProgram(const std::string& name);  // PATH, then the sbin folders; "" if none
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

// Polls `path` until it contains `text` (true), `owner` ends, or time runs out.
bool waitForText(const std::string& path, const std::string& text, Process* owner,
                 std::chrono::milliseconds timeout);

}  // namespace lumora::proc
