#include "bridge/http.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/letter_case.h"

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
    }
    return "unknown";
}

HttpResponse httpSend(const HttpRequest& request) {
    HttpResponse out;
    auto url = parseUrl(request.url);
    if (!url) {
        out.error = HttpError::invalidUrl;
        return out;
    }

    const std::string hostForUrl =
        url->host.find(':') != std::string::npos ? "[" + url->host + "]" : url->host;
    httplib::Client client(url->scheme + "://" + hostForUrl + ":" + std::to_string(url->port));
    const auto timeout = request.timeout;
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const auto usecs = std::chrono::duration_cast<std::chrono::microseconds>(timeout - secs);
    client.set_connection_timeout(secs.count(), usecs.count());
    client.set_read_timeout(secs.count(), usecs.count());
    client.set_write_timeout(secs.count(), usecs.count());
    client.set_keep_alive(false);
    // The library sends a request's headers and body in two writes; without
    // this the body would wait for the bridge to acknowledge the headers.
    client.set_tcp_nodelay(true);
    client.set_follow_location(false);
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    client.enable_server_certificate_verification(true);
#endif

    httplib::Request req;
    req.method = request.method;
    req.path = url->target;
    for (const auto& [k, v] : request.headers) req.headers.emplace(k, v);
    if (!request.body.empty() || request.method == "POST" || request.method == "PUT") {
        req.body = request.body;
        if (!req.has_header("Content-Type"))
            req.headers.emplace("Content-Type", "application/json");
    }

    // The read time-out applies per read; this deadline bounds the whole reply,
    // so a bridge that trickles bytes cannot hold the caller for long.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string body;
    bool gotBody = false;
    bool tooLarge = false;
    bool late = false;
    req.content_receiver = [&](const char* data, size_t len, uint64_t, uint64_t) {
        if (body.size() + len > request.maxBodyBytes) {
            tooLarge = true;
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            late = true;
            return false;
        }
        body.append(data, len);
        gotBody = true;
        return true;
    };

    httplib::Response res;
    httplib::Error err = httplib::Error::Success;
    const bool sent = client.send(req, res, err);
    if (tooLarge) {
        out.error = HttpError::bodyTooLarge;
        return out;
    }
    if (late) {
        out.error = HttpError::timedOut;
        return out;
    }
    if (!sent) {
        out.error =
            (err == httplib::Error::Read || err == httplib::Error::Write ||
             err == httplib::Error::ConnectionTimeout) &&
                    std::chrono::steady_clock::now() >= deadline - std::chrono::milliseconds(50)
                ? HttpError::timedOut
                : HttpError::connectionFailed;
        return out;
    }
    out.status = res.status;
    if (gotBody) out.body = std::move(body);
    return out;
}

}  // namespace lumora
