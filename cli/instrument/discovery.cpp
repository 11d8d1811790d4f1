#include "cli/instrument/discovery.h"

#include <algorithm>

namespace tovrik::cli {

Discovery::Discovery(DevicePlatform& platform, std::unique_ptr<HotplugMonitor> monitor,
                     Arrived arrived, Left left)
    : platform_(platform),
      monitor_(std::move(monitor)),
      arrived_(std::move(arrived)),
      left_(std::move(left)) {}

void Discovery::Scan(const std::vector<std::string>& removed) {
    retry_ = false;
    // Those seen before and not removed since are not opened again.
    const auto stays = [&](const std::string& path) {
        return seen_.count(path) != 0 &&
               std::find(removed.begin(), removed.end(), path) == removed.end();
    };
    const std::vector<HidInterface> interfaces =
        EnumerateDevices(platform_, {Probe::SerialAndVersion, 0, false, stays});
    for (auto it = seen_.begin(); it != seen_.end();) {
        const bool present =
            std::any_of(interfaces.begin(), interfaces.end(),
                        [&](const HidInterface& i) { return i.path == it->first; });
        if (present && stays(it->first)) {
            ++it;
            continue;
        }
        if (it->second) left_(it->first);
        it = seen_.erase(it);
    }
    for (const HidInterface& found : interfaces) {
        if (!found.probed) continue;
        // A TOVRIK another program holds is tried again on the next pass.
        if (found.refusal) {
            retry_ = true;
            continue;
        }
        seen_[found.path] = found.tovrik;
        if (found.tovrik) arrived_(found.path, found.identity);
    }
}

void Discovery::Start() {
    thread_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            std::vector<std::string> removed;
            const auto limit = retry_ ? kRescanInterval : kFallbackRescan;
            if (!soon_.empty()) {
                // Asked for a pass: now, with whatever the monitor has heard meanwhile.
                if (monitor_) {
                    lock.unlock();
                    if (auto changes = monitor_->Wait(std::chrono::milliseconds(0)))
                        removed = std::move(changes->removed);
                    lock.lock();
                }
            } else if (monitor_) {
                lock.unlock();
                if (auto changes = monitor_->Wait(limit)) removed = std::move(changes->removed);
                lock.lock();
                if (stopping_) break;
            } else if (wake_.wait_for(lock, kRescanInterval, [this] { return stopping_; })) {
                break;
            }
            std::vector<std::function<void()>> done;
            done.swap(soon_);
            lock.unlock();
            Scan(removed);
            for (const auto& f : done) f();
            lock.lock();
        }
    });
}

void Discovery::ScanSoon(std::function<void()> done) {
    {
        const std::lock_guard lock(mutex_);
        soon_.push_back(std::move(done));
    }
    wake_.notify_all();
    if (monitor_) monitor_->Interrupt();
}

void Discovery::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (monitor_) monitor_->Interrupt();
    if (thread_.joinable()) thread_.join();
}

}  // namespace tovrik::cli
