#pragma once
// The one HTTP client the program uses: blocking calls (run them on a worker).
// Every request ends within its time-out, counted from the first byte, in
// whatever phase the peer stalls; no reply holds more than its caps in memory.
// Redirects are never followed; a Content-Encoding other than identity is
// refused (we never ask for one).

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/http_tls.h"

namespace lumora {

inline constexpr std::size_t kMaxReplyBytes = 16u * 1024u * 1024u;
// Status line and headers together; a bridge sends well under 1 KiB.
inline constexpr std::size_t kMaxHeaderBytes = 64u * 1024u;
inline constexpr std::size_t kMaxHeaderLines = 100;

struct ParsedUrl {
    std::string scheme;  // "http" or "https"
    std::string host;    // without brackets for IPv6 literals
    int port = 0;
    std::string target;  // path and query, at least "/"
};

// Parses an absolute http(s) URL the way a strict URL parser would: no white
// space, no control or non-ASCII characters, a host, a port from 1 to 65535.
std::optional<ParsedUrl> parseUrl(std::string_view url);

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::string body;
    HttpHeaders headers;
    std::chrono::milliseconds timeout{60000};
    std::size_t maxBodyBytes = kMaxReplyBytes;
    // How an https peer proves who it is; the system's roots and the URL's
    // host when absent. Unused for http.
    std::optional<TlsIdentity> tls;
};

enum class HttpError {
    none,
    invalidUrl,
    connectionFailed,  // refused, reset, unreachable, closed early
    timedOut,
    bodyTooLarge,
    headersTooLarge,      // status line and headers over their caps
    badReply,             // malformed status line, headers, length or chunking
    unsupportedEncoding,  // a compressed (or otherwise encoded) body
    tlsFailed,            // see HttpResponse::tls for what failed
    invalidRequest,       // a method or header that cannot go on the wire as given
    cancelled,
};

struct HttpResponse {
    HttpError error = HttpError::none;
    int status = 0;
    HttpHeaders headers;              // as received, in order
    std::optional<std::string> body;  // absent on error or when the reply had no body
    TlsRefusal tls;                   // set when error == tlsFailed

    bool ok() const { return error == HttpError::none; }
    // The first header of that name (compared without case), e.g. "Location".
    std::optional<std::string> header(std::string_view name) const;
};

// Sends one request on a connection of its own and waits for the whole reply,
// at most `timeout` in all.
HttpResponse httpSend(const HttpRequest& request);

// Wakes a blocked request from another thread; it then ends with `cancelled`.
class HttpCancel {
  public:
    HttpCancel();
    ~HttpCancel();
    HttpCancel(const HttpCancel&) = delete;
    HttpCancel& operator=(const HttpCancel&) = delete;

    void cancel();
    bool cancelled() const;
    int fd() const { return fd_; }  // readable once cancelled

  private:
    int fd_ = -1;
};

// A reply body that arrives piece by piece for as long as the peer keeps it
// open. Return false to stop reading (the request then ends without error).
using HttpBodySink = std::function<bool(std::string_view piece)>;

struct HttpStreamOptions {
    // Once the headers are in, the longest silence tolerated; the request's
    // own time-out bounds everything up to the end of the headers.
    std::chrono::milliseconds idleTimeout{90000};
    HttpCancel* cancel = nullptr;
};

// One long-lived request on a connection of its own. A 2xx body goes to
// `onBody` as it arrives and is never kept; any other status comes back with
// its body (within maxBodyBytes) as from httpSend.
HttpResponse httpStream(const HttpRequest& request, const HttpBodySink& onBody,
                        const HttpStreamOptions& options = {});

// Keeps connections alive between requests, at most two per peer and identity
// (a command need not wait behind a slow read), so a refresh every few seconds
// does not pay a TLS handshake each time. Thread-safe.
class HttpSession {
  public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // As httpSend, over a kept connection where one is free. A request that
    // finds a kept connection closed under it is sent again once on a fresh
    // one when that cannot repeat its effect: a GET or HEAD whose reply had
    // not begun, any request none of whose bytes could be written.
    HttpResponse send(const HttpRequest& request);

    // Closes the idle connections (after a wake-up, a change of bridge).
    void closeIdle();

    std::size_t handshakes() const;   // TLS handshakes completed so far
    std::size_t connections() const;  // connections opened so far

  private:
    struct State;
    std::unique_ptr<State> state_;
};

const char* toString(HttpError error);

}  // namespace lumora
