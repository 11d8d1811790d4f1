// Windows file operations of the settings file: wide-character paths throughout, so a user
// folder with non-ASCII characters works on every code page.
#include <windows.h>
// shlobj.h needs windows.h first.
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cwchar>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

#include "app/settings/file_backend.h"
#include "app/settings/windows/file_io.h"
#include "win32/system_message.h"

namespace tovrik::windows_files {
namespace {

namespace fs = std::filesystem;

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h != INVALID_HANDLE_VALUE && h != nullptr) ::CloseHandle(h);
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

UniqueHandle Own(HANDLE h) {
    return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

struct CoTaskFree {
    void operator()(wchar_t* p) const { ::CoTaskMemFree(p); }
};

fs::path KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR raw = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    const std::unique_ptr<wchar_t, CoTaskFree> owned(raw);
    return SUCCEEDED(hr) && raw != nullptr ? fs::path(raw) : fs::path();
}

class Win32ErrorCategory final : public std::error_category {
  public:
    const char* name() const noexcept override { return "win32"; }
    std::string message(int code) const override {
        // The line it goes into ends itself.
        std::string text = win::SystemMessage(static_cast<DWORD>(code));
        return text.empty() ? "error " + std::to_string(static_cast<DWORD>(code)) : text;
    }
};

// A save's temporary file: ".<name>." and six hex digits, as on other systems.
constexpr std::size_t kSuffixLength = 6;

std::wstring TempPrefix(const fs::path& target) {
    return L"." + target.filename().native() + L".";
}

// Far beyond any settings file, so that the lock never keeps anyone from its bytes.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;

bool Transient(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

// Runs `step` until it succeeds or fails with something other than a scanner's brief hold.
template <typename Step>
DWORD Retried(FileOperations& ops, Step step) {
    DWORD error = 0;
    for (unsigned attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0) ops.Pause(50u << attempt);
        error = step();
        if (!Transient(error)) break;
    }
    return error;
}

// Creates and locks a new temporary file beside `target`.
UniqueHandle CreateLockedTempFile(const fs::path& target, fs::path& path, DWORD& error) {
    static std::atomic<unsigned> counter{0};
    const fs::path dir = target.parent_path().empty() ? fs::path(L".") : target.parent_path();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const unsigned long long seed =
            ::GetTickCount64() * 2654435761ull ^
            (static_cast<unsigned long long>(::GetCurrentProcessId()) << 20) ^
            static_cast<unsigned long long>(counter.fetch_add(1)) * 40503ull;
        wchar_t suffix[kSuffixLength + 1];
        std::swprintf(suffix, kSuffixLength + 1, L"%06llx", seed & 0xffffffull);
        path = dir / (TempPrefix(target) + suffix);
        UniqueHandle file = Own(::CreateFileW(
            path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return nullptr;
        }
        // A cleaner that took the lock first has marked the file for deletion: start again.
        // A file system without locks leaves it unlocked; no cleaner can lock it either.
        LockAsSaveInProgress(file.get(), true);
        FILE_STANDARD_INFO info{};
        if (!::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &info, sizeof info) ||
            !info.DeletePending) {
            return file;
        }
    }
    error = ERROR_FILE_EXISTS;
    return nullptr;
}

bool WriteAll(HANDLE file, const std::string& text, DWORD& error) {
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0) {
            error = ::GetLastError();
            return false;
        }
        done += written;
    }
    if (!::FlushFileBuffers(file)) {
        error = ::GetLastError();
        return false;
    }
    return true;
}

}  // namespace

const std::error_category& Win32Category() {
    static const Win32ErrorCategory category;
    return category;
}

std::error_code Win32Error(unsigned long code) {
    return {static_cast<int>(code != 0 ? code : ERROR_GEN_FAILURE), Win32Category()};
}

