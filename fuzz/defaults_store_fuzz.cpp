// Any bytes as the settings file: the store must start, keep a bad file aside
// and write a readable file afterwards.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/linux/file_store.h"
#include "scratch_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    static const ScratchDir scratch("defaults");
    const fs::path dir = scratch.path / "config";
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "defaults.json", std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    {
        lumora::JsonFileDefaultsStore store(dir);
        store.string("bridgeIP");
        store.integer("keyIncrement");
        store.boolean("showZones");
        store.setString("bridgeUser", "fuzz");
    }
    lumora::JsonFileDefaultsStore again(dir);
    if (again.movedAside() || again.string("bridgeUser") != "fuzz") std::abort();
    return 0;
}
