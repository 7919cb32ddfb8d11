#include "simulator/fixtures.h"

#include <fstream>
#include <sstream>

#include "simulator/request_body.h"

namespace lumora::sim {

Json readFixture(const std::string& nameOrPath, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return Json(Json::value_t::discarded);
    };
    std::string text;
    std::string origin;
    for (const auto& fixture : embeddedFixtures()) {
        if (fixture.name == nameOrPath) {
            text = fixture.text;
            origin = "fixture '" + nameOrPath + "'";
            break;
        }
    }
    if (origin.empty()) {
        std::ifstream file(nameOrPath, std::ios::binary);
        if (!file) {
            std::string names;
            for (const auto& fixture : embeddedFixtures()) {
                names += (names.empty() ? "" : ", ") + std::string(fixture.name);
            }
            return fail("no fixture named '" + nameOrPath + "' (known: " + names +
                        ") and no readable file by that path");
        }
        std::ostringstream content;
        content << file.rdbuf();
        text = content.str();
        origin = "'" + nameOrPath + "'";
    }
    Json fixture = parseBody(text);
    if (fixture.is_discarded()) return fail(origin + " is not valid JSON");
    if (!fixture.is_object()) return fail(origin + " is not a JSON object");
    return fixture;
}

}  // namespace lumora::sim
