// The settings file when the system says no: a file that cannot be read is
// left exactly as it is, and a write that fails says so. Each case runs in a
// child process, which may become `nobody` (root reads anything) or mount a
// tiny disk of its own in a private mount namespace.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/app_settings.h"
#include "app/linux/file_store.h"
#include "support/manual_executor.h"
#include "support/privileges.h"

using namespace lumora;
using lumora::support::becomeNobody;
using lumora::support::Enter;
using lumora::support::inChild;
using lumora::support::stayAsWeAre;
namespace fs = std::filesystem;

namespace {

const std::string kSettings =
    R"({"bridgeIP": "10.0.0.2", "bridgeUser": "issued-long-ago", "lightOrder": "3,1,2"})";

// Everything that would tell a replaced, rewritten, moved or re-moded file.
struct Look {
    ino_t inode = 0;
    mode_t mode = 0;
    off_t size = 0;
    long long mtimeNs = 0, ctimeNs = 0;
    bool operator==(const Look&) const = default;
};

Look lookOf(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return {};
    return {st.st_ino, st.st_mode, st.st_size,
            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A 64 KiB disk in the test's folder, seen only by this process.
std::string mountTinyDisk(const fs::path& dir) {
    if (::geteuid() != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return std::string("no user namespace: ") + std::strerror(errno);
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("no mount namespace: ") + std::strerror(errno);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0)
        return std::string("cannot mount a small disk: ") + std::strerror(errno);
    return "";
}

class FileStoreFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumora-store-fault-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
    fs::path file() const { return dir_ / "defaults.json"; }
};

}  // namespace

TEST_F(FileStoreFaultTest, AFileThatCannotBeReadIsNeverWrittenAndIsTakenUpOnceReadable) {
    const fs::path missing = dir_ / "elsewhere.json";
    struct Case {
        const char* what;
        Enter enter;
        std::function<void(const fs::path&)> make, mend;
        std::string reason;
    } cases[] = {
        {"no read permission", becomeNobody,
         [](const fs::path& f) {
             std::ofstream(f) << kSettings;
             fs::permissions(f, fs::perms::none);
         },
         [](const fs::path& f) {
             fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write);
         },
         "permission denied"},
        {"a folder in its place", stayAsWeAre,
         [](const fs::path& f) {
             fs::create_directory(f);
             std::ofstream(f / "inside") << "x";
         },
         [](const fs::path& f) {
             fs::remove_all(f);
             std::ofstream(f) << kSettings;
         },
         "is a directory"},
        {"a FIFO in its place", stayAsWeAre,
         [](const fs::path& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); },
         [](const fs::path& f) {
             fs::remove(f);
             std::ofstream(f) << kSettings;
         },
         "not a regular file"},
        {"a link to a file not there", stayAsWeAre,
         [&](const fs::path& f) { fs::create_symlink(missing, f); },
         [&](const fs::path&) { std::ofstream(missing) << kSettings; },
         "it is a link to a missing file"},
    };
    std::vector<std::string> skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        c.make(file());
        const std::string why = inChild(dir_, c.enter, [&] {
            const Look before = lookOf(file());
            const auto names = namesIn(dir_);
            const std::string message = "lumora: cannot read " + file().string() + ": " + c.reason +
                                        "; settings are kept in memory";
            {
                ::testing::internal::CaptureStderr();
                auto store = std::make_shared<JsonFileDefaultsStore>(dir_);
                // The tray's start stores its defaults; pairing stores the pair.
                ManualExecutor exec;
                AppSettings settings(store, exec);
                settings.loadFromStore();
                exec.runPending();
                StoreResult r = store->trySetString("bridgeUser", "issued-now");
                store->setInteger("keyIncrement", 7);
                const std::string err = ::testing::internal::GetCapturedStderr();
                EXPECT_EQ(count(err, message), 1u) << err;
                EXPECT_EQ(count(err, "lumora:"), 1u) << err;
                ASSERT_FALSE(r);
                EXPECT_EQ(r.problem->kind, StoreProblem::Kind::Unreadable);
                EXPECT_EQ(store->problem(), r.problem);
                EXPECT_EQ(store->string("bridgeUser"), "issued-now") << "kept in memory";
                EXPECT_EQ(store->integer("keyIncrement"), 7);
                EXPECT_EQ(store->writes(), 0u);
            }
            EXPECT_EQ(lookOf(file()), before) << "touched after reads, sets and destruction";
            EXPECT_EQ(namesIn(dir_), names) << "nothing beside it either";

            // Mended while a store runs: the next change reads the file, which
            // wins over what was changed in memory meanwhile, and writes.
            testing::internal::CaptureStderr();
            JsonFileDefaultsStore store(dir_);
            store.setString("bridgeUser", "in-memory-only");
            c.mend(file());
            StoreResult r = store.trySetString("showZones", "yes");
            testing::internal::GetCapturedStderr();
            EXPECT_TRUE(r);
            EXPECT_FALSE(store.problem());
            EXPECT_EQ(store.writes(), 1u);
            JsonFileDefaultsStore fresh(dir_);
            EXPECT_EQ(fresh.string("bridgeUser"), "issued-long-ago");
            EXPECT_EQ(fresh.string("lightOrder"), "3,1,2");
            EXPECT_EQ(fresh.string("showZones"), "yes");
        });
        if (!why.empty()) skipped.push_back(std::string(c.what) + ": " + why);
    }
    if (!skipped.empty()) GTEST_SKIP() << "not run here: " << ::testing::PrintToString(skipped);
}

