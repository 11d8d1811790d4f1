#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "cli/pacer.h"
#include "common/posix_io.h"

namespace tovrik::cli {
namespace {

// A timer file at an absolute CLOCK_MONOTONIC time and an event file for wakes, polled
// together: a write to the event file is safe in a signal handler.
class PosixPacer final : public Pacer {
  public:
    PosixPacer()
        : timer_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
          wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    bool SleepUntil(std::uint64_t deadline) override {
        if (NowNanoseconds() >= deadline) return true;
        int timeout = -1;
        if (deadline != kNoDeadline) {
            itimerspec at{};
            at.it_value.tv_sec = static_cast<time_t>(deadline / 1'000'000'000u);
            at.it_value.tv_nsec = static_cast<long>(deadline % 1'000'000'000u);
            // Without a timer file, poll's millisecond time-out is the fallback.
            if (::timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME, &at, nullptr) != 0)
                timeout = static_cast<int>((deadline - NowNanoseconds()) / 1'000'000u + 1);
        }
        pollfd fds[] = {{wake_.get(), POLLIN, 0}, {timer_.get(), POLLIN, 0}};
        ::poll(fds, deadline == kNoDeadline ? 1 : 2, timeout);  // EINTR: the caller looks again
        std::uint64_t count = 0;
        if ((fds[0].revents & POLLIN) != 0) {
            [[maybe_unused]] const auto n = ::read(wake_.get(), &count, sizeof count);
        }
        if ((fds[1].revents & POLLIN) != 0) {
            [[maybe_unused]] const auto n = ::read(timer_.get(), &count, sizeof count);
        }
        return NowNanoseconds() >= deadline;
    }

    void Wake() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake_.get(), &one, sizeof one);
    }

  private:
    UniqueFd timer_;
    UniqueFd wake_;
};

}  // namespace

std::uint64_t NowNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

std::unique_ptr<Pacer> MakePacer() {
    return std::make_unique<PosixPacer>();
}

}  // namespace tovrik::cli
