// The process side of tovrik-emu: its own restart under umockdev's preload and COMMAND, run
// on the main loop with signals passed on.
#pragma once

#include <string>
#include <vector>

namespace tovrik::emu {

// Exit statuses besides COMMAND's own.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitSetup = 125;
inline constexpr int kExitCannotRun = 127;

// The children must run with umockdev's preload so that their /sys and /dev lead into the
// test bed; they inherit it from us. Restarts this program once with it in place when it is
// missing; exits with kExitSetup if that fails.
void EnsurePreload(char** argv);

// `path` made absolute against the working folder.
std::string Absolute(const std::string& path);

// Runs `command` to its end on the default main context, which serves the devices and the
// control FIFO meanwhile; SIGTERM, SIGINT and SIGHUP go on to it. Returns its exit status
// (128 + N when killed by signal N), or kExitCannotRun when it could not be started.
int RunCommand(const std::vector<std::string>& command);

}  // namespace tovrik::emu
