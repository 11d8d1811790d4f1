#include "tools/emu_log.h"

#include <cerrno>

namespace tovrik::emu {

void Logger::operator()(const std::string& line) const {
    const std::string text = line + "\n";
    const int fd = file_.valid() ? file_.get() : STDERR_FILENO;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace tovrik::emu
