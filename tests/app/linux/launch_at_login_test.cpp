// The autostart entry on a throw-away configuration folder.

#include "app/linux/launch_at_login.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/scoped_env.h"

namespace lumora {
namespace {
namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

class LaunchAtLoginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lumora-autostart-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        program_ = root_ / "opt dir" / "lumora";
        writeText(program_, "#!/bin/sh\n");
    }
    void TearDown() override { fs::remove_all(root_); }

    // Empty when the entry passes; the tool's complaints otherwise.
    static std::string validate(const fs::path& entry) {
        const std::string cmd = "desktop-file-validate '" + entry.string() + "' 2>&1";
        std::string out;
        FILE* p = ::popen(cmd.c_str(), "r");
        char buf[512];
        while (p && std::fgets(buf, sizeof buf, p)) out += buf;
        const int status = p ? ::pclose(p) : -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            out += "(exit status " + std::to_string(status) + ")";
        return out;
    }
    static bool haveValidator() {
        return std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0;
    }

    fs::path root_;
    fs::path program_;
};

TEST_F(LaunchAtLoginTest, OnWritesAValidEntryThatStartsThisProgramAndOffRemovesIt) {
    LaunchAtLogin login(root_ / "config", program_);
    EXPECT_FALSE(login.isEnabled());
    ASSERT_TRUE(login.setEnabled(true));
    EXPECT_TRUE(login.isEnabled());
    EXPECT_EQ(login.entryFile(),
              root_ / "config" / "autostart" / "io.github.lumora.Lumora.desktop");

    const std::string text = slurp(login.entryFile());
    for (const char* line : {"Type=Application\n", "Icon=lumora\n",
                             "X-GNOME-Autostart-enabled=true\n", "X-GNOME-Autostart-Delay=2\n",
                             "X-KDE-autostart-after=panel\n", "X-LXQt-Need-Tray=true\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    // The space in the folder name survives the round trip through Exec=.
    EXPECT_NE(text.find("Exec=\"" + program_.string() + "\"\n"), std::string::npos) << text;
    auto start = text.find("Exec=");
    EXPECT_EQ(desktopExecProgram(text.substr(start + 5, text.find('\n', start) - start - 5)),
              program_.string());
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(login.entryFile().parent_path()), {}), 1);

    if (haveValidator()) {
        EXPECT_EQ(validate(login.entryFile()), "");
    } else {
        std::cerr << "desktop-file-validate is not installed (package desktop-file-utils): "
                     "the entry's syntax is not checked by it\n";
    }

    // Turning it on twice is harmless; off removes the file; off again is no error.
    EXPECT_TRUE(login.setEnabled(true));
    ASSERT_TRUE(login.setEnabled(false));
    EXPECT_FALSE(fs::exists(login.entryFile()));
    EXPECT_FALSE(login.isEnabled());
    EXPECT_TRUE(login.setEnabled(false));
}

