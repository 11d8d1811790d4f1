#include "tools/emu_pacer.h"

#include <glib-unix.h>
#include <sys/timerfd.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace tovrik::emu {

FramePacer::FramePacer(std::chrono::microseconds frame, Clock::time_point origin, const Logger& log)
    : frame_(frame), origin_(origin) {
    state_->log = &log;
    state_->timer = UniqueFd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
}

FramePacer::~FramePacer() {
    std::multimap<Clock::time_point, Completion> left;
    {
        const std::lock_guard lock(state_->mutex);
        state_->closed = true;
        left.swap(state_->waiting);
    }
    if (source_ != nullptr) {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    for (auto& [due, completion] : left) Finish(*state_->log, due, completion);
}

FramePacer::Clock::time_point FramePacer::NextFrame(Endpoint& endpoint) const {
    const auto now = Clock::now();
    if (now < endpoint.previous + 2 * frame_) {
        endpoint.previous += frame_;
    } else {
        endpoint.previous = origin_ + ((now - origin_) / frame_ + 1) * frame_;
    }
    return endpoint.previous;
}

void FramePacer::CompleteAt(Clock::time_point due, UMockdevIoctlClient* client, glong result,
                            std::string line) {
    g_object_ref(client);
    Completion completion{GObjectPtr<UMockdevIoctlClient>(client), result, std::move(line)};
    State& state = *state_;
    if (source_ == nullptr && state.timer.valid()) {
        GMainContext* worker = g_main_context_ref_thread_default();
        source_ = g_unix_fd_source_new(state.timer.get(), G_IO_IN);
        g_source_set_callback(
            source_, G_SOURCE_FUNC(OnTimer), new std::shared_ptr<State>(state_),
            [](gpointer held) { delete static_cast<std::shared_ptr<State>*>(held); });
        g_source_attach(source_, worker);
        g_main_context_unref(worker);
    }
    if (source_ == nullptr) {  // no timer: the frame timing is lost, not the write
        Finish(*state.log, due, completion);
        return;
    }
    {
        const std::lock_guard lock(state.mutex);
        if (!state.closed) {
            const auto added = state.waiting.emplace(due, std::move(completion));
            // The devices of a lane queue for the same frame: the timer is set once for it.
            if (added == state.waiting.begin()) Arm(state, due);
            return;
        }
    }
    Finish(*state.log, due, completion);  // the pacer is going: nobody would complete it later
}

void FramePacer::Arm(State& state, Clock::time_point due) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch());
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ns.count() / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(ns.count() % 1'000'000'000);
    // Zero would disarm it; a frame at the clock's epoch is past anyway.
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    ::timerfd_settime(state.timer.get(), TFD_TIMER_ABSTIME, &when, nullptr);
}

gboolean FramePacer::OnTimer(gint fd, GIOCondition, gpointer state) {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto n = ::read(fd, &expirations, sizeof expirations);
    FinishDue(**static_cast<std::shared_ptr<State>*>(state));
    return G_SOURCE_CONTINUE;
}

// Every completion whose frame has come, in frame order; then the timer for the next one.
void FramePacer::FinishDue(State& state) {
    std::vector<std::pair<Clock::time_point, Completion>> due;
    {
        const std::lock_guard lock(state.mutex);
        if (state.closed) return;
        const auto now = Clock::now();
        while (!state.waiting.empty() && state.waiting.begin()->first <= now) {
            auto node = state.waiting.extract(state.waiting.begin());
            due.emplace_back(node.key(), std::move(node.mapped()));
        }
        if (!state.waiting.empty()) Arm(state, state.waiting.begin()->first);
    }
    for (auto& [when, completion] : due) Finish(*state.log, when, completion);
}

void FramePacer::Finish(const Logger& log, Clock::time_point due, Completion& completion) {
    log(completion.line, due);
    umockdev_ioctl_client_complete(completion.client.get(), completion.result, 0);
}

}  // namespace tovrik::emu
