#include "bridge/http_reply.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "base/letter_case.h"

namespace lumora {
namespace {

// A chunk-size line with its extensions; nothing sane comes near it.
constexpr std::size_t kMaxChunkLine = 1024;

bool isTokenChar(unsigned char c) {
    return std::isalnum(c) || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool isFieldChar(unsigned char c) {
    return c == '\t' || (c >= 0x20 && c != 0x7f);
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && asciiLowerCased(a) == asciiLowerCased(b);
}

// The comma-separated elements of every header of that name, lower-cased.
std::vector<std::string> listOf(const HttpHeaders& headers, std::string_view name) {
    std::vector<std::string> out;
    for (const auto& [k, v] : headers) {
        if (!equalsNoCase(k, name)) continue;
        std::string_view rest = v;
        while (true) {
            const auto comma = rest.find(',');
            const std::string_view item = trimmed(rest.substr(0, comma));
            if (!item.empty()) out.push_back(asciiLowerCased(item));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    return out;
}

std::optional<std::uint64_t> decimal(std::string_view s) {
    if (s.empty() || s.size() > 18) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

}  // namespace

HttpReplyParser::HttpReplyParser(HttpReplyLimits limits, bool headRequest)
    : limits_(limits), headRequest_(headRequest) {}

HttpReplyParser::Progress HttpReplyParser::fail(HttpError error) {
    state_ = State::failed;
    error_ = error;
    line_.clear();
    line_.shrink_to_fit();
    return Progress::failed;
}

bool HttpReplyParser::takeLine(std::string_view bytes, std::size_t& at, std::size_t cap,
                               HttpError overCap) {
    if (lineComplete_) {
        line_.clear();
        lineComplete_ = false;
    }
    const char* begin = bytes.data() + at;
    const void* nl = std::memchr(begin, '\n', bytes.size() - at);
    const std::size_t n =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - begin) + 1 : bytes.size() - at;
    const bool header =
        state_ == State::statusLine || state_ == State::headerLine || state_ == State::trailer;
    // Counted before anything is kept: a flood never grows the buffer past the cap.
    if (header ? headerBytes_ + n > cap : line_.size() + n > cap) {
        fail(overCap);
        return false;
    }
    if (header) headerBytes_ += n;
    line_.append(begin, nl ? n - 1 : n);
    at += n;
    if (!nl) return false;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    // A CR anywhere else, or a NUL, is how replies get smuggled: refuse.
    if (line_.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) {
        fail(HttpError::badReply);
        return false;
    }
    lineComplete_ = true;
    return true;
}

bool HttpReplyParser::parseStatusLine() {
    std::string_view s = line_;
    if (s.size() < 12 || s.substr(0, 7) != "HTTP/1." || (s[7] != '0' && s[7] != '1') || s[8] != ' ')
        return false;
    minorVersion_ = s[7] - '0';
    int code = 0;
    for (int i = 9; i < 12; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        code = code * 10 + (s[i] - '0');
    }
    if (code < 100 || code > 599) return false;
    if (s.size() > 12) {
        if (s[12] != ' ') return false;
        if (!std::all_of(s.begin() + 13, s.end(),
                         [](char c) { return isFieldChar(static_cast<unsigned char>(c)); }))
            return false;
    }
    status_ = code;
    return true;
}

bool HttpReplyParser::parseHeaderLine() {
    std::string_view s = line_;
    const auto colon = s.find(':');
    // No folded lines (they start with white space) and no space before the colon.
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view name = s.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(),
                     [](char c) { return isTokenChar(static_cast<unsigned char>(c)); }))
        return false;
    const std::string_view value = trimmed(s.substr(colon + 1));
    if (!std::all_of(value.begin(), value.end(),
                     [](char c) { return isFieldChar(static_cast<unsigned char>(c)); }))
        return false;
    if (state_ == State::headerLine) headers_.emplace_back(name, value);
    return true;
}

HttpReplyParser::Progress HttpReplyParser::endOfHeaders() {
    if (status_ < 200) {
        // We never ask to switch protocols; other interim replies precede the real one.
        if (status_ == 101) return fail(HttpError::badReply);
        headers_.clear();
        state_ = State::statusLine;
        return Progress::more;
    }
    const auto transfer = listOf(headers_, "transfer-encoding");
    const auto lengths = listOf(headers_, "content-length");
    for (const auto& coding : listOf(headers_, "content-encoding"))
        if (coding != "identity") return fail(HttpError::unsupportedEncoding);

    const auto connection = listOf(headers_, "connection");
    const auto has = [&](std::string_view token) {
        return std::find(connection.begin(), connection.end(), token) != connection.end();
    };
    keepAlive_ = minorVersion_ == 1 ? !has("close") : has("keep-alive");

    if (headRequest_ || status_ == 204 || status_ == 304) {
        mode_ = Mode::none;
    } else if (!transfer.empty()) {
        // Both framings at once is how a reply hides a second one.
        if (!lengths.empty()) return fail(HttpError::badReply);
        if (transfer.size() != 1 || transfer.front() != "chunked")
            return fail(transfer.back() == "chunked" || transfer.front() != "chunked"
                            ? HttpError::unsupportedEncoding
                            : HttpError::badReply);
        mode_ = Mode::chunked;
    } else if (!lengths.empty()) {
        const auto first = decimal(lengths.front());
        if (!first) return fail(HttpError::badReply);
        for (const auto& l : lengths)
            if (decimal(l) != first) return fail(HttpError::badReply);
        remaining_ = *first;
        mode_ = Mode::length;
    } else {
        mode_ = Mode::close;
        keepAlive_ = false;
    }
    if (mode_ == Mode::none || (mode_ == Mode::length && remaining_ == 0)) {
        mode_ = Mode::none;
        state_ = State::done;
    } else {
        state_ = mode_ == Mode::chunked ? State::chunkSize : State::body;
    }
    line_.clear();
    lineComplete_ = false;
    return Progress::headers;
}

bool HttpReplyParser::deliver(std::string_view piece, const BodySink& sink) {
    bodyBytes_ += piece.size();
    if (bodyBytes_ > limits_.maxBodyBytes) {
        fail(HttpError::bodyTooLarge);
        return false;
    }
    if (sink && !sink(piece)) {
        fail(HttpError::cancelled);
        return false;
    }
    return true;
}

HttpReplyParser::Progress HttpReplyParser::feed(std::string_view bytes, const BodySink& sink,
                                                std::size_t& consumed) {
    std::size_t at = 0;
    const auto out = [&](Progress p) {
        consumed = at;
        return p;
    };
    while (true) {
        switch (state_) {
            case State::done:
                return out(Progress::done);
            case State::failed:
                return out(Progress::failed);
            case State::statusLine:
            case State::headerLine:
            case State::trailer: {
                if (at == bytes.size()) return out(Progress::more);
                if (!takeLine(bytes, at, limits_.maxHeaderBytes, HttpError::headersTooLarge))
                    return out(state_ == State::failed ? Progress::failed : Progress::more);
                if (state_ == State::statusLine) {
                    if (!parseStatusLine()) return out(fail(HttpError::badReply));
                    state_ = State::headerLine;
                } else if (line_.empty()) {
                    if (state_ == State::trailer) {
                        state_ = State::done;
                        return out(Progress::done);
                    }
                    const Progress p = endOfHeaders();
                    if (p != Progress::more) return out(p);
                } else {
                    if (++headerLines_ > limits_.maxHeaderLines)
                        return out(fail(HttpError::headersTooLarge));
                    if (!parseHeaderLine()) return out(fail(HttpError::badReply));
                }
                break;
            }
            case State::body: {
                if (mode_ == Mode::length &&
                    remaining_ > limits_.maxBodyBytes -
                                     std::min(bodyBytes_, std::uint64_t{limits_.maxBodyBytes}))
                    return out(fail(HttpError::bodyTooLarge));
                if (at == bytes.size()) return out(Progress::more);
                std::size_t take = bytes.size() - at;
                if (mode_ == Mode::length)
                    take = static_cast<std::size_t>(std::min<std::uint64_t>(take, remaining_));
                if (!deliver(bytes.substr(at, take), sink)) return out(Progress::failed);
                at += take;
                if (mode_ == Mode::length && (remaining_ -= take) == 0) {
                    state_ = State::done;
                    return out(Progress::done);
                }
                break;
            }
            case State::chunkSize: {
                if (at == bytes.size()) return out(Progress::more);
                if (!takeLine(bytes, at, kMaxChunkLine, HttpError::badReply))
                    return out(state_ == State::failed ? Progress::failed : Progress::more);
                std::string_view s = line_;
                s = trimmed(s.substr(0, s.find(';')));
                if (s.empty() || s.size() > 15 || !std::all_of(s.begin(), s.end(), [](char c) {
                        return std::isxdigit(static_cast<unsigned char>(c));
                    }))
                    return out(fail(HttpError::badReply));
                remaining_ = std::stoull(std::string(s), nullptr, 16);
                if (remaining_ == 0) {
                    state_ = State::trailer;
                } else if (remaining_ > limits_.maxBodyBytes - bodyBytes_) {
                    return out(fail(HttpError::bodyTooLarge));
                } else {
                    state_ = State::chunkData;
                }
                break;
            }
            case State::chunkData: {
                if (at == bytes.size()) return out(Progress::more);
                const std::size_t take = static_cast<std::size_t>(
                    std::min<std::uint64_t>(bytes.size() - at, remaining_));
                if (!deliver(bytes.substr(at, take), sink)) return out(Progress::failed);
                at += take;
                if ((remaining_ -= take) == 0) state_ = State::chunkEnd;
                break;
            }
            case State::chunkEnd: {
                if (at == bytes.size()) return out(Progress::more);
                if (!takeLine(bytes, at, 2, HttpError::badReply))
                    return out(state_ == State::failed ? Progress::failed : Progress::more);
                if (!line_.empty()) return out(fail(HttpError::badReply));
                state_ = State::chunkSize;
                break;
            }
        }
    }
}

HttpReplyParser::Progress HttpReplyParser::finish() {
    if (state_ == State::done) return Progress::done;
    if (state_ == State::failed) return Progress::failed;
    if (state_ == State::body && mode_ == Mode::close) {
        state_ = State::done;
        return Progress::done;
    }
    // Closed before the reply was whole: nothing of it can be trusted.
    return fail(HttpError::connectionFailed);
}

ParsedReply parseHttpReply(std::string_view bytes, const HttpReplyLimits& limits, bool headRequest,
                           std::size_t piece) {
    ParsedReply out;
    HttpReplyParser parser(limits, headRequest);
    const HttpReplyParser::BodySink sink = [&](std::string_view b) {
        out.body.append(b);
        return true;
    };
    piece = std::max<std::size_t>(piece, 1);
    HttpReplyParser::Progress p = HttpReplyParser::Progress::more;
    std::size_t at = 0;
    while (p != HttpReplyParser::Progress::done && p != HttpReplyParser::Progress::failed) {
        if (at == bytes.size() && p == HttpReplyParser::Progress::more) {
            p = parser.finish();
            break;
        }
        const std::string_view next = bytes.substr(at, std::min(piece, bytes.size() - at));
        std::size_t used = 0;
        p = parser.feed(next, sink, used);
        at += used;
    }
    out.error = parser.error();
    out.status = parser.status();
    out.headers = parser.headers();
    out.keepAlive = parser.keepAlive();
    out.consumed = at;
    if (out.error != HttpError::none) out.body.clear();
    return out;
}

}  // namespace lumora
