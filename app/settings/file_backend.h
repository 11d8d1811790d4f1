// What the settings file needs from the system, implemented once per platform
// (posix/file_backend_posix.cpp, windows/file_io_win.cpp).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tovrik::settings_files {

// The bytes of a regular file; empty when there is none (a folder or a device under that name
// counts as none) or it cannot be read.
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path);

// Writes `text` through a temporary file in the target's folder, flushed to disk, and puts it
// in place of the target, so a failed or interrupted save leaves the previous file as it was.
// Creates a missing folder, refuses a folder or a read-only file under the target's name and
// removes the temporary files of killed saves. False with the system's reason in `reason`.
bool ReplaceAtomically(const std::filesystem::path& target, const std::string& text,
                       std::error_code& reason);

// Where the profile lives, and where to read it from at start (see settings_store.h).
std::filesystem::path DefaultProfilePath(const std::string& executableBaseName);
std::filesystem::path ProfileToRead(const std::filesystem::path& profile,
                                    const std::string& executableBaseName);

// A number already checked to be decimal text ("-12.5e3"), read in the C locale. Out of range
// gives a non-finite value or 0.0.
double ParseCDecimal(const std::string& number);

// Whether a file written from nothing gets CR LF line ends (the platform's text files do).
bool NewFilesUseCrLf();

}  // namespace tovrik::settings_files
