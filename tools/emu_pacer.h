// USB frame timing for writes. A full-speed device takes at most one interrupt OUT transfer
// per frame, so a write completes at the first frame boundary after both its own start and
// the previous transfer. Completions are timed by a timer on umockdev's worker thread, the
// thread that must send them anyway: it goes on serving the other devices meanwhile, and no
// thread of our own has to wake and hand each completion over (on a virtual machine, waking
// an idle processor costs tens of microseconds, and eight devices at 1 kHz wake often).
#pragma once

#include <glib.h>
#include <umockdev.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tools/emu_log.h"
#include "tools/emu_resources.h"

namespace tovrik::emu {

class FramePacer {
  public:
    using Clock = std::chrono::steady_clock;

    // `origin`: a frame boundary, the same for every device on the bus.
    FramePacer(std::chrono::microseconds frame, Clock::time_point origin, const Logger& log);
    // Completes what is still waiting at once: a blocked writer must not hang on.
    ~FramePacer();
    FramePacer(const FramePacer&) = delete;
    FramePacer& operator=(const FramePacer&) = delete;

    // One endpoint's transfers in a row; worker thread only.
    struct Endpoint {
        Clock::time_point previous{};  // the frame of the last transfer
    };

    // The frame boundary at which a transfer issued now completes. A write that comes within
    // a frame after the previous one's frame was queued behind it, as a host controller
    // would have it: what delayed it is our own delivery on a busy machine, which must not
    // cost the writer frames. The frame may then be past already; it completes at once.
    Clock::time_point NextFrame(Endpoint& endpoint) const;

    // At `due`: logs `line` (stamped with `due`) and completes the client's write with
    // `result`. Called on umockdev's worker thread, from a write handler.
    void CompleteAt(Clock::time_point due, UMockdevIoctlClient* client, glong result,
                    std::string line);

  private:
    struct Completion {
        GObjectPtr<UMockdevIoctlClient> client;
        glong result = 0;
        std::string line;
    };
    // What the timer's callback reaches: shared with the source, so that a callback already
    // under way on the worker when the pacer goes finds it closed instead of freed.
    struct State {
        const Logger* log = nullptr;
        UniqueFd timer;  // CLOCK_MONOTONIC, as steady_clock
        std::mutex mutex;
        std::multimap<Clock::time_point, Completion> waiting;
        bool closed = false;
    };
    static gboolean OnTimer(gint fd, GIOCondition condition, gpointer state);
    static void FinishDue(State& state);
    static void Arm(State& state, Clock::time_point due);  // mutex held
    static void Finish(const Logger& log, Clock::time_point due, Completion& completion);

    const std::chrono::microseconds frame_;
    const Clock::time_point origin_;
    const std::shared_ptr<State> state_ = std::make_shared<State>();
    GSource* source_ = nullptr;  // on the worker's context, made by the first write
};

}  // namespace tovrik::emu
