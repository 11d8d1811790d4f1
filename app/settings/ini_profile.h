// An INI file read and written like the Windows private-profile functions. Plain C++, no
// knowledge of the control application's keys (those are settings_store.h's).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

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
// like the file's first line, and in a file written from nothing like the platform's text
// files (CR LF on Windows, LF elsewhere).
class IniProfile {
  public:
    IniProfile() = default;
    explicit IniProfile(std::filesystem::path path);  // reads the file; a missing file is empty
    // Reads `readFrom` (an older installation's file on a first run) and saves to `path`.
    IniProfile(const std::filesystem::path& readFrom, std::filesystem::path path);

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
    // the system's reason in `reason` (an errno value, or a Win32 error code on Windows).
    // Creates a missing parent folder (mode 0700); refuses a file that exists but whose mode
    // bits deny the user writing (root included). Removes the temporary files of killed saves.
    // A symbolic link is followed: its target is replaced.
    bool Save(std::error_code* reason = nullptr) const;

    std::string Text() const;  // the file's text as Save() would write it

  private:
    std::filesystem::path path_;
    std::vector<std::string> lines_;
};

// Integer text as the profile reads it: leading blanks, an optional '+' or '-', then decimal
// digits up to the first other character ("12abc" is 12, "0x10" is 0). No digits gives 0.
// Values beyond the int range clamp to INT_MIN / INT_MAX rather than wrap, so a huge flag
// value still reads as set.
int ParseProfileInt(std::string_view text);

}  // namespace tovrik
