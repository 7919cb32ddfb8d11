// The simulated bridge's listening ports: binding, starting and stopping
// them, the certificate the HTTPS one presents, and their figures.
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <limits>

#include "simulator/http_transport.h"
#include "simulator/server_impl.h"

namespace lumora::sim {

namespace {

constexpr auto kTickInterval = std::chrono::milliseconds(100);
constexpr auto kIdleTick = std::chrono::milliseconds(1000);

TlsIdentity identityOf(const ServedCertificate& served) {
    return {served.leaf.certificatePem, served.chainPem, served.leaf.privateKeyPem};
}

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

StreamStats SimServer::streamStats() const {
    return impl_->streams.stats();
}

std::size_t SimServer::dropStreams() {
    return impl_->streams.dropAll();
}

}  // namespace lumora::sim
