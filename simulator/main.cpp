// lumora-bridge-sim: the simulated bridge as a stand-alone server.

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "simulator/advertise.h"
#include "simulator/fixtures.h"
#include "simulator/sim_server.h"

namespace {

using lumora::sim::ServerOptions;

int stopPipe[2] = {-1, -1};

std::string parsePort(const std::string& option, const std::string& v, int& port) {
    try {
        std::size_t used = 0;
        int value = std::stoi(v, &used);
        if (used == v.size() && value >= 0 && value <= 65535) {
            port = value;
            return {};
        }
    } catch (const std::exception&) {
    }
    return option + " wants a number from 0 to 65535, not '" + v + "'";
}

// A PEM file of at most 1 MiB; an error text, empty when read.
std::string readPem(const std::string& option, const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    std::error_code failure;
    const auto size = std::filesystem::file_size(path, failure);
    if (!in || failure || size > (1u << 20)) return option + " cannot read '" + path + "'";
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.find("-----BEGIN ") == std::string::npos) return option + ": '" + path + "' is no PEM";
    return {};
}

extern "C" void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto written = write(stopPipe[1], &byte, 1);
}

struct Options {
    ServerOptions server;
    bool help = false;
    bool advertise = false;
    std::string certificateFile;  // the leaf first, then any chain
    std::string keyFile;
};

// One entry per option; a new option is one more row.
struct OptionRow {
    const char* name;
    const char* value;  // nullptr for a flag
    const char* help;
    // Applies the value; returns an error text, empty when fine.
    std::function<std::string(Options&, const std::string&)> apply;
};

const std::vector<OptionRow>& optionTable() {
    static const std::vector<OptionRow> rows{
        {"--port", "PORT", "plain HTTP port, 0 for any free one (default 0)",
         [](Options& o, const std::string& v) { return parsePort("--port", v, o.server.port); }},
        {"--https-port", "PORT", "HTTPS port, 0 for any free one (default 0)",
         [](Options& o, const std::string& v) {
             return parsePort("--https-port", v, o.server.httpsPort);
         }},
        {"--model", "BSB001|BSB002|BSB003",
         "HTTP only; HTTP and HTTPS; HTTPS with HTTP redirected (default BSB002)",
         [](Options& o, const std::string& v) -> std::string {
             auto model = lumora::sim::generationFromString(v);
             if (!model) return "--model wants BSB001, BSB002 or BSB003, not '" + v + "'";
             o.server.model = *model;
             return {};
         }},
        {"--certificate", "FILE",
         "PEM certificate for HTTPS, then any chain (default: made at start)",
         [](Options& o, const std::string& v) {
             o.certificateFile = v;
             return readPem("--certificate", v, o.server.certificatePem);
         }},
        {"--key", "FILE", "PEM private key of --certificate",
         [](Options& o, const std::string& v) {
             o.keyFile = v;
             return readPem("--key", v, o.server.privateKeyPem);
         }},
        {"--certificate-kind", "KIND",
         "made certificate: bridge (default), other-root, self-signed, other-bridge, expired, "
         "signed-by-leaf",
         [](Options& o, const std::string& v) -> std::string {
             auto kind = lumora::sim::certificateKindFromString(v);
             if (!kind) return "--certificate-kind does not know '" + v + "'";
             o.server.certificate = *kind;
             return {};
         }},
        {"--bind", "ADDRESS", "address to listen on (default 127.0.0.1)",
         [](Options& o, const std::string& v) -> std::string {
             if (v.empty()) return "--bind wants an address";
             o.server.bind = v;
             return {};
         }},
        {"--fixture", "NAME|FILE", "embedded fixture or JSON file (default demo)",
         [](Options& o, const std::string& v) -> std::string {
             std::string error;
             if (lumora::sim::readFixture(v, &error).is_discarded()) return error;
             o.server.fixture = v;
             return {};
         }},
        {"--fixture-dir", "DIR",
         "folder whose JSON files POST /sim/fixture may load (default none)",
         [](Options& o, const std::string& v) -> std::string {
             std::error_code failure;
             if (v.empty() || !std::filesystem::is_directory(v, failure)) {
                 return "--fixture-dir wants a folder, not '" + v + "'";
             }
             o.server.fixtureDir = v;
             return {};
         }},
        {"--link-button", "pressed|released", "link button at start (default released)",
         [](Options& o, const std::string& v) -> std::string {
             if (v != "pressed" && v != "released") {
                 return "--link-button wants 'pressed' or 'released', not '" + v + "'";
             }
             o.server.linkButtonPressed = v == "pressed";
             return {};
         }},
        {"--advertise", nullptr, "publish _hue._tcp through the Avahi daemon",
         [](Options& o, const std::string&) -> std::string {
             o.advertise = true;
             return {};
         }},
        {"--help", nullptr, "show this help",
         [](Options& o, const std::string&) -> std::string {
             o.help = true;
             return {};
         }},
    };
    return rows;
}

