// lumora-bridge-sim as a program: its first line, its arguments, its exit codes.

#include <openssl/pem.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <thread>
#include <vector>

#include "sim_test_support.h"
#include "simulator/bridge_certificate.h"
#include "tls_client.h"

extern char** environ;

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;

// A child running the program with stdout and stderr on pipes.
class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        args.insert(args.begin(), LUMORA_BRIDGE_SIM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, LUMORA_BRIDGE_SIM, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }

    // Reads `fd` until it ends (or, with `line`, up to the first newline),
    // waiting at most `timeout`.
    std::string read(int fd, bool line = false, std::chrono::milliseconds timeout = 5s) {
        std::string text;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        char c;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            if (::read(fd, &c, 1) != 1 || (line && c == '\n')) break;
            text += c;
        }
        return text;
    }
    std::string firstLine() { return read(out_, true); }
    std::string stdoutText() { return read(out_); }
    std::string stderrText() { return read(err_); }

    // The exit code, or -1 when the program has not ended within `timeout`.
    int exitCode(std::chrono::milliseconds timeout = 5s) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    void signal(int sig) { kill(pid_, sig); }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

int portFrom(const std::string& line) {
    auto colon = line.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

TEST(Program, ListensReportsItsPortAndStopsOnSignals) {
    for (int sig : {SIGTERM, SIGINT}) {
        Program program({"--port", "0", "--fixture", "demo"});
        std::string line = program.firstLine();
        ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
        int port = portFrom(line);
        ASSERT_GT(port, 0);
        RawReply reply = rawRequest(port, "GET", std::string("/api/") + kDemoUser + "/lights");
        EXPECT_EQ(reply.status, 200);
        EXPECT_TRUE(Json::parse(reply.body).contains("10"));
        program.signal(sig);
        EXPECT_EQ(program.exitCode(), 0) << "signal " << sig;
    }
}

TEST(Program, HttpsPortAndFingerprintFollowTheListeningLine) {
    Program program({"--model", "BSB003", "--fixture", "demo"});
    const int port = portFrom(program.firstLine());
    const std::string https = program.firstLine();
    const std::string certificate = program.firstLine();
    ASSERT_GT(port, 0);
    const std::regex httpsLine("listening on 127\\.0\\.0\\.1:([0-9]+) \\(https\\)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(https, match, httpsLine)) << https;
    const int httpsPort = std::stoi(match[1]);
    ASSERT_EQ(certificate.rfind("certificate sha256 ", 0), 0u) << certificate;

    // What the port presents is what the line names, for the demo's bridge.
    TlsClient client(httpsPort);
    ASSERT_TRUE(client.handshaken());
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, client.leaf());
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    const std::string pem(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    EXPECT_EQ("certificate sha256 " + fingerprintOf(pem), certificate);
    EXPECT_TRUE(client.hostMatches("001788FFFE4A7C21"));
    EXPECT_EQ(rawRequest(port, "GET", "/api/config").status, 301);

    // A BSB001 has one line only.
    Program first({"--model", "BSB001"});
    EXPECT_GT(portFrom(first.firstLine()), 0);
    first.signal(SIGTERM);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(first.stdoutText(), "");
}

TEST(Program, LinkButtonAndFixtureOptions) {
    TempFile fixture(smallFixture().dump());
    Program program(
        {"--fixture=" + fixture.path(), "--link-button", "pressed", "--bind", "127.0.0.1"});
    int port = portFrom(program.firstLine());
    ASSERT_GT(port, 0);
    RawReply reply = rawRequest(port, "POST", "/api", R"({"devicetype":"a#b"})");
    EXPECT_TRUE(Json::parse(reply.body)[0].contains("success")) << reply.body;
    reply = rawRequest(port, "GET", "/api/config");
    EXPECT_EQ(Json::parse(reply.body)["name"], "Test bridge");
}

TEST(Program, BadArgumentsExitWithTwoAndSayWhy) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port", "http"},
        {"--port", "70000"},
        {"--port"},
        {"--frobnicate"},
        {"--link-button", "maybe"},
        {"--fixture", "no-such-fixture"},
        {"--fixture-dir", "/no/such/folder"},
        {"--help=yes"},
        {"--bind", ""},
        {"--model", "BSB004"},
        {"--model", "BSB001", "--https-port", "8443"},
        {"--https-port", "-1"},
        {"--certificate", "/no/such/file.pem", "--key", "/no/such/key.pem"},
        {"--certificate-kind", "forged"},
    };
    for (const auto& args : cases) {
        Program program(args);
        EXPECT_EQ(program.exitCode(), 2) << args[0];
        std::string message = program.stderrText();
        EXPECT_NE(message.find("lumora-bridge-sim: "), std::string::npos) << args[0];
        EXPECT_EQ(program.stdoutText(), "") << args[0];
    }
}

TEST(Program, PortInUseExitsWithOne) {
    SimServer holder;
    ASSERT_TRUE(holder.start());
    Program program({"--port", std::to_string(holder.port())});
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_NE(program.stderrText().find("cannot listen"), std::string::npos);
}

TEST(Program, HelpListsTheOptions) {
    Program program({"--help"});
    EXPECT_EQ(program.exitCode(), 0);
    std::string help = program.stdoutText();
    for (const char* option :
         {"--port", "--https-port", "--model", "--certificate", "--key", "--certificate-kind",
          "--fixture", "--fixture-dir", "--link-button", "--bind", kDemoUser}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace lumora::sim::test
