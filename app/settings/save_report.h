// Saving the profile where a failure must not pass unnoticed.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace tovrik {

class IniProfile;

// "<program>: cannot save <path>: <reason>"
std::string SaveFailureLine(const std::string& program, const std::filesystem::path& path,
                            const std::error_code& reason);

// How a save went. On failure `reason` is the system's (errno on POSIX, the Win32 error code
// on Windows), and reason.message() its text in UTF-8, as the system words it.
struct SaveResult {
    bool saved = false;
    std::filesystem::path path;
    std::error_code reason;

    // SaveFailureLine for this failure; empty when saved.
    std::string Line(const std::string& program) const;
};

SaveResult SaveProfile(const IniProfile& profile);

// Saves `profile`; a failure is one line on `out`. The window stays as it is: the run's
// settings are lost, but the user who looks is told which file and why.
bool SaveProfileOrSay(const IniProfile& profile, const std::string& program,
                      std::FILE* out = stderr);

}  // namespace tovrik
