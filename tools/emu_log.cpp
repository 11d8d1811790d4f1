#include "tools/emu_log.h"

#include <cerrno>
#include <cstdio>

namespace tovrik::emu {

void Logger::operator()(const std::string& line,
                        std::optional<std::chrono::steady_clock::time_point> when) const {
    std::string text;
    if (timestamps_) {
        // steady_clock is CLOCK_MONOTONIC, the clock other programs stamp their events with.
        const auto since = (when ? *when : std::chrono::steady_clock::now()).time_since_epoch();
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%lld.%06lld ", static_cast<long long>(us / 1'000'000),
                      static_cast<long long>(us % 1'000'000));
        text = stamp;
    }
    text += line + "\n";
    WriteAll(file_.valid() ? file_.get() : STDERR_FILENO, text);  // a lost log line stays lost
}

}  // namespace tovrik::emu
