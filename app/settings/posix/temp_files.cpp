#include "app/settings/posix/temp_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>

namespace tovrik {
namespace {

constexpr std::size_t kSuffixLength = 6;  // mkstemp's XXXXXX

std::string Prefix(const std::string& name) {
    return "." + name + ".";
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int CreateLockedTempFile(const std::filesystem::path& dir, const std::string& name,
                         std::string& path) {
    // A cleaner may take the new name's lock in the moment before ours and remove the file;
    // then the name no longer leads to our descriptor and we start again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string pattern = (dir / (Prefix(name) + "XXXXXX")).string();
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        // A file system without flock leaves the file unlocked; no cleaner can lock it either.
        int locked = 0;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        struct stat mine {};
        struct stat named {};
        if (::fstat(fd, &mine) == 0 && ::lstat(pattern.c_str(), &named) == 0 &&
            SameFile(mine, named)) {
            path = std::move(pattern);
            return fd;
        }
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

int RemoveStaleTempFiles(const std::filesystem::path& dir, const std::string& name) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
    if (!listing) return 0;
    const std::string prefix = Prefix(name);
    const int dirFd = ::dirfd(listing.get());
    int removed = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view entryName(entry->d_name);
        if (entryName.size() != prefix.size() + kSuffixLength || !entryName.starts_with(prefix)) {
            continue;
        }
        // Non-blocking, no links followed: a FIFO or a link planted under such a name is
        // neither waited on nor followed.
        const int fd = ::openat(dirFd, entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(opened, named) && ::unlinkat(dirFd, entry->d_name, 0) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace tovrik
