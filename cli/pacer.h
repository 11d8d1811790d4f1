// The one clock sweeps are paced by, for `tovrikctl sweep` and every served channel alike:
// absolute deadlines on a monotonic clock, so that lateness never accumulates. On Windows a
// high-resolution waitable timer, since the library's waits there follow the 15.6 ms tick.
#pragma once

#include <csignal>
#include <cstdint>
#include <limits>
#include <memory>

namespace tovrik::cli {

// Nanoseconds on the monotonic clock deadlines are given in.
std::uint64_t NowNanoseconds();
inline constexpr std::uint64_t kNoDeadline = std::numeric_limits<std::uint64_t>::max();

class Pacer {
  public:
    virtual ~Pacer() = default;
    // Sleeps until `deadline` (kNoDeadline: none) or a Wake, whichever comes first; true when
    // the deadline was reached. A Wake while nobody sleeps ends the next sleep at once.
    virtual bool SleepUntil(std::uint64_t deadline) = 0;
    // From any thread, and on POSIX from a signal handler too.
    virtual void Wake() = 0;
};

std::unique_ptr<Pacer> MakePacer();

// The pacer that stop requests wake: the one a `tovrikctl sweep` sleeps on.
Pacer& StopPacer();

// Sleeps on StopPacer until the deadline; false when a stop was requested meanwhile.
bool SleepUntil(std::uint64_t deadline, const volatile std::sig_atomic_t& stop);

}  // namespace tovrik::cli
