// Settings that cannot be kept, with both programs: a settings file nobody
// may read stays exactly as it is through `lumora-ctl pair` and a start of
// the tray program, and each says so; a pairing whose user name cannot be
// stored hands that name over once. The programs run as `nobody` (root reads
// and writes anything) in a child process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "base/scoped_env.h"
#include "ctl/ctl.h"
#include "simulator/sim_server.h"
#include "support/child_process.h"
#include "support/privileges.h"

using namespace lumora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kSettings = R"({"bridgeIP": "10.0.0.2", "lightOrder": "3,1,2"})";

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bytes, inode, mode and modification time of the file, and the names beside
// it. (Not the change time: dropping root hands the file to nobody.)
std::string fingerprint(const fs::path& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) return "missing";
    std::ostringstream out;
    out << st.st_ino << ' ' << st.st_mode << ' ' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec
        << " [";
    for (const auto& e : fs::directory_iterator(file.parent_path()))
        out << e.path().filename().string() << ' ';
    return out.str() + "] " + readText(file);
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class SettingsFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() == 0 && !::getpwnam("nobody")) GTEST_SKIP() << "no user 'nobody'";
        fs::remove_all(base_);
        fs::create_directories(dir_);
        fs::create_directories(elsewhere_);
        std::ofstream(file()) << kSettings;
        sim::ServerOptions options;
        options.linkButtonPressed = true;
        // Plain HTTP only: the children forked below then never start TLS,
        // whose library locks another thread of this process may hold.
        options.model = sim::Generation::BSB001;
        sim_ = std::make_unique<sim::SimServer>(options);
        ASSERT_TRUE(sim_->start());
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(base_, ec);
    }
    fs::path file() const { return dir_ / "defaults.json"; }

    fs::path base_ =
        fs::temp_directory_path() / ("lumora-settings-fault-" + std::to_string(::getpid()));
    fs::path dir_ = base_ / "config";
    // Caches and the like: a folder that nobody cannot write.
    fs::path elsewhere_ = base_ / "elsewhere";
    ScopedEnv config_{"LUMORA_CONFIG_DIR", dir_.string()};
    ScopedEnv cache_{"XDG_CACHE_HOME", elsewhere_.string()};
    std::unique_ptr<sim::SimServer> sim_;
};

}  // namespace

TEST_F(SettingsFaultTest, PairingThatCannotStoreHandsTheUserNameOverOnce) {
    struct Case {
        const char* what;
        std::function<void()> spoil;  // run as nobody, before pairing
        std::string says;
    } cases[] = {
        {"read-only folder",
         [&] { fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec); },
         "but cannot write settings to " + file().string() + ": permission denied"},
        {"unreadable file", [&] { fs::permissions(file(), fs::perms::none); },
         "but cannot read " + file().string() + ": permission denied"},
    };
    std::vector<std::string> skipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::permissions(file(), fs::perms::owner_read | fs::perms::owner_write, ec);
        const std::string why = support::inChild(dir_, support::becomeNobody, [&] {
            c.spoil();
            const std::string before = fingerprint(file());
            std::ostringstream out, err;
            ::testing::internal::CaptureStderr();
            const int rc = ctl::run({"pair", sim_->address()}, out, err);
            ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(rc, 1) << err.str();
            EXPECT_NE(
                err.str().find("paired with the bridge at " + sim_->address() + ", " + c.says),
                std::string::npos)
                << err.str();
            EXPECT_EQ((out.str() + err.str()).find("Paired"), std::string::npos);
            // Standard output holds the user name alone, and nothing else
            // holds it.
            const std::string user = out.str().substr(0, out.str().find('\n'));
            EXPECT_EQ(out.str(), user + "\n");
            ASSERT_EQ(user.size(), 40u) << out.str();
            EXPECT_EQ(count(out.str() + err.str(), user), 1u);
            EXPECT_EQ(fingerprint(file()), before);

            // It is the real one: it reads the lights.
            std::ostringstream out2, err2;
            EXPECT_EQ(ctl::run({"--bridge", sim_->address(), "--user", user, "lights"}, out2, err2),
                      0)
                << err2.str();
        });
        if (!why.empty()) skipped.push_back(std::string(c.what) + ": " + why);
        EXPECT_EQ(readText(file()), kSettings);
    }
    if (!skipped.empty()) GTEST_SKIP() << "not run here: " << ::testing::PrintToString(skipped);
}

TEST_F(SettingsFaultTest, ATrayStartLeavesAnUnreadableFileAsItIsAndSaysSo) {
    fs::permissions(file(), fs::perms::none);
    const std::string before = fingerprint(file());
    const std::string store = "cannot read " + file().string() + ": permission denied";
    const std::string tray = "Settings cannot be read: " + file().string() +
                             " (permission denied). Using defaults; nothing is saved";
    // The start is over once detection has given up on DNS-SD.
    const std::string started = "[ZeroConf] Avahi unavailable";
    const std::string why = support::inChild(dir_, support::becomeNobody, [&] {
        // Nothing reaches past loopback: detection asks a closed port and a
        // system bus that is not there.
        const std::string noBus = "unix:path=" + (elsewhere_ / "no-bus").string();
        std::string error;
        auto program = lumora::testing::ChildProcess::start(
            {"lumora",
             {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", LUMORA_BINARY},
             {"PATH=/usr/bin:/bin", "HOME=" + elsewhere_.string(),
              "XDG_CONFIG_HOME=" + elsewhere_.string(), "XDG_CACHE_HOME=" + elsewhere_.string(),
              "LUMORA_CONFIG_DIR=" + dir_.string(), "QT_QPA_PLATFORM=offscreen",
              "LUMORA_DISCOVERY_URL=http://127.0.0.1:1/", "DBUS_SYSTEM_BUS_ADDRESS=" + noBus,
              "DBUS_SESSION_BUS_ADDRESS=" + noBus},
             "/dev/null"},
            &error);
        ASSERT_TRUE(program) << error;
        for (const std::string* what : {&store, &tray, &started})
            EXPECT_TRUE(program->waitLine(
                [&](const std::string& l) { return l.find(*what) != std::string::npos; }, 30s))
                << *what;
        program->terminate();
        std::string text;
        for (const auto& line : program->lines()) text += line + "\n";
        EXPECT_EQ(count(text, store), 1u) << text;
        EXPECT_EQ(count(text, tray), 1u) << text;
    });
    if (!why.empty()) GTEST_SKIP() << why;
    EXPECT_EQ(fingerprint(file()), before);
    EXPECT_EQ(readText(file()), kSettings);
}
