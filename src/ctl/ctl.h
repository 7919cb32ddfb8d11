#pragma once
// lumora-ctl: the command-line client. Runs in-process so tests can call it.

#include <iosfwd>
#include <string>
#include <vector>

namespace lumora::ctl {

enum ExitCode { kDone = 0, kBridgeFailed = 1, kUsage = 2 };

// `args` without the program name. Output for people and scripts goes to
// `out`; errors and progress to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string usage();

}  // namespace lumora::ctl
