#include "cli/instrument/device_worker.h"

#include <utility>

namespace tovrik::cli {
namespace {

constexpr std::uint64_t kRestoreNanoseconds =
    std::chrono::duration_cast<std::chrono::nanoseconds>(kRestoreInterval).count();

}  // namespace

ScpiError LinkScpiError(DevicePlatform& platform, const std::string& path, const DeviceError& e) {
    if (e.gone) return MakeError(ScpiCode::HardwareMissing);
    return MakeError(ScpiCode::HardwareError, path + ": " + platform.Describe(e.code).text);
}

DeviceWorker::DeviceWorker(ReconnectingDevice& device, OutputReport steady, Post post,
                           SweepEnd sweepEnd, std::unique_ptr<Pacer> pacer)
    : device_(device),
      post_(std::move(post)),
      sweepEnd_(std::move(sweepEnd)),
      pacer_(std::move(pacer)),
      steady_(steady),
      lastSent_(steady),
      thread_([this] { Run(); }) {}

DeviceWorker::~DeviceWorker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    pacer_->Wake();
    if (thread_.joinable()) thread_.join();
}

void DeviceWorker::Carry(const DeviceOrder& order, Done done) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({order, std::move(done)});
        settled_ = false;  // until the instrument has seen the outcome
    }
    pacer_->Wake();
}

void DeviceWorker::Follow(const OutputReport& steady, bool continuous, bool settled) {
    {
        const std::lock_guard lock(mutex_);
        if (steady_ == steady && continuous_ == continuous && settled_ == settled) return;
        steady_ = steady;
        continuous_ = continuous;
        settled_ = settled;
    }
    pacer_->Wake();
}

void DeviceWorker::Away() {
    {
        const std::lock_guard lock(mutex_);
        away_ = true;
        leaving_ = true;
    }
    pacer_->Wake();
}

void DeviceWorker::Revive() {
    {
        const std::lock_guard lock(mutex_);
        away_ = false;
        revived_ = true;
    }
    pacer_->Wake();
}

void DeviceWorker::RequestFinish(const OutputReport& report, Clock::time_point deadline) {
    {
        const std::lock_guard lock(mutex_);
        finishReport_ = report;
        finishDeadline_ = deadline;
        stopping_ = true;
    }
    pacer_->Wake();
}

std::optional<std::optional<ScpiError>> DeviceWorker::WaitFinished(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    finishedChanged_.wait_until(lock, deadline, [this] { return finished_.has_value(); });
    return finished_;
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
        nextRestore_ = NowNanoseconds() + kRestoreNanoseconds;
    }
    return status;
}

void DeviceWorker::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        // A departure before a return: Away then Revive leaves the device open and restored.
        if (leaving_) {
            leaving_ = false;
            lock.unlock();
            Leave();
            lock.lock();
            continue;
        }
        if (revived_) {
            revived_ = false;
            dirty_ = true;
            nextRestore_ = 0;
        }
        if (!jobs_.empty()) {
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            RunJob(job);
            lock.lock();
            continue;
        }
        const std::uint64_t now = NowNanoseconds();
        std::uint64_t due = kNoDeadline;
        if (sweep_) {
            due = sweep_->start + sweep_->plan.SlotStartNanoseconds(sweep_->slot);
        } else if (!away_ && dirty_) {
            due = nextRestore_;
        } else if (!away_ && settled_ && !(lastSent_ == steady_)) {
            due = now;  // a command came while the sweep was ending: its state goes out now
        }
        if (now >= due) {
            lock.unlock();
            if (sweep_) {
                SweepPoint();
            } else {
                Restore();
            }
            lock.lock();
            continue;
        }
        lock.unlock();
        pacer_->SleepUntil(due);
        lock.lock();
    }
    const bool finish = finishReport_.has_value();
    lock.unlock();
    if (finish) RunFinish();
}

void DeviceWorker::RunJob(Job& job) {
    std::optional<ScpiError> error;
    sweep_.reset();  // a write ends the sweep; a new sweep replaces it
    bool away = false;
    {
        const std::lock_guard lock(mutex_);
        away = away_;
    }
    const bool sweep = job.order.kind == DeviceOrder::Kind::Sweep;
    const OutputReport report =
        sweep ? BuildFrequencyReport(job.order.plan.WordAt(0)) : job.order.report;
    // Gone since the order was given: discovery, not this order, opens it again.
    const DeviceStatus status =
        away ? DeviceStatus(DeviceError{DeviceError::Step::Write, 0, true}) : Send(report);
    if (!status.ok()) {
        error = LinkScpiError(device_.platform(), device_.path(), status.error());
    } else if (sweep) {
        sweep_ = Sweep{job.order.plan, job.order.sweepId, NowNanoseconds(), 1};
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

// Back to the set state, whether the sweep ran out or failed. A command that changes that
// state meanwhile still sees the sweep running and writes nothing; its Follow, settled,
// sends it.
void DeviceWorker::EndSweep(std::optional<ScpiError> error) {
    const std::uint64_t id = sweep_->id;
    sweep_.reset();
    OutputReport steady;
    {
        const std::lock_guard lock(mutex_);
        sweeping_ = false;
        steady = steady_;
    }
    if (!error) {
        const DeviceStatus status = Send(steady);
        if (!status.ok()) error = LinkScpiError(device_.platform(), device_.path(), status.error());
    }
    post_([end = sweepEnd_, id, error] { end(id, error); });
}

void DeviceWorker::Leave() {
    device_.Close();
    {
        const std::lock_guard lock(mutex_);
        dirty_ = true;  // whatever it is sent when back, it holds nothing of ours
    }
    if (!sweep_) return;
    const std::uint64_t id = sweep_->id;
    sweep_.reset();
    {
        const std::lock_guard lock(mutex_);
        sweeping_ = false;
    }
    post_([end = sweepEnd_, id] { end(id, MakeError(ScpiCode::HardwareMissing)); });
}

void DeviceWorker::Restore() {
    OutputReport steady;
    {
        const std::lock_guard lock(mutex_);
        steady = steady_;
    }
    Send(steady);
}

void DeviceWorker::RunFinish() {
    sweep_.reset();
    OutputReport report;
    Clock::time_point deadline;
    {
        const std::lock_guard lock(mutex_);
        report = *finishReport_;
        deadline = finishDeadline_;
    }
    std::optional<ScpiError> error;
    for (;;) {
        const DeviceStatus status = Send(report);
        if (status.ok()) break;
        if (status.error().gone || Clock::now() + kRestoreInterval > deadline) {
            error = LinkScpiError(device_.platform(), device_.path(), status.error());
            break;
        }
        const std::uint64_t retry = NowNanoseconds() + kRestoreNanoseconds;
        while (!pacer_->SleepUntil(retry)) {
        }
    }
    {
        const std::lock_guard lock(mutex_);
        finished_ = error;
    }
    finishedChanged_.notify_all();
}

}  // namespace tovrik::cli
