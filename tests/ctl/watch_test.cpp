// lumora-ctl watch against the simulator: a change another client makes is
// printed as it happens where the bridge has a stream and at the next read
// where it has none; the run ends cleanly when its output closes or on
// SIGTERM, and fails at once when the bridge cannot be reached.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <streambuf>

#include "base/scoped_env.h"
#include "ctl/ctl.h"
#include "simulator/sim_server.h"
#include "support/eventually.h"

using namespace lumora;
using lumora::testing::eventually;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Standard output as a pipe a status bar reads: lines can be taken from
// another thread, and the reader can go away.
class Lines : public std::streambuf {
  public:
    std::vector<std::string> taken() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }

  protected:
    int_type overflow(int_type c) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return traits_type::eof();
        if (c == '\n')
            lines_.push_back(std::exchange(partial_, {}));
        else if (c != traits_type::eof())
            partial_ += static_cast<char>(c);
        return c == traits_type::eof() ? 0 : c;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::string partial_;
    bool closed_ = false;
};

class WatchTest : public ::testing::Test {
  protected:
    void start(sim::Generation model) {
        sim::ServerOptions o;
        o.model = model;
        server_ = std::make_unique<sim::SimServer>(o);
        ASSERT_TRUE(server_->start());
        std::vector<std::string> args{"--user", sim::kDemoUser, "watch", "--json"};
        if (model == sim::Generation::BSB001) {
            args.insert(args.begin(), {"--bridge", server_->address()});
        } else {
            args.insert(args.begin(), {"--bridge", "https://" + server_->httpsAddress(),
                                       "--trust-fingerprint", server_->certificateFingerprint()});
        }
        run_ = std::async(std::launch::async, [this, args] { return ctl::run(args, out_, err_); });
    }
    void TearDown() override {
        // A failed test must not leave the run going.
        if (run_.valid() && !ended(0ms)) {
            std::raise(SIGTERM);
            run_.wait();
        }
        fs::remove_all(dir_);
    }
    // The first read is done: what changes from now on is a change to it.
    bool readOnce() {
        return eventually(
            [&] {
                for (const auto& r : server_->requestLog())
                    if (r.path.find("/groups") != std::string::npos) return true;
                return false;
            },
            1000, 5ms);
    }
    // Another client sets light 2's brightness.
    void putBrightness(int bri) {
        const auto reply =
            server_->call("PUT", std::string("/api/") + sim::kDemoUser + "/lights/2/state",
                          R"({"bri":)" + std::to_string(bri) + "}");
        ASSERT_TRUE(reply[0].contains("success")) << reply.dump();
    }
    bool printed(const std::string& text, std::chrono::milliseconds within) {
        return eventually(
            [&] {
                for (const auto& line : lines_.taken())
                    if (line.find(text) != std::string::npos) return true;
                return false;
            },
            static_cast<int>(within / 5ms), 5ms);
    }
    bool ended(std::chrono::milliseconds within) {
        return run_.wait_for(within) == std::future_status::ready;
    }

    const fs::path dir_ =
        fs::temp_directory_path() / ("lumora-watch-" + std::to_string(::getpid()));
    ScopedEnv config_{"LUMORA_CONFIG_DIR", dir_.string()};
    ScopedEnv cache_{"XDG_CACHE_HOME", (dir_ / "cache").string()};
    std::unique_ptr<sim::SimServer> server_;
    Lines lines_;
    std::ostream out_{&lines_};
    std::ostringstream err_;
    std::future<int> run_;
};

}  // namespace

TEST_F(WatchTest, AStreamBridgesChangeIsPrintedAsItHappensUntilTheOutputCloses) {
    start(sim::Generation::BSB002);
    ASSERT_TRUE(eventually([&] { return server_->streamStats().clients > 0; }, 1000, 5ms))
        << err_.str();
    ASSERT_EQ(server_->streamStats().clients, 1u);
    putBrightness(99);
    // Well inside the 3.5 s of a read: only the stream can have brought it.
    ASSERT_TRUE(
        printed(R"({"resource":"light","id":"2","name":"Floor lamp","changed":{"bri":99}})", 2s))
        << err_.str();
    lines_.close();
    putBrightness(98);
    ASSERT_TRUE(ended(5s));
    EXPECT_EQ(run_.get(), 0);
}

TEST_F(WatchTest, WithoutAStreamTheBridgeIsReadAndSigtermEndsTheRun) {
    start(sim::Generation::BSB001);
    ASSERT_TRUE(readOnce());
    putBrightness(42);
    ASSERT_TRUE(printed(R"("changed":{"bri":42})", 10s)) << err_.str();
    std::raise(SIGTERM);
    ASSERT_TRUE(ended(5s));
    EXPECT_EQ(run_.get(), 0);
    EXPECT_NE(err_.str().find("no event stream"), std::string::npos) << err_.str();
}

TEST_F(WatchTest, ABridgeThatCannotBeReachedEndsTheRunAtOnce) {
    std::ostringstream out, err;
    EXPECT_EQ(ctl::run({"--bridge", "127.0.0.1:9", "--user", "u", "watch"}, out, err), 1);
    EXPECT_NE(err.str().find("cannot reach"), std::string::npos) << err.str();
}
