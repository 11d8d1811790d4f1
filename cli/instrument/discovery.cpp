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
    const std::vector<std::string> paths = platform_.EnumerateHidInterfaces();
    for (auto it = seen_.begin(); it != seen_.end();) {
        if (std::find(paths.begin(), paths.end(), it->first) != paths.end() &&
            std::find(removed.begin(), removed.end(), it->first) == removed.end()) {
            ++it;
            continue;
        }
        if (it->second) left_(it->first);
        it = seen_.erase(it);
    }
    for (const std::string& path : paths) {
        if (seen_.count(path) != 0) continue;
        if (const auto ids = platform_.PeekIds(path); ids && !IsTovrikIds(ids)) {
            seen_[path] = false;
            continue;
        }
        SystemError error = 0;
        const auto identity = ReadIdentityOnce(platform_, path, &error);
        // A TOVRIK another program holds is tried again on the next pass.
        if (!identity && error != 0) {
            retry_ = true;
            continue;
        }
        seen_[path] = identity.has_value();
        if (identity) arrived_(path, *identity);
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
