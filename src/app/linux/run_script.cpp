#include "app/linux/run_script.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "base/utf8.h"

extern char** environ;

namespace lumora {

std::string runScript(const std::filesystem::path& directory, const std::string& name,
                      const std::vector<std::string>& args,
                      const std::vector<std::string>& environment) {
    const std::string rule(39, '-');
    std::printf("%s\n-----DEPRECATED USE OF RUN_SCRIPT: %s\n%s\n", rule.c_str(), name.c_str(),
                rule.c_str());
    std::fflush(stdout);

    std::error_code ec;
    const std::filesystem::path path = directory / name;
    if (name.empty() || !std::filesystem::is_regular_file(path, ec)) return {};

    std::vector<std::string> argv{"/usr/bin/env", "sh", path.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);

    // This environment with the extra entries on top.
    std::map<std::string, std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string kv = *e;
        const auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv;
    }
    for (const auto& kv : environment) {
        const auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv;
    }
    std::vector<std::string> envStrings;
    for (auto& [key, kv] : env) envStrings.push_back(kv);
    std::vector<char*> envp;
    for (auto& kv : envStrings) envp.push_back(kv.data());
    envp.push_back(nullptr);

    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipefd[1]);
    std::string output;
    if (rc == 0) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(pipefd[0], buffer, sizeof buffer);
            if (n > 0) {
                output.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    close(pipefd[0]);
    return withInvalidUtf8Replaced(output);
}

}  // namespace lumora
