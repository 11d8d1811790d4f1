// The settings file's Windows file operations; the POSIX ones live in ini_profile.cpp.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tovrik::windows_files {

// The bytes of a regular file; empty when there is none (or it cannot be read).
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path);

// Writes `text` to a temporary file in the target's folder, flushes it to disk and puts it in
// place of the target (ReplaceFileW when the target exists, else MoveFileExW with
// MOVEFILE_WRITE_THROUGH). A missing folder is created; the temporary file never stays.
bool ReplaceAtomically(const std::filesystem::path& target, const std::string& text);

// %APPDATA%\<name>\<name>.INI.
std::filesystem::path RoamingProfilePath(const std::string& executableBaseName);

// Where an older installation kept <name>.INI: the Windows folder as the program saw it
// (its VirtualStore copy first, which is what a virtualised program read), then the Windows
// folder itself.
std::vector<std::filesystem::path> LegacyProfilePaths(const std::string& executableBaseName);

// The file to read the settings from: `profile` when it exists, else the first candidate that
// does, else `profile`.
std::filesystem::path FirstExisting(const std::filesystem::path& profile,
                                    std::span<const std::filesystem::path> candidates);

}  // namespace tovrik::windows_files
