#pragma once
// Starting the program when the user logs in: an XDG autostart entry,
// autostart/io.github.lumora.Lumora.desktop under the user's configuration
// folder.

#include <filesystem>
#include <optional>
#include <string>

namespace lumora {

// The program's one application id: the desktop file's name (without
// ".desktop"), the AppStream id, the name the program gives the desktop and
// the one it registers with the desktop portal. Chosen once; keep it.
inline constexpr const char* kApplicationId = "io.github.lumora.Lumora";

class LaunchAtLogin {
  public:
    // `configDir` is the folder that holds autostart/ (see configHome());
    // `program` the executable the entry starts (see currentProgram()).
    LaunchAtLogin(std::filesystem::path configDir, std::filesystem::path program);

    // $XDG_CONFIG_HOME, else ~/.config.
    static std::filesystem::path configHome();
    // The running executable: the image file when run from one, else /proc/self/exe.
    static std::filesystem::path currentProgram();

    // The entry exists and is not Hidden=true.
    bool isEnabled() const;
    // On writes the entry, off removes it. False when the file system refused.
    bool setEnabled(bool on);
    // Once at start-up. An entry of ours under the old name
    // (autostart/lumora.desktop) is moved to the current name as it is, its
    // Hidden and enabled keys included; an old one beside a current one is
    // removed, so the desktop never starts the program twice. Then an entry
    // whose program no longer exists (the program was moved or reinstalled
    // elsewhere) is pointed at the current one. True when anything changed.
    bool migrateIfNeeded();

    const std::filesystem::path& entryFile() const { return entry_; }

  private:
    std::string entryText() const;
    bool moveOldEntry();
    std::filesystem::path program_;
    std::filesystem::path entry_;
    std::filesystem::path oldEntry_;
};

// Exec= value for one program path: quoted by the desktop entry rules when it
// holds a reserved character, and escaped for the file's string syntax.
std::string desktopExecValue(const std::filesystem::path& program);
// The program (first argument) of an Exec= value, as the desktop would run it.
std::optional<std::string> desktopExecProgram(const std::string& execValue);

}  // namespace lumora