TEST_F(LaunchAtLoginTest, AHiddenEntryCountsAsOff) {
    LaunchAtLogin login(root_, program_);
    writeText(login.entryFile(),
              "[Desktop Entry]\nType=Application\nName=Lumora\nExec=lumora\nHidden=true\n");
    EXPECT_FALSE(login.isEnabled());
    // Hidden in another group is not ours to read.
    writeText(login.entryFile(),
              "[Desktop Entry]\nType=Application\nName=Lumora\nExec=lumora\n"
              "[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(login.isEnabled());
}

TEST_F(LaunchAtLoginTest, MigrationPointsAStaleEntryAtTheCurrentProgramAndKeepsTheRest) {
    LaunchAtLogin login(root_, program_);
    writeText(login.entryFile(),
              "[Desktop Entry]\nType=Application\nName=Lumora\nExec=\"/gone/old place/lumora\"\n"
              "X-GNOME-Autostart-Delay=7\n[Desktop Action quit]\nExec=/gone/other\n");
    EXPECT_TRUE(login.migrateIfNeeded());
    const std::string text = slurp(login.entryFile());
    EXPECT_NE(text.find("Exec=\"" + program_.string() + "\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("X-GNOME-Autostart-Delay=7\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Exec=/gone/other\n"), std::string::npos) << text;

    // Now current: nothing to do, and the file is not touched.
    const auto stamp = fs::last_write_time(login.entryFile());
    EXPECT_FALSE(login.migrateIfNeeded());
    EXPECT_EQ(fs::last_write_time(login.entryFile()), stamp);

    // A name looked up on PATH cannot go stale; no entry at all stays absent.
    writeText(login.entryFile(), "[Desktop Entry]\nType=Application\nName=Lumora\nExec=lumora\n");
    EXPECT_FALSE(login.migrateIfNeeded());
    fs::remove(login.entryFile());
    EXPECT_FALSE(login.migrateIfNeeded());
    EXPECT_FALSE(fs::exists(login.entryFile()));
}

TEST_F(LaunchAtLoginTest, OurEntryUnderTheOldNameMovesToTheApplicationIdAsItIs) {
    LaunchAtLogin login(root_, program_);
    const fs::path old = root_ / "autostart" / "lumora.desktop";
    // Switched off in the desktop's own settings: it must stay off.
    const std::string off =
        "[Desktop Entry]\nType=Application\nName=Lumora\nExec=" + desktopExecValue(program_) +
        "\nHidden=true\nX-GNOME-Autostart-enabled=false\n";
    writeText(old, off);
    EXPECT_TRUE(login.migrateIfNeeded());
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(slurp(login.entryFile()), off);
    EXPECT_FALSE(login.isEnabled());

    // Moved, and a stale program path pointed at this one in the same start.
    writeText(old, "[Desktop Entry]\nType=Application\nName=Lumora\nExec=/gone/lumora\n");
    fs::remove(login.entryFile());
    EXPECT_TRUE(login.migrateIfNeeded());
    EXPECT_FALSE(fs::exists(old));
    EXPECT_NE(slurp(login.entryFile()).find("Exec=\"" + program_.string() + "\"\n"),
              std::string::npos);
    EXPECT_TRUE(login.isEnabled());

    // Beside a current entry the old one would start the program twice: it
    // goes, and the current one is kept as it is.
    const std::string current = slurp(login.entryFile());
    writeText(old, "[Desktop Entry]\nType=Application\nName=Lumora\nExec=lumora\n");
    EXPECT_TRUE(login.migrateIfNeeded());
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(slurp(login.entryFile()), current);

    // Someone else's file of that name is left alone.
    const std::string theirs =
        "[Desktop Entry]\nType=Application\nName=Lumora\nExec=/opt/x/other\n";
    writeText(old, theirs);
    fs::remove(login.entryFile());
    EXPECT_FALSE(login.migrateIfNeeded());
    EXPECT_EQ(slurp(old), theirs);
    EXPECT_FALSE(fs::exists(login.entryFile()));
}

TEST(DesktopExec, QuotingRoundTripsAwkwardPaths) {
    for (std::string p :
         {"/usr/bin/lumora", "/home/a b/lumora", "/x/it's \"odd\"/$HOME/`l`/back\\slash",
          "/x/100%/lumora", "/x/100% sure/lumora"}) {
        const std::string v = desktopExecValue(p);
        EXPECT_EQ(desktopExecProgram(v), p) << v;
    }
    EXPECT_EQ(desktopExecValue("/usr/bin/lumora"), "/usr/bin/lumora");
    EXPECT_EQ(desktopExecValue("/a b/c"), "\"/a b/c\"");
    // Inside quotes a backslash is escaped once for the argument and once for the file.
    EXPECT_EQ(desktopExecValue("/a\\b"), "\"/a\\\\\\\\b\"");
    EXPECT_EQ(desktopExecProgram("/usr/bin/lumora --tray"), "/usr/bin/lumora");
    EXPECT_EQ(desktopExecProgram("\"/unclosed"), std::nullopt);
    EXPECT_EQ(desktopExecProgram("  "), std::nullopt);
}

TEST(LaunchAtLoginPaths, ConfigHomeHonoursXdgConfigHome) {
    ScopedEnv config("XDG_CONFIG_HOME", "/tmp/somewhere");
    EXPECT_EQ(LaunchAtLogin::configHome(), fs::path("/tmp/somewhere"));
    // A relative value is invalid by the base directory rules and ignored.
    config.set("relative");
    EXPECT_EQ(LaunchAtLogin::configHome(), fs::path(std::getenv("HOME")) / ".config");
    EXPECT_TRUE(fs::exists(LaunchAtLogin::currentProgram()));
}

}  // namespace
}  // namespace lumora
