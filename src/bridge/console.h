#pragma once
// Diagnostic lines (failed reads, discovery) go to the sink a program hands
// down, or to standard output, flushed, where it gave none. lumora-ctl sends
// them to standard error and keeps standard output for its results.

#include <functional>
#include <string>

namespace lumora {

// May be called from workers and the DNS-SD back-end's thread at once: a sink
// that is not safe for that must lock.
using ConsoleSink = std::function<void(const std::string&)>;

void consoleLine(const ConsoleSink& sink, const std::string& line);

}  // namespace lumora
