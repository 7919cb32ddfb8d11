#include "app/linux/file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

#include "app/app_settings.h"
#include "base/scoped_env.h"
#include "support/manual_executor.h"

using namespace lumora;
namespace fs = std::filesystem;

namespace {

class FileStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumora-store-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    void write(const std::string& text) {
        fs::create_directories(dir_);
        std::ofstream(dir_ / "defaults.json") << text;
    }
    std::string read() {
        std::ifstream in(dir_ / "defaults.json");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir_;
};

}  // namespace

TEST_F(FileStoreTest, KeepsKindsAcrossRestartsWithPrivateMode) {
    {
        JsonFileDefaultsStore s(dir_);
        s.setString("bridgeIP", "10.0.0.2");
        s.setString("bridgeUser", "secret");
        s.setInteger("keyIncrement", 30);
        s.setBool("showZones", false);
        s.remove("nothing");
    }
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "defaults.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);

    JsonFileDefaultsStore s(dir_);
    EXPECT_EQ(s.string("bridgeIP"), "10.0.0.2");
    EXPECT_EQ(s.integer("keyIncrement"), 30);
    EXPECT_TRUE(s.contains("showZones"));
    EXPECT_FALSE(s.boolean("showZones"));
    EXPECT_FALSE(s.string("keyIncrement")) << "an integer is not a string";
    s.remove("bridgeUser");
    EXPECT_FALSE(JsonFileDefaultsStore(dir_).contains("bridgeUser"));
    // Nothing but the settings file: no temporary or lock files left behind.
    std::vector<std::string> files;
    for (auto& e : fs::directory_iterator(dir_)) files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"defaults.json"});
}

TEST_F(FileStoreTest, CorruptFileIsKeptAsideAndTheProgramStartsWithDefaults) {
    const std::string deep =
        "{\"a\":" + std::string(kMaxSettingsDepth, '[') + std::string(kMaxSettingsDepth, ']') + "}";
    const std::string large = "{\"pad\":\"" + std::string(kMaxSettingsFileSize, 'x') + "\"}";
    struct Case {
        const char* what;
        std::string text;
        std::uintmax_t sparseSize;  // a file of zeros that takes no disk
        std::string message;
    } cases[] = {
        {"not JSON", "{\"bridgeIP\": \"10.0.0.2\", trailing garbage", 0, "could not be read"},
        {"no object", "[1,2,3]", 0, "could not be read"},
        {"nested too deep", deep, 0, "could not be read"},
        {"over the size cap", large, 0, "is " + std::to_string(large.size()) + " bytes"},
        // Refused by its size alone: a reader that read it first would spend
        // seconds and fail on its content.
        {"huge", "", 64u << 20, "is 67108864 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write(c.text);
        if (c.sparseSize) fs::resize_file(dir_ / "defaults.json", c.sparseSize);
        ManualExecutor exec;
        testing::internal::CaptureStderr();
        auto store = std::make_shared<JsonFileDefaultsStore>(dir_);
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(store->movedAside());
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(fs::file_size(*store->movedAside()), c.sparseSize ? c.sparseSize : c.text.size());
        if (!c.sparseSize && c.text.size() < 100) {
            std::ifstream kept(*store->movedAside());
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), c.text);
        }
        EXPECT_FALSE(fs::exists(dir_ / "defaults.json"));

        AppSettings s(store, exec);
        s.loadFromStore();
        EXPECT_EQ(s.hueIP(), "");
        EXPECT_TRUE(s.showColorBarsForRooms());
        EXPECT_TRUE(JsonFileDefaultsStore(dir_).boolean("showColorBarsForRooms"));
        exec.runPending();
        fs::remove_all(dir_);
    }
}

// What is just inside the limits is read, kept and written back inside them:
// the store never writes a file it would refuse at the next start.
TEST_F(FileStoreTest, AFileAtTheLimitsIsKeptAndWrittenWithinThem) {
    // A long string fills the file; indented, a list of small numbers takes
    // three times its compact size and so no longer fits.
    std::string text = "{\"a\":" + std::string(kMaxSettingsDepth - 1, '[') +
                       std::string(kMaxSettingsDepth - 1, ']') + ",\"b\":[0";
    for (int i = 0; i < 500; ++i) text += ",0";
    text += "],\"pad\":\"";
    text += std::string(kMaxSettingsFileSize - 100 - text.size(), 'x') + "\"}";
    text.insert(text.size() - 1, std::string(kMaxSettingsFileSize - text.size(), ' '));
    ASSERT_EQ(text.size(), kMaxSettingsFileSize);
    write(text);
    JsonFileDefaultsStore s(dir_);
    EXPECT_FALSE(s.movedAside());
    EXPECT_TRUE(s.trySet("showZones", DefaultsValue(true)));
    EXPECT_LE(fs::file_size(dir_ / "defaults.json"), kMaxSettingsFileSize);
    JsonFileDefaultsStore again(dir_);
    EXPECT_FALSE(again.movedAside());
    EXPECT_TRUE(again.boolean("showZones"));

    // One more value and it would not fit at all: refused, the file as it was.
    const std::string before = read();
    testing::internal::CaptureStderr();
    StoreResult r = again.trySetString("pad", std::string(kMaxSettingsFileSize, 'x'));
    testing::internal::GetCapturedStderr();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.problem->kind, StoreProblem::Kind::WriteFailed);
    EXPECT_EQ(read(), before);
}

