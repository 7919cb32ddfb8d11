#pragma once
// The one HTTP client the program uses: blocking calls (run them on a worker),
// a time-out per call and a cap on the reply body.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumora {

inline constexpr std::size_t kMaxReplyBytes = 16u * 1024u * 1024u;

struct ParsedUrl {
    std::string scheme;  // "http" or "https"
    std::string host;    // without brackets for IPv6 literals
    int port = 0;
    std::string target;  // path and query, at least "/"
};

// Parses an absolute http(s) URL the way a strict URL parser would: no white
// space, no control or non-ASCII characters, a host, a port from 1 to 65535.
std::optional<ParsedUrl> parseUrl(std::string_view url);

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::milliseconds timeout{60000};
    std::size_t maxBodyBytes = kMaxReplyBytes;
};

enum class HttpError {
    none,
    invalidUrl,
    connectionFailed,  // refused, reset, unreachable, closed early
    timedOut,
    bodyTooLarge,
};

struct HttpResponse {
    HttpError error = HttpError::none;
    int status = 0;
    std::optional<std::string> body;  // absent on error or when the reply had no body

    bool ok() const { return error == HttpError::none; }
};

// Sends one request and waits for the whole reply, at most `timeout` in all.
HttpResponse httpSend(const HttpRequest& request);

const char* toString(HttpError error);

}  // namespace lumora
