// The HTTP side of the simulated bridge: each request is logged, may meet an
// injected fault, and goes to the model, the control API or a redirect.
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <string>

#include "simulator/http_transport.h"
#include "simulator/server_impl.h"

namespace lumora::sim {

namespace {

constexpr std::size_t kLogLimit = 10000;
constexpr std::size_t kHugeBodyBytes = 17u * 1024u * 1024u;

struct FaultName {
    Fault kind;
    const char* name;
};

constexpr std::array<FaultName, 10> kFaultNames{{
    {Fault::delay, "delay"},
    {Fault::closeConnection, "close"},
    {Fault::garbageBody, "garbage"},
    {Fault::truncatedBody, "truncated"},
    {Fault::http500, "http500"},
    {Fault::http503, "http503"},
    {Fault::http429, "http429"},
    {Fault::hugeBody, "huge"},
    {Fault::notUtf8, "notutf8"},
    {Fault::moved, "moved"},
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

}  // namespace

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
    if (path == "/eventstream/clip/v2") {
        serveEventStream(request, response, scheme);
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
            case Fault::moved: {
                // As a bridge that serves its API only over https: the host
                // as the client named it, without its port.
                std::string host = request.get_header_value("Host");
                const auto colon = host.rfind(':');
                if (colon != std::string::npos && host.find(']', colon) == std::string::npos)
                    host.erase(colon);
                response.status = 301;
                response.set_header("Location", "https://" + host + path);
                return;
            }
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

void SimServer::Impl::serveEventStream(const httplib::Request& request, httplib::Response& response,
                                       const char* scheme) {
    bool offered = false;
    bool authorised = false;
    {
        std::lock_guard lock(mutex);
        logRequest(request, scheme, "");
        // Only over HTTPS, as the bridges that have it.
        offered = std::string_view(scheme) == "https" && model.offersEventStream();
        authorised = model.knownUser(request.get_header_value("hue-application-key"));
    }
    if (!offered) {
        response.status = 404;
        response.set_content(htmlPage(404, "Not Found"), "text/html");
        return;
    }
    if (request.method != "GET") {
        response.status = 405;
        response.set_header("Allow", "GET");
        response.set_content(htmlPage(405, "Method Not Allowed"), "text/html");
        return;
    }
    if (!authorised) {
        response.status = 403;
        response.set_content(R"({"errors":[{"description":"unauthorized user"}],"data":[]})",
                             "application/json");
        return;
    }
    const int sock = SimHttpServer::currentSocket();
    auto client = streams.subscribe(sock, request.get_header_value("Last-Event-ID"));
    if (!client) {
        response.status = 503;
        response.set_header("Retry-After", "10");
        response.set_content(htmlPage(503, "Service Unavailable"), "text/html");
        return;
    }
    // A small kernel buffer: what a client leaves unread is then held, and
    // capped, by the stream rather than by the socket.
    const int sendBuffer = 64 * 1024;
    ::setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    response.set_header("Cache-Control", "no-cache");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, client](std::size_t, httplib::DataSink& sink) {
            // A comment first, so that the client sees the stream is open.
            std::string out = ": hi\n\n";
            for (;;) {
                if (!out.empty() &&
                    !(sink.write(out.data(), out.size()) && SimHttpServer::flushReply())) {
                    return false;
                }
                if (!streams.take(*client, out)) return false;  // dropped
                if (!out.empty()) continue;
                if (SimHttpServer::waitDuringReply(EventStreams::wakeFd(*client)) !=
                    SimHttpServer::ReplyWait::woken) {
                    return false;
                }
                if (!streams.take(*client, out)) return false;
            }
        },
        [this, client](bool) { streams.unsubscribe(client); });
}

}  // namespace lumora::sim
