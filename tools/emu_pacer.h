// USB frame timing for writes. A full-speed device takes at most one interrupt OUT transfer
// per frame, so a write completes at the first frame boundary after both its own start and
// the previous transfer. Completions run on a thread of their own: umockdev's worker thread
// goes on serving the other devices, while the writer stays blocked until its frame.
#pragma once

#include <umockdev.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "tools/emu_log.h"
#include "tools/emu_resources.h"

namespace tovrik::emu {

class FramePacer {
  public:
    using Clock = std::chrono::steady_clock;

    FramePacer(std::chrono::microseconds frame, const Logger& log);
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

    // At `due`: logs `line` (stamped with `due`) and completes the client's write with `result`.
    void CompleteAt(Clock::time_point due, UMockdevIoctlClient* client, glong result,
                    std::string line);

  private:
    struct Completion {
        GObjectPtr<UMockdevIoctlClient> client;
        glong result = 0;
        std::string line;
    };
    void Run();
    void Finish(Clock::time_point due, Completion& completion) const;

    const std::chrono::microseconds frame_;
    const Logger& log_;
    const Clock::time_point origin_ = Clock::now();
    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, Completion> waiting_;
    bool stopping_ = false;
    std::thread thread_;  // last: starts when everything above is ready
};

}  // namespace tovrik::emu
