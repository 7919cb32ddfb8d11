// Runs a fuzz target's LLVMFuzzerTestOneInput over saved inputs, without
// libFuzzer: every file of each folder given (in name order) and every file
// given. Any compiler builds it, so the suite replays the corpora everywhere.
// A crash or a sanitizer report fails the run, and so does a folder with no
// inputs: a corpus that went missing must not pass.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
// Present only when a sanitizer runtime is linked.
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)());

namespace {

namespace fs = std::filesystem;

// The input being run, for the crash message; written before each run so the
// signal handler only reads it.
char current[4096];
struct sigaction previous[NSIG];

void sayCurrent() {
    const char head[] = "replay: failed on input ";
    (void)!::write(2, head, sizeof head - 1);
    (void)!::write(2, current, std::strlen(current));
    (void)!::write(2, "\n", 1);
}

// Names the input, then hands the signal to the handler that was there
// before (the sanitizer's or the default): a fault comes again as the
// instruction runs again, and abort() raises once more by itself.
void onSignal(int sig) {
    sayCurrent();
    ::sigaction(sig, &previous[sig], nullptr);
}

void watchSignals() {
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, &previous[sig]);
    }
    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(sayCurrent);
}

bool runFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string name = file.string();
    std::memset(current, 0, sizeof current);
    std::memcpy(current, name.data(), std::min(name.size(), sizeof current - 1));
    // A block of exactly the input's size, as libFuzzer gives: a read past
    // the end is caught, and an empty input still has a valid pointer.
    const std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size()]);
    std::memcpy(data.get(), bytes.data(), bytes.size());
    LLVMFuzzerTestOneInput(data.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER-OR-FILE...\n", argv[0]);
        return 2;
    }
    watchSignals();
    std::size_t total = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code ec;
        std::vector<fs::path> files;
        if (fs::is_directory(arg, ec)) {
            for (const auto& entry : fs::directory_iterator(arg, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            if (files.empty()) {
                std::fprintf(stderr, "replay: no inputs in %s\n", arg.c_str());
                return 1;
            }
        } else if (fs::is_regular_file(arg, ec)) {
            files.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", arg.c_str());
            return 1;
        }
        for (const auto& file : files) {
            if (!runFile(file)) return 1;
            ++total;
        }
    }
    std::printf("replay: %zu inputs ran\n", total);
    return 0;
}
