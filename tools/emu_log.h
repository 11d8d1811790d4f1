// tovrik-emu's event log: one line per event, each written with a single write(2) so that
// readers polling the file never see half a line, from whichever thread logs it.
#pragma once

#include <string>

#include "tools/emu_resources.h"

namespace tovrik::emu {

class Logger {
  public:
    Logger() = default;  // standard error
    explicit Logger(Fd file) : file_(std::move(file)) {}

    void operator()(const std::string& line) const;

  private:
    Fd file_;
};

}  // namespace tovrik::emu
