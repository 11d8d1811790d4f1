// Stop requests and the sweep clock, the parts of tovrikctl that differ between POSIX and
// Windows. A stop request is SIGINT, SIGTERM or SIGHUP (a closed terminal) on POSIX; Ctrl+C,
// Ctrl+Break, a closed console window, logoff or shutdown on Windows.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>

namespace asio {
class io_context;
}

namespace tovrik::cli {

// While one exists, a stop request sets flag() and wakes SleepUntil instead of ending the
// process, so a sweep still sends its stop report.
class StopRequests {
  public:
    StopRequests();
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;
    const volatile std::sig_atomic_t& flag() const;

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

// While one exists, a stop request runs onStop on io's thread.
class StopOnRequest {
  public:
    StopOnRequest(asio::io_context& io, std::function<void()> onStop);
    ~StopOnRequest();
    StopOnRequest(const StopOnRequest&) = delete;
    StopOnRequest& operator=(const StopOnRequest&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Nanoseconds on a monotonic clock.
std::uint64_t NowNanoseconds();
// Sleeps until the absolute deadline on that clock; false when a stop was requested meanwhile.
bool SleepUntil(std::uint64_t deadline, const volatile std::sig_atomic_t& stop);

}  // namespace tovrik::cli
