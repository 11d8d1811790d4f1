#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <cerrno>

#include "cli/stop_requests.h"

namespace tovrik::cli {
namespace {

volatile std::sig_atomic_t gStopRequested = 0;
extern "C" void RequestStop(int signal) {
    gStopRequested = signal;
    StopPacer().Wake();
}

int ExitStatusAfter(int signal) {
    return signal == SIGINT ? kExitInterrupted : 0;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

struct StopRequests::Saved {
    struct sigaction old[std::size(kStopSignals)]{};
};

StopRequests::StopRequests() : saved_(std::make_unique<Saved>()) {
    gStopRequested = 0;
    StopPacer();  // made here: the handler must not be the first to touch it
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

int StopRequests::exitStatus() const {
    return gStopRequested == 0 ? 0 : ExitStatusAfter(gStopRequested);
}

struct StopOnRequest::Impl {
    explicit Impl(asio::io_context& io) : signals(io) {
        for (const int signal : kStopSignals) signals.add(signal);
    }
    asio::signal_set signals;
};

StopOnRequest::StopOnRequest(asio::io_context& io, std::function<void(int)> onStop)
    : impl_(std::make_unique<Impl>(io)) {
    impl_->signals.async_wait([onStop = std::move(onStop)](asio::error_code, int signal) {
        onStop(ExitStatusAfter(signal));
    });
}

StopOnRequest::~StopOnRequest() = default;

}  // namespace tovrik::cli
