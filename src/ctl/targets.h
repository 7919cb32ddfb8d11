#pragma once
// Finding what a command-line argument names: a light or a room by bridge id
// or exact name, a scene by id or exact name.

#include <string>
#include <variant>
#include <vector>

#include "bridge/records.h"

namespace lumora::ctl {

struct TargetError {
    std::string message;  // names the candidates when ambiguous
};

using Target = std::variant<HueLight, HueGroup>;

// "light:ID" and "room:ID" pick one kind explicitly.
std::variant<Target, TargetError> findTarget(const std::string& text,
                                             const std::vector<HueLight>& lights,
                                             const std::vector<HueGroup>& groups);
std::variant<HueScene, TargetError> findScene(const std::string& text,
                                              const std::vector<HueScene>& scenes);

}  // namespace lumora::ctl
