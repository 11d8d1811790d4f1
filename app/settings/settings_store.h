// The control application's settings: an INI profile read once at start and written once
// when the main window goes away.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "controller/frequency_controller.h"

namespace tovrik {

// An INI file with the semantics of the Windows private-profile functions: section and key
// names match without regard to case, a value is replaced in place, a new key goes to the
// end of its section and a new section to the end of the file; everything else in the file
// (other sections, keys, comments) is kept. Changes stay in memory until Save().
class IniProfile {
public:
    IniProfile() = default;
    explicit IniProfile(std::filesystem::path path);  // reads the file; a missing file is empty

    const std::filesystem::path& path() const { return path_; }

    // The default when the key is absent.
    int ReadInt(const std::string& section, const std::string& key, int defaultValue) const;
    std::string ReadText(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
    void WriteInt(const std::string& section, const std::string& key, int value);
    void WriteText(const std::string& section, const std::string& key, const std::string& value);

    // Writes the whole file through a temporary file in the same folder and a rename, so a
    // failed or interrupted save leaves the previous file as it was. False on failure.
    bool Save() const;

    std::string Text() const;  // the file's text as Save() would write it

private:
    std::filesystem::path path_;
    std::vector<std::string> lines_;
};

// TOVRIK.INI (the executable's base name + ".INI") in $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path DefaultProfilePath(const std::string& executableBaseName);

// Reads every key into `state` in the established order and returns the step index to mark
// pressed (a stored index outside 0..8 falls back to the default). Sets outputOn when
// OutStart is set. Does not refresh: the caller marks the step button, the output button and
// then calls Refresh().
int LoadSettings(const IniProfile& profile, ControllerState& state);

// Writes every key from `state` in the established order. `pressedStepIndex` is the pressed
// step button's index 0..8, or empty while the fine step is selected (Step then keeps its
// stored value).
void SaveSettings(IniProfile& profile, const ControllerState& state,
                  std::optional<int> pressedStepIndex);

}  // namespace tovrik
