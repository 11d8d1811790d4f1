// tovrik-emu's event log: one line per event, each written with a single write(2) so that
// readers polling the file never see half a line, from whichever thread logs it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "tools/emu_resources.h"

namespace tovrik::emu {

class Logger {
  public:
    Logger() = default;  // standard error
    explicit Logger(UniqueFd file) : file_(std::move(file)) {}

    // With timestamps every line starts with the monotonic clock in seconds to the
    // microsecond ("1234.000567 hidraw0 write ..."), `when` or else now.
    void EnableTimestamps() { timestamps_ = true; }

    void operator()(const std::string& line,
                    std::optional<std::chrono::steady_clock::time_point> when = {}) const;

  private:
    UniqueFd file_;
    bool timestamps_ = false;
};

}  // namespace tovrik::emu
