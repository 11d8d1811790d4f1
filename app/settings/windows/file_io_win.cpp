// Windows file operations of the settings file: wide-character paths throughout, so a user
// folder with non-ASCII characters works on every code page.
#include <windows.h>
// shlobj.h needs windows.h first.
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <type_traits>
#include <utility>

#include "app/settings/windows/file_io.h"

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

// Deletes the temporary file unless it was moved into place.
class TempFile {
  public:
    explicit TempFile(fs::path path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path_.empty()) ::DeleteFileW(path_.c_str());
    }
    const fs::path& path() const { return path_; }
    void Release() { path_.clear(); }

  private:
    fs::path path_;
};

struct CoTaskFree {
    void operator()(wchar_t* p) const { ::CoTaskMemFree(p); }
};

fs::path KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR raw = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &raw);
    const std::unique_ptr<wchar_t, CoTaskFree> owned(raw);
    return SUCCEEDED(hr) && raw != nullptr ? fs::path(raw) : fs::path();
}

}  // namespace

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

bool ReplaceAtomically(const fs::path& target, const std::string& text) {
    if (target.empty()) return false;
    std::error_code ec;
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    if (!fs::exists(dir, ec) && (!fs::create_directories(dir, ec) || ec)) return false;
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    // A folder or a read-only file under that name stays as it is.
    if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return false;
    }

    wchar_t tempName[MAX_PATH];
    if (::GetTempFileNameW(dir.c_str(), L"ini", 0, tempName) == 0) return false;
    TempFile temp{fs::path(tempName)};
    {
        const UniqueHandle file = Own(::CreateFileW(tempName, GENERIC_WRITE, 0, nullptr,
                                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        std::size_t done = 0;
        while (done < text.size()) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
            DWORD written = 0;
            if (!::WriteFile(file.get(), text.data() + done, chunk, &written, nullptr) ||
                written == 0) {
                return false;
            }
            done += written;
        }
        if (!::FlushFileBuffers(file.get())) return false;
    }
    const BOOL moved = exists ? ::ReplaceFileW(target.c_str(), tempName, nullptr,
                                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                              : ::MoveFileExW(tempName, target.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!moved) return false;
    temp.Release();
    return true;
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
