#include "tools/emu_pacer.h"

#include <algorithm>

namespace tovrik::emu {

FramePacer::FramePacer(std::chrono::microseconds frame, const Logger& log)
    : frame_(frame), log_(log), thread_([this] { Run(); }) {}

FramePacer::~FramePacer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    for (auto& [due, completion] : waiting_) Finish(due, completion);
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
    {
        const std::lock_guard lock(mutex_);
        waiting_.emplace(due, std::move(completion));
    }
    wake_.notify_all();
}

void FramePacer::Finish(Clock::time_point due, Completion& completion) const {
    log_(completion.line, due);
    umockdev_ioctl_client_complete(completion.client.get(), completion.result, 0);
}

void FramePacer::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (waiting_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto due = waiting_.begin()->first;
        if (Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        auto node = waiting_.extract(waiting_.begin());
        lock.unlock();
        Finish(node.key(), node.mapped());
        lock.lock();
    }
}

}  // namespace tovrik::emu
