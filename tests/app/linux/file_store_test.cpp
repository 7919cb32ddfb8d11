#include "app/linux/file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    // Not JSON, or JSON that is no object.
    for (const std::string text : {"{\"bridgeIP\": \"10.0.0.2\", trailing garbage", "[1,2,3]"}) {
        SCOPED_TRACE(text);
        write(text);
        ManualExecutor exec;
        testing::internal::CaptureStderr();
        auto store = std::make_shared<JsonFileDefaultsStore>(dir_);
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(store->movedAside());
        EXPECT_NE(err.find("could not be read"), std::string::npos);
        std::ifstream kept(*store->movedAside());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), text);
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

TEST_F(FileStoreTest, TwoProgramsSharingTheFileLoseNothing) {
    JsonFileDefaultsStore tray(dir_);
    JsonFileDefaultsStore ctl(dir_);
    tray.setBool("showZones", true);
    ctl.setString("bridgeUser", "paired-from-ctl");
    tray.setInteger("keyIncrement", 20);
    JsonFileDefaultsStore fresh(dir_);
    EXPECT_TRUE(fresh.boolean("showZones"));
    EXPECT_EQ(fresh.string("bridgeUser"), "paired-from-ctl");
    EXPECT_EQ(fresh.integer("keyIncrement"), 20);
}

TEST_F(FileStoreTest, EntriesOfOtherKindsSurviveWrites) {
    write(R"({"future":{"nested":[1,2]},"showZones":true})");
    JsonFileDefaultsStore s(dir_);
    EXPECT_FALSE(s.contains("future")) << "typed reads see only the four kinds";
    s.setBool("showZones", false);
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
    JsonFileDefaultsStore ctl(dir_);
    ctl.setString("bridgeIP", "10.0.0.3");
    tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.writes(), 6u);
    EXPECT_EQ(JsonFileDefaultsStore(dir_).string("bridgeIP"), "10.0.0.2");
    fs::remove(dir_ / "defaults.json");
    tray.setString("bridgeIP", "10.0.0.2");
    EXPECT_EQ(tray.writes(), 7u);
    EXPECT_EQ(JsonFileDefaultsStore(dir_).integer("keyIncrement"), 1);
    ctl.remove("bridgeIP");
    ctl.remove("bridgeIP");
    EXPECT_EQ(ctl.writes(), 2u);
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
