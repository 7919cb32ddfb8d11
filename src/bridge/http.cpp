#include "bridge/http.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "base/letter_case.h"
#include "bridge/http_conn.h"
#include "bridge/http_reply.h"

namespace lumora {
namespace {

bool isUrlChar(unsigned char c) {
    if (c <= 0x20 || c >= 0x7f) return false;
    // Characters a URL may never carry unescaped.
    return std::strchr("\"<>\\^`{|}", c) == nullptr;
}

bool isHostChar(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '%';
}

}  // namespace

std::optional<ParsedUrl> parseUrl(std::string_view url) {
    if (url.empty() || !std::all_of(url.begin(), url.end(), [](char c) {
            return isUrlChar(static_cast<unsigned char>(c));
        }))
        return std::nullopt;

    ParsedUrl out;
    auto sep = url.find("://");
    if (sep == std::string_view::npos) return std::nullopt;
    const std::string scheme = asciiLowerCased(url.substr(0, sep));
    if (scheme != "http" && scheme != "https") return std::nullopt;
    out.scheme = scheme;
    out.port = scheme == "https" ? 443 : 80;

    std::string_view rest = url.substr(sep + 3);
    auto end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    std::string_view target = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    if (authority.find('@') != std::string_view::npos) return std::nullopt;

    std::string_view hostPart = authority;
    std::string_view portPart;
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        hostPart = authority.substr(1, close - 1);
        auto after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            portPart = after.substr(1);
            if (portPart.empty()) return std::nullopt;
        }
        if (hostPart.empty() || !std::all_of(hostPart.begin(), hostPart.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
            }))
            return std::nullopt;
    } else {
        auto colon = authority.rfind(':');
        if (colon != std::string_view::npos) {
            hostPart = authority.substr(0, colon);
            portPart = authority.substr(colon + 1);
            if (portPart.empty()) return std::nullopt;
        }
        if (hostPart.empty() || !std::all_of(hostPart.begin(), hostPart.end(), [](char c) {
                return isHostChar(static_cast<unsigned char>(c));
            }))
            return std::nullopt;
    }
    if (!portPart.empty()) {
        int port = 0;
        auto [p, ec] = std::from_chars(portPart.data(), portPart.data() + portPart.size(), port);
        if (ec != std::errc() || p != portPart.data() + portPart.size() || port < 1 || port > 65535)
            return std::nullopt;
        out.port = port;
    }
    out.host = std::string(hostPart);
    // The fragment is never sent.
    auto hash = target.find('#');
    if (hash != std::string_view::npos) target = target.substr(0, hash);
    out.target = target.empty() ? "/" : std::string(target);
    if (out.target.front() == '?') out.target.insert(out.target.begin(), '/');
    return out;
}

std::optional<std::string> HttpResponse::header(std::string_view name) const {
    const std::string wanted = asciiLowerCased(name);
    for (const auto& [k, v] : headers)
        if (asciiLowerCased(k) == wanted) return v;
    return std::nullopt;
}

const char* toString(HttpError error) {
    switch (error) {
        case HttpError::none:
            return "none";
        case HttpError::invalidUrl:
            return "invalid address";
        case HttpError::connectionFailed:
            return "connection failed";
        case HttpError::timedOut:
            return "timed out";
        case HttpError::bodyTooLarge:
            return "reply too large";
        case HttpError::headersTooLarge:
            return "reply headers too large";
        case HttpError::badReply:
            return "malformed reply";
        case HttpError::unsupportedEncoding:
            return "encoded reply";
        case HttpError::tlsFailed:
            return "certificate refused";
        case HttpError::invalidRequest:
            return "invalid request";
        case HttpError::cancelled:
            return "cancelled";
    }
    return "unknown";
}

HttpCancel::HttpCancel() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

HttpCancel::~HttpCancel() {
    if (fd_ >= 0) ::close(fd_);
}

void HttpCancel::cancel() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
}

bool HttpCancel::cancelled() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

namespace {

using net::Connection;
using net::Deadline;
using net::Io;

// Two per peer: a command never queues behind a slow read, and the refresh's
// parallel reads share the same two connections tick after tick.
constexpr std::size_t kConnectionsPerPeer = 2;

bool isToken(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || (u != 0 && std::strchr("!#$%&'*+-.^_`|~", u) != nullptr);
    });
}

bool isFieldValue(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u == '\t' || (u >= 0x20 && u != 0x7f);
    });
}