// A write killed before its rename leaves its temporary file: those of
// processes that are gone are removed at start, nothing else is.
TEST_F(FileStoreTest, StaleTemporaryFilesOfDeadWritersAreRemovedAtStart) {
    fs::create_directories(dir_);
    auto deadPid = [] {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(0);
        ::waitpid(pid, nullptr, 0);
        return std::to_string(pid);
    };
    const std::string dead = deadPid(), deadToo = deadPid();
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    auto make = [&](const std::string& name, bool aged = true) {
        std::ofstream(dir_ / name) << "partial";
        if (aged) fs::last_write_time(dir_ / name, old);
    };
    make("defaults.json.tmp-" + dead);
    const std::vector<std::string> kept = {
        "defaults.json.tmp-" + std::to_string(::getpid()),  // a live writer
        "defaults.json.tmp-0" + dead,
        "defaults.json.tmp-" + dead + "x",
        "defaults.json.tmp-",
        "other.json.tmp-" + dead,
        "defaults.json.tmp-" + deadToo,  // just written: maybe a writer we cannot see
    };
    for (const auto& name : kept) make(name, name != kept.back());
    JsonFileDefaultsStore s(dir_);
    std::vector<std::string> files;
    for (auto& e : fs::directory_iterator(dir_)) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
}

TEST_F(FileStoreTest, WhatTheKindsCannotHoldIsReadSafelyAndKeptOnWrites) {
    // Past the signed range: clamped, not wrapped to a negative number.
    write(R"({"huge":18446744073709551615,"showZones":true,"future":{"nested":[1,2]}})");
    JsonFileDefaultsStore s(dir_);
    EXPECT_FALSE(s.contains("future")) << "typed reads see only the four kinds";
    EXPECT_GT(s.integer("huge"), std::numeric_limits<std::int64_t>::max() / 2);
    // Bytes that are not UTF-8 do not stop the write, nor lose the other keys.
    s.setString("name", std::string("Lamp \xff"));
    JsonFileDefaultsStore again(dir_);
    EXPECT_FALSE(again.movedAside());
    EXPECT_EQ(again.string("name"), "Lamp \xef\xbf\xbd");
    EXPECT_TRUE(again.boolean("showZones"));
    EXPECT_NE(read().find("nested"), std::string::npos);
}

TEST(ConfigDirectory, HonoursOverrides) {
    ScopedEnv own("LUMORA_CONFIG_DIR", "/tmp/lumora-x");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/tmp/xdg");
    EXPECT_EQ(configDirectory(), fs::path("/tmp/lumora-x"));
    own.set(std::nullopt);
    EXPECT_EQ(configDirectory(), fs::path("/tmp/xdg/lumora"));
    EXPECT_EQ(configDirectory("lumora-demo"), fs::path("/tmp/xdg/lumora-demo"));
}

TEST_F(FileStoreTest, WritesOnlyWhatChangesInTheFile) {
    JsonFileDefaultsStore tray(dir_);
    tray.setString("bridgeIP", "10.0.0.2");
    tray.setString("bridgeIP", "10.0.0.2");
    tray.remove("absent");
    EXPECT_EQ(tray.writes(), 1u);

    // The same look in another kind is a change.
    tray.setInteger("keyIncrement", 1);
    tray.setBool("keyIncrement", true);
    tray.setString("keyIncrement", "1");
    tray.set("keyIncrement", DefaultsValue(1.0));
    tray.set("keyIncrement", DefaultsValue(1.0));
    EXPECT_EQ(tray.writes(), 5u);
    EXPECT_EQ(JsonFileDefaultsStore(dir_).object("keyIncrement"), DefaultsValue(1.0));

    // Compared with the file, not with the copy in memory: what another
    // program changed meanwhile is set back, and a file removed is written again.
    // What the other program wrote is kept beside it: two programs sharing
    // the file lose nothing.
    JsonFileDefaultsStore ctl(dir_);
    ctl.setString("bridgeIP", "10.0.0.3");
    ctl.setString("bridgeUser", "paired-from-ctl");
    tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.writes(), 6u);
    EXPECT_EQ(JsonFileDefaultsStore(dir_).string("bridgeIP"), "10.0.0.2");
    EXPECT_EQ(JsonFileDefaultsStore(dir_).string("bridgeUser"), "paired-from-ctl");
    fs::remove(dir_ / "defaults.json");
    tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.writes(), 7u);
    EXPECT_EQ(JsonFileDefaultsStore(dir_).integer("keyIncrement"), 1);
    ctl.remove("bridgeIP");
    ctl.remove("bridgeIP");
    EXPECT_EQ(ctl.writes(), 3u);
    EXPECT_FALSE(JsonFileDefaultsStore(dir_).contains("bridgeIP"));
}

// Once the file has settled, setting what it already holds reads nothing;
// a change to the file, in place or by replacement, is still seen.
TEST_F(FileStoreTest, ASettledFileIsNotReadAgainForWhatItHoldsYetEveryChangeIsSeen) {
    const fs::path file = dir_ / "defaults.json";
    JsonFileDefaultsStore tray(dir_);
    tray.setString("bridgeIP", "10.0.0.2");
    auto settle = [&] {
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
        tray.setString("bridgeIP", "10.0.0.2");
    };
    settle();
    const auto reads = tray.reads();
    for (int i = 0; i < 5; ++i) tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.reads(), reads);
    EXPECT_EQ(tray.writes(), 1u);

    // Edited in place to the same length.
    std::string text = read();
    text.replace(text.find("10.0.0.2"), 8, "10.0.0.9");
    std::ofstream(file) << text;
    tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.writes(), 2u);
    EXPECT_EQ(JsonFileDefaultsStore(dir_).string("bridgeIP"), "10.0.0.2");

    settle();
    JsonFileDefaultsStore(dir_).setString("bridgeIP", "10.0.0.3");
    tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.writes(), 3u);

    settle();
    fs::remove(file);
    tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.writes(), 4u);
    EXPECT_EQ(JsonFileDefaultsStore(dir_).string("bridgeIP"), "10.0.0.2");
}