unsigned long FileOperations::Replace(const fs::path& target, const fs::path& replacement) {
    return ::ReplaceFileW(target.c_str(), replacement.c_str(), nullptr,
                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
               ? 0
               : ::GetLastError();
}

unsigned long FileOperations::Move(const fs::path& from, const fs::path& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : ::GetLastError();
}

void FileOperations::Pause(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

bool LockAsSaveInProgress(void* file, bool wait) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return ::LockFileEx(file, flags, 0, 1, 0, &at) != 0;
}

namespace {

// Calls `visit` with each temporary file of `target` that no running save holds, opened for
// reading and deleting and locked; the lock goes with the handle.
template <typename Visit>
void ForEachUnheldTempFile(const fs::path& target, Visit visit) {
    const fs::path dir = target.parent_path().empty() ? fs::path(L".") : target.parent_path();
    const std::wstring prefix = TempPrefix(target);
    WIN32_FIND_DATAW entry{};
    const HANDLE raw = ::FindFirstFileW((dir / (prefix + L"*")).c_str(), &entry);
    if (raw == INVALID_HANDLE_VALUE) return;
    const std::unique_ptr<void, decltype(&::FindClose)> listing(raw, ::FindClose);
    do {
        const std::wstring_view name(entry.cFileName);
        if (name.size() != prefix.size() + kSuffixLength ||
            (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                0) {
            continue;
        }
        const fs::path path = dir / entry.cFileName;
        const UniqueHandle file =
            Own(::CreateFileW(path.c_str(), GENERIC_READ | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK ||
            !LockAsSaveInProgress(file.get(), false)) {
            continue;
        }
        visit(path, file.get(), entry.ftLastWriteTime);
    } while (::FindNextFileW(listing.get(), &entry));
}

}  // namespace

int RemoveStaleTempFiles(const fs::path& target) {
    if (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
    int removed = 0;
    ForEachUnheldTempFile(target, [&removed](const fs::path&, HANDLE file, FILETIME) {
        FILE_DISPOSITION_INFO dispose{};
        dispose.DeleteFile = TRUE;
        if (::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose)) {
            ++removed;
        }
    });
    return removed;
}

std::optional<fs::path> NewestKeptCopy(const fs::path& target) {
    if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) return std::nullopt;
    std::optional<fs::path> newest;
    ULARGE_INTEGER newestTime{};
    ForEachUnheldTempFile(target, [&](const fs::path& path, HANDLE, FILETIME written) {
        const ULARGE_INTEGER time{{written.dwLowDateTime, written.dwHighDateTime}};
        if (!newest || time.QuadPart > newestTime.QuadPart) {
            newest = path;
            newestTime = time;
        }
    });
    return newest;
}

std::optional<std::string> ReadRegularFile(const fs::path& path) {
    const UniqueHandle file =
        Own(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) return std::nullopt;
    std::string text;
    char buffer[16 * 1024];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) || n == 0) break;
        text.append(buffer, n);
    }
    return text;
}

