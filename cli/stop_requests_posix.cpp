#include <time.h>

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <cerrno>

#include "cli/stop_requests.h"

namespace tovrik::cli {
namespace {

volatile std::sig_atomic_t gStopRequested = 0;
extern "C" void RequestStop(int) {
    gStopRequested = 1;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

struct StopRequests::Saved {
    struct sigaction old[std::size(kStopSignals)]{};
};

StopRequests::StopRequests() : saved_(std::make_unique<Saved>()) {
    gStopRequested = 0;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &action, &saved_->old[i]);
}

StopRequests::~StopRequests() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
        ::sigaction(kStopSignals[i], &saved_->old[i], nullptr);
}

const volatile std::sig_atomic_t& StopRequests::flag() const {
    return gStopRequested;
}

struct StopOnRequest::Impl {
    explicit Impl(asio::io_context& io) : signals(io) {
        for (const int signal : kStopSignals) signals.add(signal);
    }
    asio::signal_set signals;
};

StopOnRequest::StopOnRequest(asio::io_context& io, std::function<void()> onStop)
    : impl_(std::make_unique<Impl>(io)) {
    impl_->signals.async_wait([onStop = std::move(onStop)](asio::error_code, int) { onStop(); });
}

StopOnRequest::~StopOnRequest() = default;

std::uint64_t NowNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

bool SleepUntil(std::uint64_t deadline, const volatile std::sig_atomic_t& stop) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(deadline / 1'000'000'000u);
    at.tv_nsec = static_cast<long>(deadline % 1'000'000'000u);
    while (stop == 0) {
        const int rc = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        if (rc == 0) return stop == 0;
        if (rc != EINTR) return stop == 0;
    }
    return false;
}

}  // namespace tovrik::cli
