#pragma once
// What the benchmarks that run a bridge in a process of its own share: CPU
// time, and one line at a time over a pipe.

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lumora::bench {

// User and system CPU of RUSAGE_SELF or RUSAGE_CHILDREN, in seconds.
inline double cpuSeconds(int who = RUSAGE_SELF) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
}

inline void writeLine(int fd, const std::string& line) {
    const std::string l = line + "\n";
    if (::write(fd, l.data(), l.size()) != static_cast<ssize_t>(l.size())) std::_Exit(3);
}

}  // namespace lumora::bench
