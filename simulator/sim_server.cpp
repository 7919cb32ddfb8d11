#include "simulator/sim_server.h"

#include <malloc.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <limits>

#include "simulator/fixtures.h"
#include "simulator/http_transport.h"
#include "simulator/server_impl.h"

namespace lumora::sim {

namespace {

constexpr std::size_t kLogLimit = 10000;
constexpr auto kTickInterval = std::chrono::milliseconds(100);
constexpr auto kIdleTick = std::chrono::milliseconds(1000);
constexpr auto kDefaultDelay = std::chrono::milliseconds(1000);
constexpr std::size_t kHugeBodyBytes = 17u * 1024u * 1024u;

struct FaultName {
    Fault kind;
    const char* name;
};

constexpr std::array<FaultName, 9> kFaultNames{{
    {Fault::delay, "delay"},
    {Fault::closeConnection, "close"},
    {Fault::garbageBody, "garbage"},
    {Fault::truncatedBody, "truncated"},
    {Fault::http500, "http500"},
    {Fault::http503, "http503"},
    {Fault::http429, "http429"},
    {Fault::hugeBody, "huge"},
    {Fault::notUtf8, "notutf8"},
}};

// Shut the connection down from inside its handler, so the client sees it
// close without a byte of reply; the reply written afterwards goes nowhere.
bool dropConnection() {
    const int sock = SimHttpServer::currentSocket();
    return sock >= 0 && ::shutdown(sock, SHUT_RDWR) == 0;
}

std::string htmlPage(int status, const char* reason) {
    std::string title = std::to_string(status) + " " + reason;
    return "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head><body><h1>" + title +
           "</h1><p>The bridge could not handle the request.</p></body></html>\n";
}

// About 17 MiB of well-formed lights, more than a careful client accepts.
// Few members with long texts: an order-keeping JSON reader slows down with
// the number of members, and the point is the size.
std::shared_ptr<const std::string> hugeBody() {
    static const auto body = [] {
        const std::string padding = [] {
            std::string hex;
            for (int i = 0; i < 8192; ++i) hex += "0123456789abcdef"[(i * 7 + i / 16) % 16];
            return hex;
        }();
        auto text = std::make_shared<std::string>("{");
        text->reserve(kHugeBodyBytes + padding.size() + 256);
        for (int id = 1; text->size() < kHugeBodyBytes; ++id) {
            if (id > 1) text->push_back(',');
            std::string n = std::to_string(id);
            *text += "\"" + n + "\":{\"state\":{\"on\":false,\"bri\":1,\"reachable\":true},";
            *text += "\"type\":\"Dimmable light\",\"name\":\"Filler light " + n + "\",";
            *text += "\"swconfigid\":\"" + padding + "\"}";
        }
        text->push_back('}');
        return std::shared_ptr<const std::string>(std::move(text));
    }();
    return body;
}

// Puts two bytes that can never occur in UTF-8 at the start of the reply's
// first string value (or, failing that, its first string).
std::string spoilUtf8(std::string text) {
    static const std::string kBad = "\xff\xfe";
    auto at = text.find("\":\"");
    if (at != std::string::npos) return text.insert(at + 3, kBad);
    at = text.find('"');
    if (at != std::string::npos) return text.insert(at + 1, kBad);
    return "[\"" + kBad + "\"]";
}

void sendWhole(httplib::Response& response, std::shared_ptr<const std::string> body) {
    // A content provider with a length is sent as it stands, never compressed,
    // so the client receives every byte.
    response.set_content_provider(
        body->size(), "application/json",
        [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return sink.write(body->data() + offset, std::min<std::size_t>(length, 1 << 16));
        });
}

void sendHalf(httplib::Response& response, std::string text) {
    auto body = std::make_shared<const std::string>(std::move(text));
    response.set_content_provider(
        body->size(), "application/json",
        [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset == 0) sink.write(body->data(), body->size() / 2);
            return false;  // abandons the reply: the library closes the connection
        });
}

bool isApiPath(const std::string& path) {
    return path == "/api" || path.rfind("/api/", 0) == 0;
}

struct GenerationInfo {
    Generation generation;
    const char* name;
    const char* apiVersion;  // null: the fixture's
    const char* swVersion;
};

// Firmware figures as such bridges report them; a BSB002 keeps its fixture's.
constexpr std::array<GenerationInfo, 3> kGenerations{{
    {Generation::BSB001, "BSB001", "1.16.0", "01041302"},
    {Generation::BSB002, "BSB002", nullptr, nullptr},
    {Generation::BSB003, "BSB003", "1.73.0", "1973054010"},
}};

const GenerationInfo& infoOf(Generation generation) {
    for (const auto& info : kGenerations) {
        if (info.generation == generation) return info;
    }
    return kGenerations[1];
}

// The host of a Host header when it is a plain name or address, else empty:
// a redirect never sends a client to what a stranger wrote.
std::string hostOf(const std::string& header) {
    std::string host = header;
    if (!host.empty() && host.front() == '[') {
        const auto end = host.find(']');
        if (end == std::string::npos) return {};
        host = host.substr(0, end + 1);
        const bool ok = std::all_of(host.begin() + 1, host.end() - 1, [](unsigned char c) {
            return std::isxdigit(c) || c == ':' || c == '.';
        });
        return ok && host.size() > 2 ? host : std::string();
    }
    host = host.substr(0, host.find(':'));
    const bool ok = std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-';
    });
    return ok ? host : std::string();
}

