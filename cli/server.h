// `tovrikctl serve`: the SCPI language over TCP, one line per message.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/devices.h"
#include "device/hotplug.h"
#include "device/platform.h"

namespace tovrik::cli {

inline constexpr std::size_t kMaxLineLength = 4096;  // longer lines are dropped with -363
// Beyond this, a new client takes the place of one that sends nothing useful (see
// ChooseEviction); otherwise the new client is closed at once.
inline constexpr std::size_t kMaxConnections = 16;
inline constexpr std::size_t kMaxPendingOutput = 1 << 20;  // a client that never reads is dropped
// A client that has not finished a line this long after its first byte is dropped.
inline constexpr std::chrono::seconds kLineDeadline{3};
// Complete lines a client may have waiting; beyond, its socket is not read until they ran.
inline constexpr std::size_t kMaxQueuedLines = 4;

struct ServerOptions {
    std::string listen = "127.0.0.1:5025";
    DeviceChoice device;
    bool all = false;  // every TOVRIK as one instrument's channels
    unsigned idleSeconds = 60;
    std::vector<std::string> allow;  // CIDR ranges clients may connect from; empty: anyone
    HotplugSource watch;             // for --all; without, the bank is rescanned on a timer
};

// How tovrikctl reports a failure (plain or --json): returns the exit status.
using FailureReport = std::function<int(int status, const std::string& message, const char* kind)>;
// What it prints once listening: address and device.
using ListeningReport = std::function<void(const std::string& address, const std::string& path)>;

// Runs until SIGINT, SIGTERM or SIGHUP; sends the stop report on the way out.
int RunServer(DevicePlatform& platform, const ServerOptions& options,
              const ListeningReport& listening, std::ostream& err, const FailureReport& fail);

// What the server knows of a connection when a new one needs its place.
struct ClientActivity {
    using Clock = std::chrono::steady_clock;
    Clock::time_point connected;
    Clock::time_point lastHeard;
    std::optional<Clock::time_point> partialSince;  // first byte of an unfinished line
    bool completedLine = false;                     // sent at least one whole line
    bool busy = false;                              // has a whole line running or waiting
};

// Which client gives way to a new one, if any: never one with a command to run; first one
// that sends bytes but never a whole line, then one that never sent anything for
// min(idle, kLineDeadline), then the one silent longest beyond `idle`.
std::optional<std::size_t> ChooseEviction(const std::vector<ClientActivity>& clients,
                                          ClientActivity::Clock::time_point now,
                                          std::chrono::seconds idle);

// An HTTP request line or header as a connection's first line: a browser or a proxy, whose
// body must not reach the instrument.
bool LooksLikeHttp(std::string_view line);

// A range of client addresses, from CIDR text ("192.168.1.0/24", "fd00::/8") or one address.
struct AddressRange {
    std::array<std::uint8_t, 16> bytes{};
    bool v6 = false;
    unsigned prefix = 0;
};
std::optional<AddressRange> ParseAddressRange(std::string_view text);
// Whether the address (text; IPv4 also as ::ffff:a.b.c.d) lies in the range.
bool InRange(const AddressRange& range, std::string_view address);

// Client bytes for a log line: control and non-ASCII bytes as \xNN.
std::string Printable(std::string_view text);

}  // namespace tovrik::cli
