#pragma once
// Runs a script that ships with the program through the system's shell and
// returns what it wrote to standard output.

#include <filesystem>
#include <string>
#include <vector>

namespace lumora {

// Blocks until the script ends. `directory` holds the program's scripts; a
// missing script runs nothing and gives "". `environment` entries are
// KEY=VALUE, added to this process's environment. Output that is not valid
// UTF-8 has its bad bytes replaced by U+FFFD.
std::string runScript(const std::filesystem::path& directory, const std::string& name,
                      const std::vector<std::string>& args = {},
                      const std::vector<std::string>& environment = {});

}  // namespace lumora