TlsIdentity identityOf(const ServedCertificate& served) {
    return {served.leaf.certificatePem, served.chainPem, served.leaf.privateKeyPem};
}

}  // namespace

const char* toString(Generation generation) {
    return infoOf(generation).name;
}

std::optional<Generation> generationFromString(std::string_view name) {
    for (const auto& info : kGenerations) {
        if (name == info.name) return info.generation;
    }
    return std::nullopt;
}

PortStats Listener::stats() const {
    PortStats out;
    out.port = port;
    if (http) {
        const TransportStats t = http->stats();
        out.connections = t.accepted;
        out.handshakes = t.handshakes;
        out.failedHandshakes = t.failedHandshakes;
        out.open = t.open;
    }
    return out;
}

const char* toString(Fault kind) {
    for (const auto& entry : kFaultNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "";
}

std::optional<Fault> faultFromString(std::string_view name) {
    for (const auto& entry : kFaultNames) {
        if (name == entry.name) return entry.kind;
    }
    return std::nullopt;
}

SimServer::Impl::Impl(ServerOptions o) : options(std::move(o)), root(makeRootCertificate()) {
    const GenerationInfo& info = infoOf(options.model);
    Json forced = Json::object();
    forced["modelid"] = info.name;
    Json defaults = Json::object();
    defaults["name"] = "Lumora bridge";
    (info.apiVersion ? forced : defaults)["apiversion"] =
        info.apiVersion ? info.apiVersion : "1.62.0";
    (info.swVersion ? forced : defaults)["swversion"] =
        info.swVersion ? info.swVersion : "1962097030";
    model.setHardware(std::move(forced), std::move(defaults));
    if (!loadFixture(options.fixture, &loadError) && loadError.empty()) {
        loadError = "cannot load fixture " + options.fixture;
    }
    if (options.linkButtonPressed) pressLinkButton();
}

void SimServer::Impl::pressLinkButton() {
    std::lock_guard lock(mutex);
    model.pressLinkButton(nowLocked());
}

void SimServer::Impl::releaseLinkButton() {
    std::lock_guard lock(mutex);
    model.releaseLinkButton();
}

bool SimServer::Impl::loadFixture(const std::string& nameOrPath, std::string* error) {
    return applyFixture(readFixture(nameOrPath, error), error);
}

bool SimServer::Impl::applyFixture(const Json& fixture, std::string* error) {
    if (fixture.is_discarded()) return false;
    {
        std::lock_guard lock(mutex);
        if (!model.load(fixture, nowLocked(), error)) return false;
    }
    followBridgeId();
    return true;
}

bool SimServer::Impl::makeCertificate(CertificateKind kind, std::string* error) {
    std::string id;
    {
        std::lock_guard lock(mutex);
        id = model.bridgeId();
    }
    try {
        std::lock_guard lock(portsMutex);
        const TlsIdentity identity = identityOf(makeServedCertificate(root, id, kind));
        if (secure.http && !secure.http->setTlsIdentity(identity, error)) return false;
        presented = identity;
        madeKind = kind;
        certifiedId = id;
        return true;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}

bool SimServer::Impl::present(const TlsIdentity& identity, std::string* error) {
    std::lock_guard lock(portsMutex);
    if (secure.http) {
        if (!secure.http->setTlsIdentity(identity, error)) return false;
    } else {
        // Checked now, so that a bad one is refused here and not at start().
        SimHttpServer probe;
        if (!probe.setTlsIdentity(identity, error)) return false;
    }
    presented = identity;
    madeKind.reset();
    certifiedId.clear();
    return true;
}

void SimServer::Impl::followBridgeId() {
    std::optional<CertificateKind> kind;
    {
        std::lock_guard lock(portsMutex);
        if (!secure.http || !madeKind) return;
        kind = madeKind;
    }
    {
        std::lock_guard lock(mutex);
        std::lock_guard certificateLock(portsMutex);
        if (model.bridgeId() == certifiedId) return;
    }
    makeCertificate(*kind, nullptr);
}

bool SimServer::Impl::setReachable(const std::string& lightId, bool reachable) {
    std::lock_guard lock(mutex);
    return model.setReachable(lightId, reachable);
}

void SimServer::Impl::injectFault(Fault kind, int count, std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex);
    if (count <= 0) {
        faults.clear();
        return;
    }
    // A delay fault without a duration would be no fault at all.
    if (kind == Fault::delay && delay.count() <= 0) delay = kDefaultDelay;
    faults.push_back({kind, count, delay});
}

void SimServer::Impl::clearFaults() {
    std::lock_guard lock(mutex);
    faults.clear();
}

void SimServer::Impl::advanceClock(std::chrono::seconds by) {
    std::lock_guard lock(mutex);
    if (by.count() > 0) {
        clockOffset = std::min<std::chrono::milliseconds>(
            clockOffset + std::min(by, kMaxClockOffset), kMaxClockOffset);
    }
    model.runDueSchedules(nowLocked());
}

std::string SimServer::Impl::addUser(const std::string& devicetype) {
    std::lock_guard lock(mutex);
    return model.addUser(devicetype, nowLocked());
}

Json SimServer::Impl::logJson() const {
    std::lock_guard lock(mutex);
    Json list = Json::array();
    for (const auto& entry : log) {
        Json item = Json::object();
        item["method"] = entry.method;
        item["path"] = entry.path;
        item["body"] = entry.body;
        item["body_size"] = entry.bodySize;
        item["sim_time"] = formatUtcMillis(entry.simTime);
        item["wall_ms"] =
            std::chrono::duration_cast<std::chrono::milliseconds>(entry.wallTime - startedAt)
                .count();
        item["fault"] = entry.fault;
        item["scheme"] = entry.scheme;
        list.push_back(std::move(item));
    }
    return list;
}

void SimServer::Impl::clearLog() {
    std::deque<LoggedRequest> dropped;
    {
        std::lock_guard lock(mutex);
        dropped.swap(log);
    }
    dropped.clear();
    // Freed blocks stay with the allocator otherwise, and a full log of
    // large requests would keep the process large long after it is cleared.
    malloc_trim(0);
}

Json SimServer::Impl::state() const {
    std::lock_guard lock(mutex);
    return model.dump(nowLocked());
}

bool SimServer::Impl::waitForTick(std::chrono::milliseconds duration) {
    std::unique_lock lock(stopMutex);
    stopSignal.wait_for(lock, duration, [this] { return stopping || rescan; });
    rescan = false;
    return !stopping;
}

void SimServer::Impl::wakeTicker() {
    {
        std::lock_guard lock(stopMutex);
        rescan = true;
    }
    stopSignal.notify_all();
}

bool SimServer::Impl::sleepUnlessStopping(std::chrono::milliseconds duration) {
    std::unique_lock lock(stopMutex);
    return !stopSignal.wait_for(lock, duration, [this] { return stopping; });
}

std::string SimServer::Impl::bracketedHost() const {
    std::string host = hostForClients();
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

int SimServer::Impl::advertisedPort() const {
    return options.model == Generation::BSB003 ? secure.port.load() : plain.port.load();
}

std::string SimServer::Impl::hostForClients() const {
    // A wildcard bind is reached through loopback from this machine.
    if (options.bind == "0.0.0.0" || options.bind.empty()) return "127.0.0.1";
    if (options.bind == "::") return "::1";
    return options.bind;
}

void SimServer::Impl::logRequest(const httplib::Request& request, const char* scheme,
                                 const char* fault) {
    // The caller holds `mutex`.
    log.push_back({request.method, request.path.substr(0, kLogExcerptBytes),
                   request.body.substr(0, kLogExcerptBytes), request.body.size(), nowLocked(),
                   std::chrono::steady_clock::now(), fault, scheme});
    while (log.size() > kLogLimit) log.pop_front();
}

void SimServer::Impl::redirect(const httplib::Request& request, httplib::Response& response) {
    {
        std::lock_guard lock(mutex);
        logRequest(request, "http", "");
    }
    std::string host = hostOf(request.get_header_value("Host"));
    if (host.empty()) host = bracketedHost();
    const int port = secure.port;
    if (port != 443) host += ":" + std::to_string(port);
    const std::string& target =
        !request.target.empty() && request.target.front() == '/' ? request.target : request.path;
    response.status = 301;
    const std::string location = "https://" + host + target;
    response.set_header("Location", location);
    // The target is the client's own, sent back as a header only: the page
    // names no part of it.
    response.set_content(
        "<!DOCTYPE html>\n<html><head><title>301 Moved Permanently</title></head><body><h1>301 "
        "Moved Permanently</h1><p>This bridge answers over HTTPS only.</p></body></html>\n",
        "text/html");
}

void SimServer::Impl::serve(const httplib::Request& request, httplib::Response& response,
                            const char* scheme) {
    const std::string& path = request.path;
    if (path == "/sim" || path.rfind("/sim/", 0) == 0) {
        handleControl(request, response);
        return;
    }
    const bool api = isApiPath(path);
    std::optional<PendingFault> fault;
    {
        std::lock_guard lock(mutex);
        if (api && !faults.empty()) {
            fault = faults.front();
            if (--faults.front().remaining <= 0) faults.pop_front();
        }
        logRequest(request, scheme, fault ? toString(fault->kind) : "");
    }
    if (fault && fault->delay.count() > 0) sleepUnlessStopping(fault->delay);

    if (fault) {
        switch (fault->kind) {
            case Fault::closeConnection:
                if (!dropConnection()) sendHalf(response, {});
                return;
            case Fault::garbageBody:
                response.set_content("<b>bridge</b> says: {\"lights\": [oops", "application/json");
                return;
            case Fault::http500:
                response.status = 500;
                response.set_content(htmlPage(500, "Internal Server Error"), "text/html");
                return;
            case Fault::http503:
                response.status = 503;
                response.set_content(htmlPage(503, "Service Temporarily Unavailable"), "text/html");
                return;
            case Fault::http429:
                response.status = 429;
                response.set_content(htmlPage(429, "Too Many Requests"), "text/html");
                return;
            case Fault::hugeBody:
                sendWhole(response, hugeBody());
                return;
            case Fault::delay:
            case Fault::truncatedBody:
            case Fault::notUtf8:
                break;  // these need the real reply
        }
    }

    if (api && request.method == "GET" && !fault) {
        std::shared_ptr<const std::string> kept;
        {
            std::lock_guard lock(mutex);
            kept = model.cachedRead(path, nowLocked());
        }
        if (kept) {
            response.set_content(*kept, "application/json");
            return;
        }
    }

    Json reply;
    if (api) {
        std::lock_guard lock(mutex);
        try {
            reply = model.handle(request.method, path, request.body, nowLocked());
        } catch (const std::exception& e) {
            reply = errorList(901, path, std::string("Internal error, ") + e.what());
        }
        // A write may have made or moved a schedule.
        if (request.method != "GET") wakeTicker();
    } else if (request.method == "GET" && (path == "/discovery" || path == "/")) {
        std::lock_guard lock(mutex);
        reply = model.discoveryReply();
    } else {
        response.status = 404;
        response.set_content(htmlPage(404, "Not Found"), "text/html");
        return;
    }
    std::string text = reply.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (fault && fault->kind == Fault::notUtf8) text = spoilUtf8(std::move(text));
    if (fault && fault->kind == Fault::truncatedBody) {
        sendHalf(response, std::move(text));
        return;
    }
    response.set_content(text, "application/json");
}

namespace {

// A server with the library's routes all going to `handler`.
std::unique_ptr<SimHttpServer> makeHttp(httplib::Server::Handler handler) {
    auto http = std::make_unique<SimHttpServer>();
    // Address reuse only: the library's default also sets SO_REUSEPORT, which
    // would let a second server share a port in use instead of failing.
    http->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // A client may keep its connection for as many requests as it likes;
    // one that sends no whole request for 5 s is closed, and stop() ends it.
    http->set_keep_alive_max_count(std::numeric_limits<int>::max());
    http->Get(".*", handler);
    http->Post(".*", handler);
    http->Put(".*", handler);
    http->Delete(".*", handler);
    http->Patch(".*", handler);
    http->Options(".*", handler);
    return http;
}

// Binds `http` to the port asked for (0: any free one); the port, or an error.
int bindTo(SimHttpServer& http, const std::string& bind, int port, std::string& error) {
    if (port < 0 || port > 65535) {
        error = "port out of range: " + std::to_string(port);
        return -1;
    }
    if (port == 0) {
        port = http.bind_to_any_port(bind);
        if (port <= 0) {
            error = "cannot listen on " + bind;
            return -1;
        }
    } else if (!http.bind_to_port(bind, port)) {
        error = "cannot listen on " + bind + " port " + std::to_string(port);
        return -1;
    }
    http.widenBacklog();
    return port;
}

void stopListener(Listener& listener, std::mutex& portsMutex) {
    if (!listener.http) return;
    // The library's stop() ends only an accept loop that has begun; right
    // after start() it may not have.
    while (!listener.http->is_running() && !listener.ended) std::this_thread::yield();
    listener.http->stopAll();
    if (listener.thread.joinable()) listener.thread.join();
    std::lock_guard lock(portsMutex);
    listener.http.reset();
    listener.port = 0;
}

}  // namespace

SimServer::SimServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SimServer::~SimServer() {
    stop();
}

bool SimServer::start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    Impl& d = *impl_;
    if (!d.loadError.empty()) return fail(d.loadError);
    if (d.started) return true;

    // A client that goes away must make a write fail, not end the process.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        std::signal(SIGPIPE, SIG_IGN);
    }

    const bool tls = d.options.model != Generation::BSB001;
    const bool redirects = d.options.model == Generation::BSB003;
    auto plain = makeHttp(redirects ? httplib::Server::Handler([&d](const httplib::Request& request,
                                                                    httplib::Response& response) {
        d.redirect(request, response);
    })
                                    : httplib::Server::Handler([&d](const httplib::Request& request,
                                                                    httplib::Response& response) {
                                          d.serve(request, response, "http");
                                      }));
    std::unique_ptr<SimHttpServer> secure;
    if (tls) {
        secure = makeHttp([&d](const httplib::Request& request, httplib::Response& response) {
            d.serve(request, response, "https");
        });
        std::string why;
        TlsIdentity identity;
        {
            std::lock_guard lock(d.portsMutex);
            identity = d.presented;  // swapped in before start(), or the last run's
        }
        if (!identity.certificatePem.empty()) {
        } else if (!d.options.certificatePem.empty()) {
            identity = {d.options.certificatePem, d.options.certificateChainPem,
                        d.options.privateKeyPem};
        } else {
            std::string id;
            {
                std::lock_guard lock(d.mutex);
                id = d.model.bridgeId();
            }
            try {
                identity = identityOf(makeServedCertificate(d.root, id, d.options.certificate));
            } catch (const std::exception& e) {
                return fail(e.what());
            }
            std::lock_guard lock(d.portsMutex);
            d.madeKind = d.options.certificate;
            d.certifiedId = id;
        }
        if (!secure->setTlsIdentity(identity, &why)) return fail("certificate: " + why);
        std::lock_guard lock(d.portsMutex);
        d.presented = identity;
    }

    std::string why;
    const int plainPort = bindTo(*plain, d.options.bind, d.options.port, why);
    if (plainPort < 0) return fail(why);
    const int securePort = secure ? bindTo(*secure, d.options.bind, d.options.httpsPort, why) : 0;
    if (securePort < 0) return fail(why);

    {
        std::lock_guard lock(d.stopMutex);
        d.stopping = false;
    }
    d.plain.port = plainPort;
    d.secure.port = securePort;
    {
        std::lock_guard lock(d.mutex);
        d.model.setNetwork(d.hostForClients(), d.advertisedPort());
        d.startedAt = std::chrono::steady_clock::now();
    }
    // The sockets listen already, so a client may connect at once; an accept
    // loop takes what waits in the backlog when it starts.
    auto run = [](Listener& listener, std::unique_ptr<SimHttpServer> http) {
        listener.http = std::move(http);
        listener.ended = false;
        listener.thread = std::thread([&listener] {
            listener.http->listen_after_bind();
            listener.ended = true;
        });
    };
    {
        std::lock_guard lock(d.portsMutex);
        run(d.plain, std::move(plain));
        if (secure) run(d.secure, std::move(secure));
    }
    d.started = true;
    // Wakes when the next schedule is due rather than every tick, so an idle
    // simulator costs nothing between requests; at least once a second, so a
    // clock moved by other means is noticed.
    d.ticker = std::thread([&d] {
        auto wait = kTickInterval;
        while (d.waitForTick(wait)) {
            std::lock_guard lock(d.mutex);
            const SimTime now = d.nowLocked();
            d.model.runDueSchedules(now);
            wait = kIdleTick;
            if (auto due = d.model.nextScheduleDue()) {
                const auto until = std::chrono::ceil<std::chrono::milliseconds>(*due - now);
                wait = std::clamp(until, std::chrono::milliseconds(1), kIdleTick);
            }
        }
    });
    // A fixture loaded while starting may have changed the bridge id.
    d.followBridgeId();
    return true;
}

