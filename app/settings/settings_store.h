// The control application's settings: an INI profile read once at start and written once
// when the main window goes away.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "controller/frequency_controller.h"

namespace tovrik {

// An INI file with the semantics of the Windows private-profile functions: section and key
// names match without regard to case, a value is replaced in place, a new key goes to the
// end of its section and a new section to the end of the file; everything else in the file
// (other sections, keys, comments) is kept. Changes stay in memory until Save().
//
// Reading: lines end at LF; carriage returns before it are kept with the line, so lines the
// program does not change are written back byte for byte. "[name]" (blanks allowed around it
// and the name) opens a section; a line starting with '[' but without ']' opens nothing.
// "key=value" lines hold values, key and value trimmed of blanks; lines starting with ';' are
// comments. Case is folded for ASCII letters only. When a section name occurs twice, a key is
// looked up in each in file order and the first hit wins; a new key goes to the first one. Lines
// before the first section and lines that are none of the above are kept but never matched. Bytes
// of any value (NUL, non-UTF-8) are kept as they are.
//
// Writing: the replaced line becomes "key=value" with the key spelled as in the file. A new
// key follows the section's last key line (so blank lines and comments that end the section
// stay in front of the next one); a new section goes to the end, after one blank line when
// the file has text. A value (or name) is cut at its first line break, which would otherwise
// split it into lines of their own. A replaced line keeps its carriage returns; new lines end
// like the file's first line.
class IniProfile {
  public:
    IniProfile() = default;
    explicit IniProfile(std::filesystem::path path);  // reads the file; a missing file is empty

    const std::filesystem::path& path() const { return path_; }

    // The default when the key is absent. ReadInt also gives the default for an empty value
    // and otherwise parses like ParseProfileInt.
    int ReadInt(const std::string& section, const std::string& key, int defaultValue) const;
    std::string ReadText(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
    void WriteInt(const std::string& section, const std::string& key, int value);
    void WriteText(const std::string& section, const std::string& key, const std::string& value);

    // Writes the whole file through a temporary file in the same folder and a rename, so a
    // failed or interrupted save leaves the previous file as it was. False on failure, with
    // the system's reason in `reason`. Creates a missing parent folder (mode 0700); refuses a
    // file that exists but whose mode bits deny the user writing (root included). Removes the
    // temporary files of killed saves. A symbolic link is followed: its target is replaced.
    bool Save(std::error_code* reason = nullptr) const;

    std::string Text() const;  // the file's text as Save() would write it

  private:
    std::filesystem::path path_;
    std::vector<std::string> lines_;
};

// TOVRIK.INI (the executable's base name + ".INI") in $XDG_CONFIG_HOME, else ~/.config.
// A relative or empty XDG_CONFIG_HOME is ignored; without HOME the password database's home
// folder is used.
std::filesystem::path DefaultProfilePath(const std::string& executableBaseName);

// Integer text as the profile reads it: leading blanks, an optional '+' or '-', then decimal
// digits up to the first other character ("12abc" is 12, "0x10" is 0). No digits gives 0.
// Values beyond the int range clamp to INT_MIN / INT_MAX rather than wrap, so a huge flag
// value still reads as set.
int ParseProfileInt(std::string_view text);

// A decimal number in the C locale, whatever the process locale: leading white space, an
// optional sign, digits, an optional point and fraction, an optional exponent; the rest of
// the text is ignored. Text that does not start with a number (hex, "inf" and "nan" among
// it) gives 0.0, and so does a value too large for a double: the result is always finite.
// Stops at an embedded NUL.
double ParseProfileDouble(const std::string& text);

// printf("%.*f") in the C locale. Written in full however long ("%f" of 1e300 has over 300
// characters): cut to a fixed buffer, the number would read back as a different value.
// inf and nan come out as strtod reads them.
std::string FormatFixed(double value, int decimals);

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
