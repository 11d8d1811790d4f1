// `tovrikctl serve`: the instrument over the raw SCPI socket, one line per message, and over
// VXI-11.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/devices.h"
#include "cli/raw/admission.h"
#include "cli/scpi.h"
#include "device/hotplug.h"
#include "device/platform.h"

namespace tovrik::cli {

struct ServerOptions {
    std::string listen = "127.0.0.1:5025";
    DeviceChoice device;
    bool all = false;  // every TOVRIK as one instrument's channels
    unsigned idleSeconds = 60;
    std::vector<std::string> allow;   // CIDR ranges clients may connect from; empty: anyone
    HotplugSource watch;              // devices coming and going; without, a rescan on a timer
    bool announce = true;             // mDNS, where avahi-daemon runs and not only on loopback
    std::string http;                 // [ADDR:]PORT of the web page; empty: none
    std::string httpTokenFile;        // the web page's write token; empty: a fresh one
    bool vxi11 = true;                // the VXI-11 front end beside the raw socket
    std::uint16_t vxi11Port = 9009;   // its core channel; 0: any free port
    Dialect dialect = Dialect::Scpi;  // Dialect::Sdg: Siglent's generator commands too
};

// How tovrikctl reports a failure (plain or --json): returns the exit status.
using FailureReport = std::function<int(int status, const std::string& message, const char* kind)>;
// What it prints once listening: address and device.
using ListeningReport = std::function<void(const std::string& address, const std::string& path)>;

// Runs until SIGINT, SIGTERM or SIGHUP; sends the stop report on the way out, and prints how
// many connections each limit closed. The exit status is the stop request's (see
// StopRequests), or kExitDevice when a device could not take the stop report.
int RunServer(DevicePlatform& platform, const ServerOptions& options,
              const ListeningReport& listening, std::ostream& err, const FailureReport& fail);

}  // namespace tovrik::cli
