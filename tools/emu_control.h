// The control commands ("unplug 1", "refuse-write 0 on", ...) and the FIFO they arrive on.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/emu_log.h"
#include "tools/emu_resources.h"
#include "tools/emu_testbed.h"

namespace tovrik::emu {

// Carries out one command given as words; returns why it could not, or "".
std::string RunControl(Testbed& testbed, const std::vector<std::string>& words);

class ControlChannel {
  public:
    ControlChannel(Testbed& testbed, const Logger& log) : testbed_(testbed), log_(log) {}

    // Creates the FIFO unless it is one already and starts reading it on the default main
    // context. Returns why it could not, or "".
    std::string Open(const std::string& path);

    // One line without its newline: runs the command and logs the outcome.
    void HandleLine(const std::string& line);

  private:
    static gboolean OnReadable(gint fd, GIOCondition, gpointer self);

    Testbed& testbed_;
    const Logger& log_;
    std::optional<OwnedPath> created_;  // the FIFO, when we made it
    UniqueFd fd_;
    std::optional<Source> watch_;
    std::string pending_;
};

}  // namespace tovrik::emu