void SimServer::stop() {
    Impl& d = *impl_;
    if (!d.started) return;
    {
        std::lock_guard lock(d.stopMutex);
        d.stopping = true;
    }
    d.stopSignal.notify_all();
    stopListener(d.plain, d.portsMutex);
    stopListener(d.secure, d.portsMutex);
    if (d.ticker.joinable()) d.ticker.join();
    d.started = false;
}

bool SimServer::running() const {
    return impl_->started;
}

int SimServer::port() const {
    return impl_->plain.port;
}

std::string SimServer::address() const {
    return impl_->bracketedHost() + ":" + std::to_string(port());
}

std::string SimServer::baseUrl() const {
    return "http://" + address();
}

int SimServer::httpsPort() const {
    return impl_->secure.port;
}

std::string SimServer::httpsAddress() const {
    return impl_->bracketedHost() + ":" + std::to_string(httpsPort());
}

std::string SimServer::httpsBaseUrl() const {
    return "https://" + httpsAddress();
}

Generation SimServer::model() const {
    return impl_->options.model;
}

std::string SimServer::bridgeId() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model.bridgeId();
}

std::string SimServer::trustAnchorPem() const {
    return impl_->root.certificatePem;  // never changes
}

std::string SimServer::certificatePem() const {
    std::lock_guard lock(impl_->portsMutex);
    return impl_->presented.certificatePem;
}

