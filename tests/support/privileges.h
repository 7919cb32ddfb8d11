#pragma once
// Running part of a test as someone else: in a child process, which may drop
// root for `nobody` first (root reads and writes anything, so permission bits
// bind only for someone else).

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

namespace lumora::support {

// Ready for a case, or why it cannot run here.
using Enter = std::function<std::string(const std::filesystem::path& dir)>;

inline std::string stayAsWeAre(const std::filesystem::path&) {
    return "";
}

// Permission bits bind only for someone else than root.
inline std::string becomeNobody(const std::filesystem::path& dir) {
    if (::geteuid() != 0) return "";
    const passwd* pw = ::getpwnam("nobody");
    if (!pw) return "there is no user 'nobody' to drop root for";
    for (auto& e : std::filesystem::recursive_directory_iterator(dir))
        (void)::lchown(e.path().c_str(), pw->pw_uid, pw->pw_gid);
    if (::chown(dir.c_str(), pw->pw_uid, pw->pw_gid) != 0 || ::setgroups(0, nullptr) != 0 ||
        ::setgid(pw->pw_gid) != 0 || ::setuid(pw->pw_uid) != 0)
        return std::string("cannot become nobody: ") + std::strerror(errno);
    if (::access(dir.c_str(), W_OK | X_OK) != 0) return "nobody cannot reach " + dir.string();
    return "";
}

// Runs `body` in a child after `enter`; its failures are printed there and
// counted here. Returns why it could not run, or nothing.
inline std::string inChild(const std::filesystem::path& dir, const Enter& enter,
                           const std::function<void()>& body) {
    int report[2];
    if (::pipe(report) != 0) return "no pipe";
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(report[0]);
        const std::string why = enter(dir);
        if (!why.empty()) {
            (void)!::write(report[1], why.data(), why.size());
            ::_exit(77);
        }
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    ::close(report[1]);
    std::string why;
    char buf[256];
    for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) why.append(buf, size_t(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return why;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed: see above";
    return "";
}

}  // namespace lumora::support