void printHelp(std::ostream& out) {
    out << "Usage: lumora-bridge-sim [OPTION]...\n"
           "Serves a simulated bridge (REST API v1 under /api, control API under /sim,\n"
           "web discovery reply under /discovery). Prints \"listening on HOST:PORT\" first;\n"
           "with HTTPS (BSB002, BSB003) then \"listening on HOST:PORT (https)\" and\n"
           "\"certificate sha256 AB:CD:...\", the fingerprint of the certificate it presents.\n\n";
    for (const auto& row : optionTable()) {
        std::string left = std::string(row.name) + (row.value ? std::string(" ") + row.value : "");
        out << "  " << left << std::string(left.size() < 28 ? 28 - left.size() : 1, ' ') << row.help
            << "\n";
    }
    out << "\nEmbedded fixtures:";
    for (const auto& fixture : lumora::sim::embeddedFixtures()) out << " " << fixture.name;
    out << "\nTheir whitelist holds the user " << lumora::sim::kDemoUser << ".\n";
}

// Returns an error text, empty on success.
std::string parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        const OptionRow* option = nullptr;
        for (const auto& candidate : optionTable()) {
            if (arg == candidate.name) option = &candidate;
        }
        if (!option) return "unknown option '" + arg + "'";
        if (option->value && !inlineValue) {
            if (i + 1 >= argc) return std::string(option->name) + " needs a value";
            value = argv[++i];
        } else if (!option->value && inlineValue) {
            return std::string(option->name) + " takes no value";
        }
        if (auto error = option->apply(options, value); !error.empty()) return error;
    }
    if (options.certificateFile.empty() != options.keyFile.empty()) {
        return "--certificate and --key go together";
    }
    if (!options.certificateFile.empty()) {
        // The first certificate is the leaf; the rest are sent after it.
        std::string& pem = options.server.certificatePem;
        const auto end = pem.find("-----END CERTIFICATE-----");
        const auto next = end == std::string::npos ? end : pem.find("-----BEGIN", end);
        if (next != std::string::npos) {
            options.server.certificateChainPem = pem.substr(next);
            pem.erase(next);
        }
    }
    if (options.server.model == lumora::sim::Generation::BSB001 &&
        (!options.certificateFile.empty() || options.server.httpsPort != 0)) {
        return "a BSB001 has no HTTPS port";
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (auto error = parse(argc, argv, options); !error.empty()) {
        std::cerr << "lumora-bridge-sim: " << error << "\nTry 'lumora-bridge-sim --help'.\n";
        return 2;
    }
    if (options.help) {
        printHelp(std::cout);
        return 0;
    }

    // The stop signals only wake the main thread through a pipe, whichever
    // thread they land on; it then stops the server in an orderly way.
    if (pipe(stopPipe) != 0) {
        std::perror("lumora-bridge-sim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // Each client costs a descriptor: take all the system allows rather than
    // the customary 1024, so that thousands of idle clients are not refused.
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    lumora::sim::SimServer server(options.server);
    std::string error;
    if (!server.start(&error)) {
        std::cerr << "lumora-bridge-sim: " << error << "\n";
        return 1;
    }
    std::cout << "listening on " << server.address() << std::endl;
    if (server.httpsPort() != 0) {
        std::cout << "listening on " << server.httpsAddress() << " (https)\n"
                  << "certificate sha256 " << server.certificateFingerprint() << std::endl;
    }

    std::unique_ptr<lumora::sim::Advertiser> advertiser;
    if (options.advertise) {
        advertiser = std::make_unique<lumora::sim::Advertiser>(
            [](std::string_view line) { std::cout << line << std::endl; });
        const bool redirects = server.model() == lumora::sim::Generation::BSB003;
        if (!advertiser->start(server.bridgeId(), toString(server.model()),
                               redirects ? server.httpsPort() : server.port(), &error)) {
            std::cerr << "lumora-bridge-sim: --advertise: " << error << "\n";
            return 1;
        }
    }

    char signalled = 0;
    while (read(stopPipe[0], &signalled, 1) < 0 && errno == EINTR) {
    }
    advertiser.reset();
    server.stop();
    return 0;
}