std::string SimServer::certificateFingerprint() const {
    const std::string pem = certificatePem();
    return pem.empty() ? std::string() : fingerprintOf(pem);
}

bool SimServer::presentCertificate(CertificateKind kind, std::string* error) {
    return impl_->makeCertificate(kind, error);
}

bool SimServer::presentCertificate(const std::string& certificatePem,
                                   const std::string& privateKeyPem, const std::string& chainPem,
                                   std::string* error) {
    return impl_->present({certificatePem, chainPem, privateKeyPem}, error);
}

ConnectionStats SimServer::Impl::connectionStats() const {
    std::lock_guard lock(portsMutex);
    return {plain.stats(), secure.stats()};
}

std::size_t SimServer::Impl::closeIdle() {
    std::lock_guard lock(portsMutex);
    std::size_t closed = 0;
    for (Listener* listener : {&plain, &secure}) {
        if (listener->http) closed += listener->http->closeIdle();
    }
    return closed;
}

ConnectionStats SimServer::connectionStats() const {
    return impl_->connectionStats();
}

std::size_t SimServer::closeIdleConnections() {
    return impl_->closeIdle();
}

void SimServer::pressLinkButton() {
    impl_->pressLinkButton();
}
void SimServer::releaseLinkButton() {
    impl_->releaseLinkButton();
}

