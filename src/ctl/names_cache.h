#pragma once
// The names of the last successful read, kept for shell completion: one name
// a line, prefixed by its kind and a tab ("light\tDesk lamp", "room\t...",
// "scene\t...").

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::ctl {

struct Names {
    // A kind left empty (not read this time) keeps the lines it had.
    std::optional<std::vector<std::string>> lights, rooms, scenes;
};

// $XDG_CACHE_HOME/lumora/names, else ~/.cache/lumora/names.
std::filesystem::path namesCacheFile();

// The file's new text from its current text `old`: the lines kept for the
// kinds not read this time, then the names read.
std::string namesCacheText(std::string_view old, const Names& names);

// Replaces the file atomically. Completion is a convenience: a failure to
// write is reported as false and never fails the command that read.
bool updateNamesCache(const std::filesystem::path& file, const Names& names);

}  // namespace lumora::ctl
