// Any bytes as the autostart entry found at start-up: repointing it at the
// program keeps the user's on/off choice, and afterwards it names the program
// (with every character that needs quoting in its path), so a second start
// leaves it alone.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/linux/launch_at_login.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

struct Setup {
    ScratchDir scratch{"autostart"};
    fs::path config = scratch.path / "config";
    fs::path program = scratch.path / "bin \"x\"" / "lumora $a`b' %f\\";
    Setup() {
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