// The request as it goes on the wire; none when a method or header could
// break out of its line, or would contradict the framing written here.
std::optional<std::string> wireRequest(const HttpRequest& r, const ParsedUrl& url, bool close) {
    if (!isToken(r.method)) return std::nullopt;
    std::string w;
    w.reserve(256 + r.body.size());
    w.append(r.method).append(" ").append(url.target).append(" HTTP/1.1\r\nHost: ");
    if (url.host.find(':') != std::string::npos)
        w.append("[").append(url.host).append("]");
    else
        w.append(url.host);
    if (url.port != (url.scheme == "https" ? 443 : 80))
        w.append(":").append(std::to_string(url.port));
    w.append("\r\n");
    bool hasType = false;
    for (const auto& [k, v] : r.headers) {
        if (!isToken(k) || !isFieldValue(v)) return std::nullopt;
        const std::string name = asciiLowerCased(k);
        if (name == "host" || name == "content-length" || name == "transfer-encoding" ||
            name == "connection")
            return std::nullopt;
        hasType = hasType || name == "content-type";
        w.append(k).append(": ").append(v).append("\r\n");
    }
    if (!r.body.empty() || r.method == "POST" || r.method == "PUT" || r.method == "PATCH") {
        if (!hasType) w.append("Content-Type: application/json\r\n");
        w.append("Content-Length: ").append(std::to_string(r.body.size())).append("\r\n");
    }
    if (close) w.append("Connection: close\r\n");
    w.append("\r\n").append(r.body);
    return w;
}

HttpError errorOf(Io io) {
    switch (io) {
        case Io::timedOut:
            return HttpError::timedOut;
        case Io::cancelled:
            return HttpError::cancelled;
        default:
            return HttpError::connectionFailed;
    }
}

struct StreamMode {
    const HttpBodySink& sink;
    std::chrono::milliseconds idle;
};

struct Attempt {
    HttpResponse response;
    bool keep = false;        // the connection may carry the next request
    std::size_t written = 0;  // request bytes the peer may have received
    bool replyBegun = false;  // a byte of the reply arrived
};

// Writes the request and reads its reply on `conn`, within `deadline` (for a
// stream: up to the end of the headers, then `idle` between reads).
Attempt exchange(Connection& conn, std::string_view wire, const HttpRequest& request,
                 Deadline deadline, int cancelFd, const StreamMode* stream) {
    Attempt a;
    HttpResponse& res = a.response;
    if (const Io io = conn.writeAll(wire, deadline, cancelFd, a.written); io != Io::ok) {
        res.error = errorOf(io);
        return a;
    }

    HttpReplyLimits limits;
    limits.maxBodyBytes = request.maxBodyBytes;
    HttpReplyParser parser(limits, request.method == "HEAD");
    std::string body;
    bool streaming = false;
    bool stopped = false;
    const HttpReplyParser::BodySink collect = [&](std::string_view piece) {
        body.append(piece);
        return true;
    };
    const HttpReplyParser::BodySink forward = [&](std::string_view piece) {
        stopped = !stream->sink(piece);
        return !stopped;
    };
    const HttpReplyParser::BodySink* sink = &collect;
    Deadline readBy = deadline;
    bool extra = false;
    char buffer[16 * 1024];
    for (auto p = HttpReplyParser::Progress::more;;) {
        std::size_t got = 0;
        const Io io = conn.readSome(buffer, sizeof buffer, readBy, cancelFd, got);
        if (io == Io::closed) {
            p = parser.finish();
        } else if (io != Io::ok) {
            res.error = errorOf(io);
            return a;
        } else {
            a.replyBegun = true;
            std::string_view data(buffer, got);
            while (true) {
                std::size_t used = 0;
                p = parser.feed(data, *sink, used);
                data.remove_prefix(used);
                if (p != HttpReplyParser::Progress::headers) break;
                if (stream && parser.status() >= 200 && parser.status() < 300) {
                    parser.setMaxBodyBytes(SIZE_MAX);
                    sink = &forward;
                    streaming = true;
                }
            }
            extra = p == HttpReplyParser::Progress::done && !data.empty();
        }
        if (p == HttpReplyParser::Progress::done) break;
        if (p == HttpReplyParser::Progress::failed) {
            if (stopped) break;
            res.error = parser.error();
            return a;
        }
        if (io == Io::closed) {
            res.error = HttpError::connectionFailed;
            return a;
        }
        if (streaming) readBy = Deadline::in(stream->idle);
    }
    res.status = parser.status();
    res.headers = parser.takeHeaders();
    if (parser.hasBody() && !streaming) res.body = std::move(body);
    // Bytes past the reply were never asked for: the stream cannot be trusted.
    a.keep = parser.keepAlive() && !extra && !streaming && !stopped;
    return a;
}

HttpResponse failure(HttpError error) {
    HttpResponse r;
    r.error = error;
    return r;
}

