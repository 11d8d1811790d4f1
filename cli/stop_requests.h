// Stop requests, which differ between POSIX and Windows (the sweep clock is cli/pacer.h,
// which a stop request wakes). A stop request is SIGINT, SIGTERM or SIGHUP (a closed terminal) on
// POSIX; Ctrl+C, Ctrl+Break, a closed console window, logoff or shutdown on Windows.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>

#include "cli/pacer.h"

namespace asio {
class io_context;
}

namespace tovrik::cli {

// The exit status after a stop: 130 after SIGINT (Ctrl+C), as a shell reports it, so that
// `sweep ... && next` goes no further; 0 after SIGTERM or SIGHUP, the orderly end a service
// manager or a closed terminal asks for. On Windows Ctrl+C and Ctrl+Break give
// STATUS_CONTROL_C_EXIT (0xC000013A), a closed console, logoff or shutdown 0.
inline constexpr int kExitInterrupted = 130;

// While one exists, a stop request sets flag() and wakes SleepUntil instead of ending the
// process, so a sweep still sends its stop report.
class StopRequests {
  public:
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;
    const volatile std::sig_atomic_t& flag() const;
    // The exit status the stop request calls for; 0 while there was none.
    int exitStatus() const;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// While one exists, a stop request runs onStop on io's thread with the exit status it calls for.
class StopOnRequest {
  public:
    StopOnRequest(asio::io_context& io, std::function<void(int exitStatus)> onStop);
    ~StopOnRequest();
    StopOnRequest(const StopOnRequest&) = delete;
    StopOnRequest& operator=(const StopOnRequest&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tovrik::cli
