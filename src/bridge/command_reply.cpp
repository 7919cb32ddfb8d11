#include "bridge/command_reply.h"

#include <nlohmann/json.hpp>

#include "base/utf8.h"

namespace lumora {
namespace {

using nlohmann::json;

// Why the bridge refused, from one error entry. Its members may be of any
// kind: text is taken as sent, anything else falls back to the type.
std::string refusalReason(const json& error) {
    if (auto d = error.find("description");
        d != error.end() && d->is_string() && !d->get_ref<const std::string&>().empty())
        return printable(d->get_ref<const std::string&>());
    if (auto t = error.find("type"); t != error.end() && t->is_number())
        return "error type " + t->dump();
    return "no reason given";
}

void readRefusals(std::string_view body, CommandOutcome& out) {
    const json reply = json::parse(body, nullptr, false);
    if (!reply.is_array()) return;
    for (const auto& entry : reply) {
        if (!entry.is_object()) continue;
        auto error = entry.find("error");
        if (error == entry.end() || !error->is_object()) continue;
        if (out.refusals.size() < kMaxRefusalsKept)
            out.refusals.push_back(refusalReason(*error));
        else
            ++out.moreRefusals;
    }
    if (!out.refusals.empty()) out.kind = CommandOutcome::Kind::refused;
}

bool isControl(char32_t c) {
    // C0, DEL and C1, and the marks that reorder what follows them on screen.
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string printable(std::string_view text, std::size_t max) {
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decodeUtf8(text, i);
        if (shown == max) {
            out += "\u2026";
            break;
        }
        if (!c.valid || isControl(c.codePoint))
            appendUtf8(out, U'\uFFFD');
        else
            out.append(text.substr(i, c.length));
        ++shown;
        i += c.length;
    }
    return out;
}

std::string_view statusReason(int status) {
    switch (status) {
        case 300:
            return "Multiple Choices";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return {};
    }
}

std::string statusText(int status) {
    const std::string_view reason = statusReason(status);
    if (reason.empty()) return "HTTP " + std::to_string(status);
    return std::to_string(status) + " " + std::string(reason);
}

std::string noReplyText(HttpError error) {
    switch (error) {
        case HttpError::none:
            return "no problem";
        case HttpError::invalidUrl:
            return "the address does not form a URL";
        case HttpError::connectionFailed:
            return "no connection (refused, reset or unreachable)";
        case HttpError::timedOut:
            return "the bridge did not answer in time";
        case HttpError::bodyTooLarge:
            return "the reply is larger than " + std::to_string(kMaxReplyBytes >> 20) + " MiB";
        case HttpError::headersTooLarge:
            return "the reply's headers are larger than " + std::to_string(kMaxHeaderBytes >> 10) +
                   " KiB";
        case HttpError::badReply:
            return "the reply is not well-formed HTTP";
        case HttpError::unsupportedEncoding:
            return "the reply came encoded (compressed), which was not asked for";
        case HttpError::tlsFailed:
            return "the bridge's certificate was refused";
        case HttpError::invalidRequest:
            return "the request could not be sent as given";
        case HttpError::cancelled:
            return "the request was cancelled";
    }
    return "no usable reply";
}

CommandOutcome commandOutcome(const HttpResponse& reply) {
    using Kind = CommandOutcome::Kind;
    CommandOutcome out;
    out.status = reply.status;
    if (!reply.ok()) {
        out.kind = Kind::noReply;
        out.error = reply.error;
        if (reply.error == HttpError::tlsFailed) out.tlsDetail = describe(reply.tls);
        return out;
    }
    if (reply.status >= 200 && reply.status <= 299) {
        if (reply.body) readRefusals(*reply.body, out);
        return out;
    }
    // The body of any other status is never read: a busy bridge or a proxy
    // in front of it may send anything there, a success list included.
    if (reply.status >= 300 && reply.status <= 399) {
        out.kind = Kind::redirected;
        if (auto where = reply.header("Location")) out.location = printable(*where);
    } else {
        out.kind = reply.status == 429 ? Kind::busy : Kind::badStatus;
    }
    return out;
}

std::string CommandOutcome::describe() const {
    switch (kind) {
        case Kind::accepted:
            return "the bridge took it";
        case Kind::noReply:
            if (error == HttpError::tlsFailed && !tlsDetail.empty())
                return "the bridge " + printable(tlsDetail);
            return noReplyText(error);
        case Kind::redirected:
            return "the bridge answered " + statusText(status) +
                   (location.empty() ? ", without saying where to" : ", pointing to " + location) +
                   "; redirects are not followed";
        case Kind::busy:
            return "the bridge is busy (" + statusText(status) + ")";
        case Kind::badStatus:
            return "the bridge answered " + statusText(status);
        case Kind::refused: {
            std::string line = "the bridge refused: ";
            for (std::size_t i = 0; i < refusals.size(); ++i) line += (i ? "; " : "") + refusals[i];
            if (moreRefusals) line += " (and " + std::to_string(moreRefusals) + " more)";
            return line;
        }
    }
    return {};
}

}  // namespace lumora
