#pragma once
// A folder of the fuzz process's own, on tmpfs where there is one (the stores
// flush every write to disk), removed again when the process ends normally.
#include <unistd.h>

#include <filesystem>
#include <string>

class ScratchDir {
  public:
    explicit ScratchDir(const std::string& name) {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base =
            fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        path = base / ("lumora-fuzz-" + name + "-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path path;
};
