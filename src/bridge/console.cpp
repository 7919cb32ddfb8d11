#include "bridge/console.h"

#include <cstdio>

namespace lumora {

void consoleLine(const ConsoleSink& sink, const std::string& line) {
    if (sink) {
        sink(line);
        return;
    }
    // One call per line: lines from several threads do not interleave.
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace lumora
