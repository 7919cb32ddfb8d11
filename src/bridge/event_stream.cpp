#include "bridge/event_stream.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

#include "bridge/decode.h"

namespace lumora {

using nlohmann::json;

EventStreamParser::EventStreamParser(std::size_t maxEventBytes) : cap_(maxEventBytes) {}

void EventStreamParser::feed(std::string_view bytes,
                             const std::function<void(const ServerSentEvent&)>& onEvent) {
    if (!started_) {
        // A byte-order mark is skipped at the very start only; it may itself
        // arrive split, so hold the first bytes until they tell.
        static constexpr std::string_view bom = "\xEF\xBB\xBF";
        hold_.append(bytes);
        if (hold_.size() < bom.size() && bom.substr(0, hold_.size()) == hold_) return;
        started_ = true;
        std::string head = std::move(hold_);
        hold_.clear();
        if (std::string_view(head).substr(0, bom.size()) == bom) head.erase(0, bom.size());
        process(head, onEvent);
        return;
    }
    process(bytes, onEvent);
}

void EventStreamParser::process(std::string_view bytes,
                                const std::function<void(const ServerSentEvent&)>& onEvent) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\n' && c != '\r') continue;
        if (c == '\n' && afterCR_ && i == start && line_.empty() && !lineTooLong_) {
            // The LF of a CRLF whose CR ended the previous line.
            afterCR_ = false;
            start = i + 1;
            continue;
        }
        afterCR_ = c == '\r';
        const std::string_view piece = bytes.substr(start, i - start);
        if (lineTooLong_) {
            lineTooLong_ = false;
            line_.clear();
            discarding_ = true;
            eventBytes_ = cap_ + 1;
        } else if (line_.empty()) {
            line(piece, onEvent);
        } else {
            line_.append(piece);
            std::string whole = std::move(line_);
            line_.clear();
            line(whole, onEvent);
        }
        start = i + 1;
    }
    if (start < bytes.size()) {
        afterCR_ = false;
        const std::string_view rest = bytes.substr(start);
        if (lineTooLong_) return;
        if (eventBytes_ + line_.size() + rest.size() > cap_) {
            // Never hold more than the cap of one line that will be dropped.
            lineTooLong_ = true;
            line_.clear();
            line_.shrink_to_fit();
            return;
        }
        line_.append(rest);
    }
}

void EventStreamParser::line(std::string_view text,
                             const std::function<void(const ServerSentEvent&)>& onEvent) {
    if (text.empty()) {
        endOfEvent(onEvent);
        return;
    }
    eventBytes_ += text.size() + 1;
    if (eventBytes_ > cap_) discarding_ = true;
    if (discarding_) return;
    if (text.front() == ':') return;  // a comment
    const std::size_t colon = text.find(':');
    const std::string_view field = text.substr(0, colon);
    std::string_view value;
    if (colon != std::string_view::npos) {
        value = text.substr(colon + 1);
        if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    }
    if (field == "data") {
        data_.append(value);
        data_.push_back('\n');
        hasData_ = true;
    } else if (field == "event") {
        type_.assign(value);
    } else if (field == "id") {
        if (value.find('\0') == std::string_view::npos) lastId_.assign(value);
    } else if (field == "retry") {
        if (!value.empty() && value.size() <= 12 &&
            value.find_first_not_of("0123456789") == std::string_view::npos)
            retry_ = std::stoll(std::string(value));
    }
}

void EventStreamParser::endOfEvent(const std::function<void(const ServerSentEvent&)>& onEvent) {
    if (discarding_) {
        ++dropped_;
    } else if (hasData_) {
        data_.pop_back();  // the "\n" after the last data line
        ServerSentEvent event{lastId_, type_.empty() ? "message" : type_, std::move(data_)};
        onEvent(event);
    }
    data_.clear();
    type_.clear();
    hasData_ = false;
    eventBytes_ = 0;
    discarding_ = false;
}

