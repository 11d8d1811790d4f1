#include "cli/device_worker.h"

#include <utility>

namespace tovrik::cli {

ScpiError LinkScpiError(DevicePlatform& platform, const std::string& path, const DeviceError& e) {
    if (e.gone) return MakeError(ScpiCode::HardwareMissing);
    return MakeError(ScpiCode::HardwareError, path + ": " + platform.Describe(e.code).text);
}

DeviceWorker::DeviceWorker(ReconnectingDevice& device, OutputReport steady, Post post,
                           SweepEnd sweepEnd)
    : device_(device),
      post_(std::move(post)),
      sweepEnd_(std::move(sweepEnd)),
      steady_(steady),
      lastSent_(steady),
      thread_([this] { Run(); }) {}

DeviceWorker::~DeviceWorker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void DeviceWorker::Carry(const DeviceOrder& order, Done done) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({order, std::move(done)});
    }
    wake_.notify_all();
}

void DeviceWorker::Follow(const OutputReport& steady, bool continuous) {
    const std::lock_guard lock(mutex_);
    steady_ = steady;
    continuous_ = continuous;
}

void DeviceWorker::Away() {
    const std::lock_guard lock(mutex_);
    away_ = true;
}

void DeviceWorker::Revive() {
    {
        const std::lock_guard lock(mutex_);
        away_ = false;
        dirty_ = true;
        nextRestore_ = Clock::now();
    }
    wake_.notify_all();
}

bool DeviceWorker::DeviceMatchesInstrument() const {
    const std::lock_guard lock(mutex_);
    return !dirty_ && (sweeping_ || lastSent_ == steady_);
}

DeviceStatus DeviceWorker::Send(const OutputReport& report) {
    const DeviceStatus status = device_.Write(report);
    const std::lock_guard lock(mutex_);
    if (status.ok()) {
        lastSent_ = report;
        dirty_ = false;
    } else {
        dirty_ = true;
        nextRestore_ = Clock::now() + kRestoreInterval;
    }
    return status;
}

void DeviceWorker::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!jobs_.empty()) {
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            RunJob(job);
            lock.lock();
        } else if (sweep_) {
            const auto due = sweep_->start + std::chrono::nanoseconds(
                                                 sweep_->slot * sweep_->plan.DwellNanoseconds());
            if (Clock::now() < due) {
                wake_.wait_until(lock, due);
                continue;
            }
            lock.unlock();
            SweepPoint();
            lock.lock();
        } else if (dirty_ && !away_) {
            if (Clock::now() < nextRestore_) {
                wake_.wait_until(lock, nextRestore_);
                continue;
            }
            lock.unlock();
            Restore();
            lock.lock();
        } else {
            wake_.wait(lock);
        }
    }
}

void DeviceWorker::RunJob(Job& job) {
    std::optional<ScpiError> error;
    sweep_.reset();  // a write ends the sweep; a new sweep replaces it
    const bool sweep = job.order.kind == DeviceOrder::Kind::Sweep;
    const OutputReport report =
        sweep ? BuildFrequencyReport(job.order.plan.WordAt(0)) : job.order.report;
    const DeviceStatus status = Send(report);
    if (!status.ok()) {
        error = LinkScpiError(device_.platform(), device_.path(), status.error());
    } else if (sweep) {
        sweep_ = Sweep{job.order.plan, job.order.sweepId, Clock::now(), 1};
    }
    {
        const std::lock_guard lock(mutex_);
        sweeping_ = sweep_.has_value();
    }
    post_([done = std::move(job.done), error] { done(error); });
}

void DeviceWorker::SweepPoint() {
    const std::uint64_t k = sweep_->slot % sweep_->plan.points;
    bool continuous = false;
    {
        const std::lock_guard lock(mutex_);
        continuous = continuous_;
    }
    if (k == 0 && !continuous) return EndSweep(std::nullopt);
    const DeviceStatus status = Send(BuildFrequencyReport(sweep_->plan.WordAt(k)));
    if (!status.ok())
        return EndSweep(LinkScpiError(device_.platform(), device_.path(), status.error()));
    ++sweep_->slot;
}

// Back to the set state, whether the sweep ran out or failed.
void DeviceWorker::EndSweep(std::optional<ScpiError> error) {
    const std::uint64_t id = sweep_->id;
    sweep_.reset();
    {
        const std::lock_guard lock(mutex_);
        sweeping_ = false;
    }
    if (!error) {
        OutputReport steady;
        {
            const std::lock_guard lock(mutex_);
            steady = steady_;
        }
        const DeviceStatus status = Send(steady);
        if (!status.ok()) error = LinkScpiError(device_.platform(), device_.path(), status.error());
    }
    post_([end = sweepEnd_, id, error] { end(id, error); });
}

void DeviceWorker::Restore() {
    OutputReport steady;
    {
        const std::lock_guard lock(mutex_);
        steady = steady_;
    }
    Send(steady);
}

std::optional<ScpiError> DeviceWorker::Finish(const OutputReport& report,
                                              Clock::time_point deadline) {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    sweep_.reset();
    for (;;) {
        const DeviceStatus status = Send(report);
        if (status.ok()) return std::nullopt;
        if (status.error().gone || Clock::now() + kRestoreInterval > deadline) {
            return LinkScpiError(device_.platform(), device_.path(), status.error());
        }
        std::this_thread::sleep_for(kRestoreInterval);
    }
}

}  // namespace tovrik::cli
