// lumora-bridge-sim as a program: its first line, its arguments, its exit codes.

#include <signal.h>

#include <regex>
#include <vector>

#include "client.h"
#include "sim_test_support.h"
#include "simulator/bridge_certificate.h"
#include "support/child_process.h"

extern char** environ;

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;

// The program with its stdout read line by line and its stderr in a file.
class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), LUMORA_BRIDGE_SIM);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        std::string error;
        child_ = lumora::testing::ChildProcess::start({"sim", args, env, log_.path()}, &error);
        EXPECT_TRUE(child_) << error;
    }

    std::string firstLine() { return child_ ? child_->waitLine("", 5s).value_or("") : ""; }
    // The lines not read yet, up to the end of stdout or for at most 5 s.
    std::string stdoutText() {
        std::string text;
        while (auto line = child_ ? child_->waitLine("", 5s) : std::nullopt) text += *line + "\n";
        return text;
    }
    std::string stderrText() { return child_ ? child_->stderrText() : ""; }
    // The exit code, or -1 when the program has not ended within 5 s.
    int exitCode() { return child_ ? child_->waitExit(5s).value_or(-1) : -1; }
    void signal(int sig) { kill(child_->pid(), sig); }

  private:
    TempFile log_{""};
    std::unique_ptr<lumora::testing::ChildProcess> child_;
};

int portFrom(const std::string& line) {
    auto colon = line.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

TEST(Program, ListensReportsItsPortTakesItsOptionsAndStopsOnSignals) {
    TempFile fixture(smallFixture().dump());
    for (int sig : {SIGTERM, SIGINT}) {
        Program program({"--port", "0", "--fixture=" + fixture.path(), "--link-button", "pressed",
                         "--bind", "127.0.0.1"});
        std::string line = program.firstLine();
        ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
        int port = portFrom(line);
        ASSERT_GT(port, 0);
        RawReply reply = rawRequest(port, "POST", "/api", R"({"devicetype":"a#b"})");
        EXPECT_TRUE(Json::parse(reply.body)[0].contains("success")) << reply.body;
        reply = rawRequest(port, "GET", "/api/config");
        EXPECT_EQ(Json::parse(reply.body)["name"], "Test bridge");
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
    Client client(httpsPort);
    ASSERT_TRUE(client.handshaken());
    EXPECT_EQ("certificate sha256 " + fingerprintOf(pemOf(client.leaf())), certificate);
    EXPECT_TRUE(client.hostMatches("001788FFFE4A7C21"));

    // A BSB001 has one line only.
    Program first({"--model", "BSB001"});
    EXPECT_GT(portFrom(first.firstLine()), 0);
    first.signal(SIGTERM);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(first.stdoutText(), "");
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
        EXPECT_NE(program.stderrText().find("lumora-bridge-sim: "), std::string::npos) << args[0];
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
