// Any bytes as the autostart entry found at start-up: repointing it at the
// program keeps the user's on/off choice, and afterwards it names the program
// (with every character that needs quoting in its path), so a second start
// leaves it alone.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/linux/launch_at_login.h"

namespace {

namespace fs = std::filesystem;

// On tmpfs where there is one: the entry is written with fsync each time.
fs::path scratch() {
    std::error_code ec;
    const fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    return base / ("lumora-fuzz-autostart-" + std::to_string(::getpid()));
}

struct Setup {
    fs::path config;
    fs::path program;
    Setup() : config(scratch() / "config"), program(scratch() / "bin \"x\"" / "lumora $a`b' %f\\") {
        fs::create_directories(config / "autostart");
        fs::create_directories(program.parent_path());
        std::ofstream(program) << "";
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Setup setup;
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumora::desktopExecProgram(text);

    lumora::LaunchAtLogin entry(setup.config, setup.program);
    std::ofstream(entry.entryFile(), std::ios::binary | std::ios::trunc) << text;
    const bool enabled = entry.isEnabled();
    const bool rewritten = entry.migrateIfNeeded();
    if (entry.isEnabled() != enabled) std::abort();
    if (rewritten && entry.migrateIfNeeded()) std::abort();
    return 0;
}
