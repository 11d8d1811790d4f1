// `tovrikctl serve`: the SCPI language over TCP, one line per message.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "cli/devices.h"
#include "device/platform.h"

namespace tovrik::cli {

inline constexpr std::size_t kMaxLineLength = 4096;  // longer lines are dropped with -363
// Beyond this, a new client takes the place of the one silent longest, if that one has been
// silent for `idleSeconds`; otherwise the new client is closed at once.
inline constexpr std::size_t kMaxConnections = 16;
inline constexpr std::size_t kMaxPendingOutput = 1 << 20;  // a client that never reads is dropped

struct ServerOptions {
    std::string listen = "127.0.0.1:5025";
    DeviceChoice device;
    unsigned idleSeconds = 60;
};

// Runs until SIGINT or SIGTERM; sends the stop report on the way out.
int RunServer(DevicePlatform& platform, const ServerOptions& options, std::ostream& out,
              std::ostream& err);

}  // namespace tovrik::cli