bool ReplaceAtomically(const fs::path& target, const std::string& text, std::error_code* reason,
                       FileOperations* operations) {
    FileOperations system;
    FileOperations& ops = operations != nullptr ? *operations : system;
    std::error_code unused;
    std::error_code& ec = reason != nullptr ? *reason : unused;
    ec.clear();
    const auto fail = [&ec](DWORD error) {
        ec = Win32Error(error);
        return false;
    };
    if (target.empty()) return fail(ERROR_PATH_NOT_FOUND);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    if (!fs::exists(dir, ec) && (!fs::create_directories(dir, ec) || ec)) {
        if (!ec) ec = Win32Error(ERROR_PATH_NOT_FOUND);
        return false;
    }
    ec.clear();
    // The temporary file is unlocked from its close until it is in place (ReplaceFileW opens
    // it without sharing), and another instance's cleanup may delete it in between. The
    // target is then as it was: the save starts again with a new temporary file.
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        // A folder or a read-only file under that name stays as it is.
        if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
            return fail(ERROR_ACCESS_DENIED);
        }

        RemoveStaleTempFiles(target);
        fs::path tempPath;
        DWORD error = 0;
        {
            // Held until the file is complete; closed before the move, which needs it unopened.
            const UniqueHandle file = CreateLockedTempFile(target, tempPath, error);
            if (!file) return fail(error);
            if (!WriteAll(file.get(), text, error)) {
                ::DeleteFileW(tempPath.c_str());
                return fail(error);
            }
        }
        if (!exists) {
            error = Retried(ops, [&] { return ops.Move(tempPath, target); });
        } else {
            error = Retried(ops, [&] { return ops.Replace(target, tempPath); });
            if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
                error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
                // The target has been moved away and the new file is still under its
                // temporary name: it is the only copy, and it goes into place or stays.
                error = Retried(ops, [&] { return ops.Move(tempPath, target); });
                if (error != 0) return fail(error);
            }
        }
        if (error == 0) return true;
        const bool taken = ::GetFileAttributesW(tempPath.c_str()) == INVALID_FILE_ATTRIBUTES;
        if (taken && attempt < kAttempts) continue;
        ::DeleteFileW(tempPath.c_str());  // the target is as it was
        return fail(error);
    }
}

fs::path RoamingProfilePath(const std::string& executableBaseName) {
    const fs::path name = fs::u8path(executableBaseName);
    fs::path appData = KnownFolder(FOLDERID_RoamingAppData);
    if (appData.empty()) return name.native() + std::wstring(L".INI");
    return appData / name / (name.native() + L".INI");
}

std::vector<fs::path> LegacyProfilePaths(const std::string& executableBaseName) {
    const std::wstring file = fs::u8path(executableBaseName).native() + L".INI";
    std::vector<fs::path> paths;
    const fs::path local = KnownFolder(FOLDERID_LocalAppData);
    if (!local.empty()) paths.push_back(local / L"VirtualStore" / L"Windows" / file);
    wchar_t windowsDir[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(windowsDir, MAX_PATH);
    if (n > 0 && n < MAX_PATH) paths.push_back(fs::path(windowsDir) / file);
    return paths;
}

fs::path FirstExisting(const fs::path& profile, std::span<const fs::path> candidates) {
    std::error_code ec;
    if (fs::is_regular_file(profile, ec)) return profile;
    for (const fs::path& candidate : candidates) {
        if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return profile;
}

}  // namespace tovrik::windows_files

namespace tovrik::settings_files {

std::optional<std::string> ReadRegularFile(const std::filesystem::path& path) {
    return windows_files::ReadRegularFile(path);
}

bool ReplaceAtomically(const std::filesystem::path& target, const std::string& text,
                       std::error_code& reason) {
    return windows_files::ReplaceAtomically(target, text, &reason);
}

std::filesystem::path DefaultProfilePath(const std::string& executableBaseName) {
    return windows_files::RoamingProfilePath(executableBaseName);
}

std::filesystem::path ProfileToRead(const std::filesystem::path& profile,
                                    const std::string& executableBaseName) {
    // A save that could not put its file in place left it under its temporary name; it is
    // newer than any older installation's file.
    std::vector<std::filesystem::path> candidates;
    if (auto kept = windows_files::NewestKeptCopy(profile)) candidates.push_back(std::move(*kept));
    for (auto& legacy : windows_files::LegacyProfilePaths(executableBaseName))
        candidates.push_back(std::move(legacy));
    return windows_files::FirstExisting(profile, candidates);
}

double ParseCDecimal(const std::string& number) {
    // from_chars is locale-independent; it takes no '+' and leaves the value alone (0.0) when
    // the number is out of range.
    std::size_t from = 0;
    if (!number.empty() && number[0] == '+') ++from;
    double value = 0.0;
    std::from_chars(number.data() + from, number.data() + number.size(), value,
                    std::chars_format::general);
    return value;
}

bool NewFilesUseCrLf() {
    return true;
}

}  // namespace tovrik::settings_files
