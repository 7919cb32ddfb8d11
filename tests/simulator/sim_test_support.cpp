#include "sim_test_support.h"

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "client.h"
#include "simulator/http_transport.h"

namespace lumora::sim::test {

Json smallFixture() {
    std::ifstream in(LUMORA_SMALL_FIXTURE, std::ios::binary);
    Json fixture = Json::parse(in, nullptr, false);
    if (fixture.is_discarded()) throw std::runtime_error("cannot read " LUMORA_SMALL_FIXTURE);
    return fixture;
}

TempFile::TempFile(const std::string& content) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/lumora-sim-test-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    ::close(fd);
    path_ = pattern;
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
}

TempFile::~TempFile() {
    std::remove(path_.c_str());
}

std::string requestBytes(const std::string& method, const std::string& path,
                         const std::string& body, const std::string& headers) {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::size_t parseHead(const std::string& bytes, RawReply& reply) {
    const auto headerEnd = bytes.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return headerEnd;
    const std::string head = bytes.substr(0, headerEnd);
    std::sscanf(head.c_str(), "HTTP/1.%*d %d", &reply.status);
    for (std::size_t line = head.find("\r\n"); line != std::string::npos;) {
        std::size_t next = head.find("\r\n", line + 2);
        std::string text =
            head.substr(line + 2, next == std::string::npos ? std::string::npos : next - line - 2);
        if (auto colon = text.find(':'); colon != std::string::npos) {
            std::string name = text.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            std::string value = text.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            reply.headers[name] = value;
        }
        line = next;
    }
    return headerEnd + 4;
}

RawReply exchange(int port, const std::string& bytes, std::chrono::milliseconds timeout) {
    RawReply reply;
    Client client(plain, port);
    reply.connected = client.handshaken();
    client.send(bytes);  // a refusal may come before all is sent
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (client.receive(deadline)) {
    }
    reply.bytes = client.received();
    if (const auto bodyAt = parseHead(reply.bytes, reply); bodyAt != std::string::npos)
        reply.body = reply.bytes.substr(bodyAt);
    return reply;
}

RawReply rawRequest(int port, const std::string& method, const std::string& path,
                    const std::string& body, std::chrono::milliseconds timeout) {
    return exchange(port, requestBytes(method, path, body, "Connection: close\r\n"), timeout);
}

void SimServerTest::SetUp() {
    useFixture({});
}

void SimServerTest::TearDown() {
    if (server_) server_->stop();
}

void SimServerTest::useFixture(const std::string& nameOrPath) {
    if (server_) server_->stop();
    server_ = std::make_unique<SimServer>(
        ServerOptions{.fixture = nameOrPath.empty() ? LUMORA_SMALL_FIXTURE : nameOrPath});
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
}

Json SimServerTest::send(const std::string& method, const std::string& path,
                         const std::string& body) {
    RawReply result = rawRequest(server_->port(), method, path, body);
    // The bridge answers errors in the body: always 200 and JSON.
    EXPECT_EQ(result.status, 200) << method << " " << path;
    EXPECT_EQ(result.headers["content-type"], "application/json");
    Json reply = Json::parse(result.body, nullptr, false);
    EXPECT_FALSE(reply.is_discarded()) << result.body;
    return reply;
}

std::unique_ptr<SimServer> startServer(Generation model) {
    auto server =
        std::make_unique<SimServer>(ServerOptions{.model = model, .fixture = LUMORA_SMALL_FIXTURE});
    std::string error;
    EXPECT_TRUE(server->start(&error)) << error;
    return server;
}

TransportTest::TransportTest() = default;
TransportTest::~TransportTest() = default;

void TransportTest::start(const TransportLimits& limits,
                          const std::function<void(SimHttpServer&)>& routes,
                          const TlsIdentity* tls) {
    http_ = std::make_unique<SimHttpServer>(limits);
    if (tls) {
        ASSERT_TRUE(http_->setTlsIdentity(*tls));
    }
    http_->Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    if (routes) routes(*http_);
    port_ = http_->bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    http_->widenBacklog();
    listener_ = std::thread([this] { http_->listen_after_bind(); });
    for (int i = 0; i < 2000 && !http_->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TransportTest::TearDown() {
    if (!http_) return;
    const auto begin = std::chrono::steady_clock::now();
    http_->stopAll();
    if (listener_.joinable()) listener_.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

Json successValue(const Json& entry, const std::string& address) {
    if (!entry.is_object() || !entry.contains("success") || !entry["success"].contains(address)) {
        ADD_FAILURE() << "no success for " << address << " in " << entry.dump();
        return Json();
    }
    return entry["success"][address];
}

}  // namespace lumora::sim::test