TEST_F(FileStoreFaultTest, AFailedWriteIsReportedAndLeavesTheOldFile) {
    const fs::path filler = dir_ / "filler";
    struct Case {
        const char* what;
        Enter enter;
        std::function<void()> spoil, mend;
        std::string reason;
    } cases[] = {
        {"read-only folder", becomeNobody,
         [&] { fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec); },
         [&] { fs::permissions(dir_, fs::perms::owner_all); }, "permission denied"},
        {"full disk", mountTinyDisk,
         [&] {
             std::ofstream out(filler, std::ios::binary);
             const std::string block(1024, 'x');
             for (int i = 0; i < 1024 && out; ++i)
                 out.write(block.data(), block.size()), out.flush();
         },
         [&] { fs::remove(filler); }, "no space left on device"},
    };
    std::vector<std::string> skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const std::string why = inChild(dir_, c.enter, [&] {
            JsonFileDefaultsStore store(dir_);
            ASSERT_TRUE(store.trySetString("bridgeIP", "10.0.0.2"));
            // A settled file, so a repeat of the same change could skip the read.
            fs::last_write_time(file(), fs::file_time_type::clock::now() - std::chrono::hours(1));
            ASSERT_TRUE(store.trySetString("bridgeIP", "10.0.0.2"));
            const std::string before = readText(file());
            c.spoil();

            testing::internal::CaptureStderr();
            StoreResult first = store.trySetString("bridgeUser", "issued");
            StoreResult again = store.trySetString("bridgeUser", "issued");
            store.setInteger("keyIncrement", 5);
            const std::string err = testing::internal::GetCapturedStderr();
            ASSERT_FALSE(first);
            EXPECT_EQ(first.problem->kind, StoreProblem::Kind::WriteFailed);
            EXPECT_EQ(first.problem->reason, c.reason);
            EXPECT_FALSE(again) << "the same change again is no more on disk than the first";
            EXPECT_EQ(store.problem(), first.problem);
            EXPECT_EQ(
                count(err, "lumora: cannot write settings to " + file().string() + ": " + c.reason),
                1u)
                << err;
            EXPECT_EQ(readText(file()), before);
            for (auto& name : namesIn(dir_))
                EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;

            c.mend();
            EXPECT_TRUE(store.trySetString("bridgeUser", "issued"));
            EXPECT_FALSE(store.problem());
            EXPECT_EQ(JsonFileDefaultsStore(dir_).string("bridgeUser"), "issued");
        });
        if (!why.empty()) skipped.push_back(std::string(c.what) + ": " + why);
    }
    if (!skipped.empty()) GTEST_SKIP() << "not run here: " << ::testing::PrintToString(skipped);
}