bool SimServer::loadFixture(const std::string& nameOrPath, std::string* error) {
    return impl_->loadFixture(nameOrPath, error);
}

bool SimServer::loadFixtureJson(const nlohmann::ordered_json& fixture, std::string* error) {
    return impl_->applyFixture(fixture, error);
}

bool SimServer::setReachable(const std::string& lightId, bool reachable) {
    return impl_->setReachable(lightId, reachable);
}

void SimServer::injectFault(Fault kind, int count, std::chrono::milliseconds delay) {
    impl_->injectFault(kind, count, delay);
}

void SimServer::clearFaults() {
    impl_->clearFaults();
}

std::chrono::system_clock::time_point SimServer::now() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->nowLocked();
}

void SimServer::advanceClock(std::chrono::seconds by) {
    impl_->advanceClock(by);
}

std::string SimServer::addUser(const std::string& devicetype) {
    return impl_->addUser(devicetype);
}

std::vector<LoggedRequest> SimServer::requestLog() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->log.begin(), impl_->log.end()};
}

void SimServer::clearLog() {
    impl_->clearLog();
}

nlohmann::ordered_json SimServer::state() const {
    return impl_->state();
}

nlohmann::ordered_json SimServer::call(const std::string& method, const std::string& path,
                                       const std::string& body) {
    nlohmann::ordered_json reply;
    {
        std::lock_guard lock(impl_->mutex);
        reply = impl_->model.handle(method, path, body, impl_->nowLocked());
    }
    if (method != "GET") impl_->wakeTicker();
    return reply;
}

SimServer::Reply SimServer::handle(const std::string& method, const std::string& path,
                                   const std::string& body) {
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.body = body;
    httplib::Response response;
    impl_->serve(request, response);
    Reply reply{response.status < 0 ? 200 : response.status,
                response.get_header_value("Content-Type"), response.body};
    if (response.content_provider_) {
        // What a socket would have carried: up to where the provider stops.
        bool more = true;
        httplib::DataSink sink;
        sink.write = [&](const char* data, std::size_t length) {
            reply.body.append(data, length);
            return true;
        };
        sink.done = [&] { more = false; };
        sink.is_writable = [] { return true; };
        while (more && reply.body.size() < response.content_length_) {
            const std::size_t before = reply.body.size();
            more = response.content_provider_(before, response.content_length_ - before, sink) &&
                   reply.body.size() > before;
        }
    }
    return reply;
}

}  // namespace lumora::sim
