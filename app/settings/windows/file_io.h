// The settings file's Windows side: what file_backend.h asks of every platform, and the
// Windows-only parts behind it.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace tovrik::windows_files {

// Win32 error codes (GetLastError) as error codes; message() is the system's text in UTF-8.
const std::error_category& Win32Category();
std::error_code Win32Error(unsigned long code);

// The bytes of a regular file; empty when there is none (or it cannot be read).
std::optional<std::string> ReadRegularFile(const std::filesystem::path& path);

// The calls that put a finished temporary file in place. Tests replace them to fail as they
// do on Windows when a scanner or indexer holds the new file, which Wine cannot reproduce.
class FileOperations {
  public:
    virtual ~FileOperations() = default;
    // 0 or the system's error code. Replace is ReplaceFileW without a backup file; Move is
    // MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
    virtual unsigned long Replace(const std::filesystem::path& target,
                                  const std::filesystem::path& replacement);
    virtual unsigned long Move(const std::filesystem::path& from, const std::filesystem::path& to);
    virtual void Pause(unsigned milliseconds);
};

// Writes `text` to a locked temporary file ".<name>.XXXXXX" in the target's folder, flushes it
// and puts it in place of the target (ReplaceFileW when the target exists, else MoveFileExW).
// Sharing violations and access denied are retried a few times. When ReplaceFileW has taken
// the target away and cannot move the new file in (1176, 1177), the new file is moved by
// MoveFileExW, and where that fails too it stays under its temporary name: it is then the
// only copy. Temporary files of killed saves go, those of running saves stay, and none goes
// while the target is missing. False with the reason in `reason`.
bool ReplaceAtomically(const std::filesystem::path& target, const std::string& text,
                       std::error_code* reason = nullptr, FileOperations* operations = nullptr);

// Removes the temporary files of `target` that no running save holds; none while the target
// itself is missing, since one of them may then be the only copy. Returns how many went.
int RemoveStaleTempFiles(const std::filesystem::path& target);

// While `target` is missing: the newest of its temporary files that no running save holds,
// which a save that could not move its file in place left as the only copy.
std::optional<std::filesystem::path> NewestKeptCopy(const std::filesystem::path& target);

// The lock a running save holds on its temporary file.
bool LockAsSaveInProgress(void* file, bool wait);

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