HttpResponse oneShot(const HttpRequest& request, const StreamMode* stream, HttpCancel* cancel) {
    const auto url = parseUrl(request.url);
    if (!url) return failure(HttpError::invalidUrl);
    const auto wire = wireRequest(request, *url, true);
    if (!wire) return failure(HttpError::invalidRequest);
    const int cancelFd = cancel ? cancel->fd() : -1;
    if (cancel && cancel->cancelled()) return failure(HttpError::cancelled);
    const Deadline deadline = Deadline::in(request.timeout);
    HttpResponse res;
    auto conn = Connection::open(*url, request.tls, deadline, cancelFd, {}, res.error, res.tls);
    if (!conn) return res;
    return exchange(*conn, *wire, request, deadline, cancelFd, stream).response;
}

}  // namespace

HttpResponse httpSend(const HttpRequest& request) {
    return oneShot(request, nullptr, nullptr);
}

HttpResponse httpStream(const HttpRequest& request, const HttpBodySink& onBody,
                        const HttpStreamOptions& options) {
    const StreamMode mode{onBody, options.idleTimeout};
    return oneShot(request, &mode, options.cancel);
}

struct HttpSession::State {
    struct Pool {
        std::vector<std::unique_ptr<Connection>> idle;
        std::size_t open = 0;  // idle and in use
    };
    std::mutex mutex;
    std::condition_variable freed;
    std::map<std::string, Pool> pools;
    std::atomic<std::size_t> handshakes{0};
    std::atomic<std::size_t> connections{0};

    void release(const std::string& key, std::unique_ptr<Connection> conn) {
        {
            std::lock_guard lock(mutex);
            Pool& pool = pools[key];
            if (conn)
                pool.idle.push_back(std::move(conn));
            else
                --pool.open;
        }
        freed.notify_one();
    }
};

HttpSession::HttpSession() : state_(std::make_unique<State>()) {}
HttpSession::~HttpSession() = default;

std::size_t HttpSession::handshakes() const {
    return state_->handshakes;
}
std::size_t HttpSession::connections() const {
    return state_->connections;
}

void HttpSession::closeIdle() {
    std::vector<std::unique_ptr<Connection>> closing;
    {
        std::lock_guard lock(state_->mutex);
        for (auto& [key, pool] : state_->pools) {
            pool.open -= pool.idle.size();
            for (auto& c : pool.idle) closing.push_back(std::move(c));
            pool.idle.clear();
        }
    }
    state_->freed.notify_all();
}

HttpResponse HttpSession::send(const HttpRequest& request) {
    const auto url = parseUrl(request.url);
    if (!url) return failure(HttpError::invalidUrl);
    const auto wire = wireRequest(request, *url, false);
    if (!wire) return failure(HttpError::invalidRequest);
    const Deadline deadline = Deadline::in(request.timeout);
    std::string key = url->scheme + "://" + url->host + ":" + std::to_string(url->port);
    if (url->scheme == "https") key += "|" + request.tls.value_or(TlsIdentity::web()).key();
    State& s = *state_;

    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<Connection> conn;
        {
            std::unique_lock lock(s.mutex);
            State::Pool& pool = s.pools[key];
            if (!s.freed.wait_until(lock, deadline.at(), [&] {
                    return !pool.idle.empty() || pool.open < kConnectionsPerPeer;
                }))
                return failure(HttpError::timedOut);
            if (!pool.idle.empty()) {
                conn = std::move(pool.idle.back());
                pool.idle.pop_back();
            } else {
                ++pool.open;
            }
        }
        bool reused = conn != nullptr;
        // The peer closed it while it sat idle: no need to find out the hard way.
        if (reused && conn->looksClosed()) {
            conn.reset();
            reused = false;
        }
        if (!conn) {
            HttpResponse res;
            conn = Connection::open(*url, request.tls, deadline, -1,
                                    {&s.connections, &s.handshakes}, res.error, res.tls);
            if (!conn) {
                s.release(key, nullptr);
                return res;
            }
        }
        Attempt a = exchange(*conn, *wire, request, deadline, -1, nullptr);
        // A kept connection may have been closed by the peer just as we wrote;
        // sending again is safe when the request cannot have been acted on.
        const bool readOnly = request.method == "GET" || request.method == "HEAD";
        const bool retry = reused && attempt == 0 && !a.replyBegun &&
                           a.response.error == HttpError::connectionFailed &&
                           (readOnly || a.written == 0) && !deadline.passed();
        s.release(key, a.keep ? std::move(conn) : nullptr);
        if (!retry) return std::move(a.response);
    }
}

}  // namespace lumora