namespace {

// "/lights/3" → light "3"; anything else → nothing.
std::optional<std::pair<StreamResource, std::string>> v1Resource(const json& item) {
    const auto it = item.find("id_v1");
    if (it == item.end() || !it->is_string()) return std::nullopt;
    const std::string& path = it->get_ref<const std::string&>();
    for (const auto& [prefix, kind] :
         {std::pair{std::string_view("/lights/"), StreamResource::light},
          std::pair{std::string_view("/groups/"), StreamResource::group}}) {
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
            const std::string id = path.substr(prefix.size());
            if (id.size() <= 9 && id.find_first_not_of("0123456789") == std::string::npos)
                return std::pair{kind, id};
        }
    }
    return std::nullopt;
}

// Members that carry nothing the records hold.
std::string stringMember(const json& item, const char* key) {
    const auto it = item.find(key);
    return it != item.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool isBookkeeping(const std::string& key) {
    return key == "id" || key == "id_v1" || key == "type" || key == "owner" || key == "dynamics" ||
           key == "alert" || key == "signaling" || key == "identify" || key == "service_id";
}

// An update of a light or grouped light, when every member it carries maps to
// the records exactly.
std::optional<StreamChange> exactChange(const json& item, StreamResource resource, std::string id) {
    StreamChange change{resource, std::move(id), {}, {}, {}};
    for (const auto& [key, value] : item.items()) {
        if (isBookkeeping(key)) continue;
        if (!value.is_object()) return std::nullopt;
        if (key == "on" && value.size() == 1 && value.contains("on") && value["on"].is_boolean()) {
            change.on = value["on"].get<bool>();
        } else if (key == "dimming" && value.size() == 1 && value.contains("brightness") &&
                   value["brightness"].is_number()) {
            const double percent = value["brightness"].get<double>();
            if (!std::isfinite(percent) || percent < 0 || percent > 100) return std::nullopt;
            change.bri = std::clamp<std::int64_t>(std::llround(percent * 2.54), 1, 254);
        } else if (key == "color_temperature" && value.contains("mirek") &&
                   (value.size() == 1 || (value.size() == 2 && value.contains("mirek_valid") &&
                                          value["mirek_valid"] == true))) {
            const auto mirek = wholeNumber(value["mirek"]);
            if (!mirek || *mirek < 1 || *mirek > 65535) return std::nullopt;
            change.ct = *mirek;
        } else {
            return std::nullopt;
        }
    }
    if (!change.on && !change.bri && !change.ct) return std::nullopt;
    return change;
}

void readAgain(StreamEventMeaning& meaning, const json& item) {
    const auto resource = v1Resource(item);
    const std::string type = stringMember(item, "type");
    if (type == "scene") {
        meaning.readScenes = true;
    } else if (resource) {
        (resource->first == StreamResource::light ? meaning.readLights : meaning.readGroups) = true;
    } else if (type == "light") {
        meaning.readLights = true;
    } else if (type == "grouped_light" || type == "room" || type == "zone") {
        meaning.readGroups = true;
    }
}

}  // namespace

StreamEventMeaning readStreamEvent(std::string_view data) {
    StreamEventMeaning meaning;
    json containers = json::parse(data, nullptr, false);
    if (containers.is_discarded() || !containers.is_array()) return meaning;
    meaning.readable = true;
    for (const json& container : containers) {
        if (!container.is_object()) continue;
        const auto kind = container.find("type");
        const auto items = container.find("data");
        if (kind == container.end() || !kind->is_string() || items == container.end() ||
            !items->is_array())
            continue;
        const std::string& what = kind->get_ref<const std::string&>();
        if (what != "update" && what != "add" && what != "delete") continue;
        for (const json& item : *items) {
            if (!item.is_object()) continue;
            const std::string type = stringMember(item, "type");
            const auto resource = v1Resource(item);
            if (what == "update" && resource &&
                ((type == "light" && resource->first == StreamResource::light) ||
                 (type == "grouped_light" && resource->first == StreamResource::group))) {
                if (auto change = exactChange(item, resource->first, resource->second)) {
                    meaning.changes.push_back(std::move(*change));
                    continue;
                }
            }
            readAgain(meaning, item);
        }
    }
    return meaning;
}

}  // namespace lumora
