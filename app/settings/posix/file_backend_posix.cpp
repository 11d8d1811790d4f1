// The settings file on POSIX systems: an flock-guarded temporary file, fsync and rename.
#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "app/settings/file_backend.h"
#include "app/settings/posix/temp_files.h"
#include "common/posix_io.h"

namespace tovrik::settings_files {
namespace {

namespace fs = std::filesystem;

// Whether the caller's class (owner, group, others) has the write bit. Root passes access()
// for every file, yet must not replace one that its owner made read-only.
bool ModeLetsWrite(const struct stat& st) {
    if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
    bool inGroup = st.st_gid == ::getegid();
    if (!inGroup) {
        const int count = ::getgroups(0, nullptr);
        if (count > 0) {
            std::vector<gid_t> groups(static_cast<std::size_t>(count));
            const int got = ::getgroups(count, groups.data());
            for (int i = 0; i < got && !inGroup; ++i) {
                inGroup = groups[static_cast<std::size_t>(i)] == st.st_gid;
            }
        }
    }
    return (st.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

// Removes the temporary file unless the rename took it.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    void Release() { path_.clear(); }

  private:
    std::string path_;
};

// Created once; number conversion must not follow the user's locale (a German locale would
// write "10000000,00" and read "10000000.00" as 10000000).
locale_t CLocale() {
    static const struct Holder {
        locale_t loc = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        ~Holder() {
            if (loc != static_cast<locale_t>(nullptr)) ::freelocale(loc);
        }
    } holder;
    return holder.loc;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string text;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

bool ReplaceAtomically(const fs::path& path, const std::string& text, std::error_code& ec) {
    ec.clear();
    const auto fail = [&ec](int error) {
        ec = std::error_code(error != 0 ? error : EIO, std::generic_category());
        return false;
    };
    if (path.empty()) return fail(ENOENT);
    fs::path target = path;
    if (fs::is_symlink(target, ec)) {
        target = fs::weakly_canonical(target, ec);
        if (ec) return false;
    }
    ec.clear();
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    if (!fs::exists(dir, ec)) {
        if (!fs::create_directories(dir, ec) || ec) return ec ? false : fail(EIO);
        fs::permissions(dir, fs::perms::owner_all, ec);
    }
    ec.clear();

    // A new file is private to the user, like the folder it usually lives in; a replaced file
    // keeps its mode. A read-only file stays unwritten even though the folder would allow the
    // rename, for root as well.
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(EISDIR);
        if (!S_ISREG(st.st_mode)) return fail(EINVAL);
        if (::access(target.c_str(), W_OK) != 0) return fail(errno);
        if (!ModeLetsWrite(st)) return fail(EACCES);
        mode = st.st_mode & 07777;
    }

    const std::string name = target.filename().string();
    RemoveStaleTempFiles(dir, name);
    std::string tempPath;
    const int rawFd = CreateLockedTempFile(dir, name, tempPath);
    if (rawFd < 0) return fail(errno);
    // Declared first, closed last: the lock lasts until the file is renamed or removed.
    UniqueFd fd(rawFd);
    TempFile temp(tempPath);

    if (::fchmod(fd.get(), mode) != 0) return fail(errno);
    if (!WriteAll(fd.get(), text)) return fail(errno);
    if (::fsync(fd.get()) != 0) return fail(errno);
    if (::rename(temp.path().c_str(), target.c_str()) != 0) return fail(errno);
    temp.Release();
    fd.Close();  // fsync has reported any write error already

    // Make the rename itself durable; the new file is complete either way.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        UniqueFd dirGuard(dirFd);
        ::fsync(dirGuard.get());
    }
    return true;
}

fs::path DefaultProfilePath(const std::string& executableBaseName) {
    fs::path dir;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        dir = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw != nullptr ? pw->pw_dir : nullptr;
        }
        if (home != nullptr && home[0] != '\0') dir = fs::path(home) / ".config";
    }
    return dir / (executableBaseName + ".INI");
}

fs::path ProfileToRead(const fs::path& profile, const std::string&) {
    return profile;
}

double ParseCDecimal(const std::string& number) {
    const locale_t c = CLocale();
    return c == static_cast<locale_t>(nullptr) ? std::strtod(number.c_str(), nullptr)
                                               : ::strtod_l(number.c_str(), nullptr, c);
}

bool NewFilesUseCrLf() {
    return false;
}

}  // namespace tovrik::settings_files
