// An owned POSIX descriptor and a write that finishes: shared by the settings store, the
// emulator and the test support, which each had a copy.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>
#include <string_view>
#include <utility>

namespace tovrik {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes the one held (if any) and takes `fd`.
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Hands the descriptor to the caller, who closes it.
    int Release() { return std::exchange(fd_, -1); }
    // Closing can report a late write error; callers that must know use this.
    bool Close() {
        const int fd = Release();
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_ = -1;
};

// Writes all of `data`, again after an interrupted or partial write. False on an error or
// when the descriptor takes nothing.
inline bool WriteAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace tovrik
