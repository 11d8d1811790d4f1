#include "cli/instrument/bank.h"

#include "cli/devices.h"

namespace tovrik::cli {

Bank::Bank(DevicePlatform& platform, Post post, Listener listener)
    : platform_(platform), post_(std::move(post)), listener_(std::move(listener)) {}

Bank::~Bank() {
    if (discovery_) discovery_->Stop();
    // A worker still inside a write the system never returns from cannot be joined; it and
    // its device are left to the process's end rather than have the exit wait for it.
    // Never destroyed, so that the exit does not join it; reachable, so no leak is reported.
    // An allocation failure here ends the process, which is on its way out anyway.
    static auto* const abandoned =
        new std::vector<std::unique_ptr<Slot>>;  // NOLINT(bugprone-unhandled-exception-at-new)
    for (auto& slot : slots_) {
        if (slot->stuck) abandoned->push_back(std::move(slot));
    }
}

void Bank::Serve(std::optional<std::string> admit, std::unique_ptr<ReconnectingDevice> opened,
                 const HotplugSource& watch) {
    admit_ = std::move(admit);
    // Watching before the first pass, so that nothing between the two goes unheard.
    discovery_ = std::make_unique<Discovery>(
        platform_, watch ? watch() : nullptr,
        [this](const std::string& path, const DeviceIdentity& identity) {
            if (!started_) return Arrive(path, identity);
            post_([this, path, identity] { Arrive(path, identity); });
        },
        [this](const std::string& path) { post_([this, path] { Leave(path); }); });
    if (opened) {
        const std::string path = opened->path();
        discovery_->Know(path);
        paths_[path] = 1;
        AddSlot(std::move(opened), path);
    }
    discovery_->Scan();
    started_ = true;
    discovery_->Start();
}

void Bank::AddSlot(std::unique_ptr<ReconnectingDevice> device, const std::string& path) {
    const auto channel = static_cast<unsigned>(slots_.size() + 1);
    auto slot = std::make_unique<Slot>();
    slot->worker = std::make_unique<DeviceWorker>(
        *device, BuildStopReport(), post_,
        [this, channel](std::uint64_t id, const std::optional<ScpiError>& error) {
            listener_.sweepEnded(channel, id, error);
        });
    slot->device = std::move(device);
    slot->path = path;
    slots_.push_back(std::move(slot));
}

void Bank::Arrive(const std::string& path, const DeviceIdentity& identity) {
    const std::string name = DeviceName(identity.serial, path);
    if (admit_ && name != *admit_) return;
    const unsigned channel = listener_.arrived(name, identity.version);
    paths_[path] = channel;
    if (channel > slots_.size()) {
        AddSlot(std::make_unique<ReconnectingDevice>(platform_, ReconnectPolicy::ByIdentity, path),
                path);
    }
    Slot& slot = *slots_[channel - 1];
    slot.path = path;
    // A new device is claimed with the stop report; one that is back gets its state again.
    slot.worker->Revive();
}

void Bank::Leave(const std::string& path) {
    const auto it = paths_.find(path);
    if (it == paths_.end()) return;
    listener_.left(it->second);
    slots_[it->second - 1]->worker->Away();
    paths_.erase(it);
}

void Bank::Carry(const DeviceOrder& order, DeviceWorker::Done done) {
    Slot& slot = *slots_.at(order.channel - 1);
    ++slot.inFlight;
    slot.worker->Carry(order, [&slot, done = std::move(done)](std::optional<ScpiError> error) {
        --slot.inFlight;
        done(std::move(error));
    });
}

void Bank::Probe(std::function<void()> then) {
    if (!discovery_ || paths_.size() == slots_.size()) return then();
    discovery_->ScanSoon([this, then = std::move(then)] { post_(then); });
}

void Bank::Follow(unsigned channel, const OutputReport& steady, bool continuous) {
    Slot& slot = *slots_.at(channel - 1);
    slot.worker->Follow(steady, continuous, slot.inFlight == 0);
}

std::vector<Bank::StopFailure> Bank::Stop(Clock::time_point deadline) {
    if (discovery_) discovery_->Stop();
    for (const auto& slot : slots_) slot->worker->RequestFinish(BuildStopReport(), deadline);
    std::vector<StopFailure> failures;
    // A write under way at the deadline gets a little longer to return.
    const auto limit = deadline + std::chrono::milliseconds(500);
    for (const auto& slot : slots_) {
        const auto outcome = slot->worker->WaitFinished(limit);
        if (!outcome) {
            slot->stuck = true;
            failures.push_back(
                {slot->path, MakeError(ScpiCode::HardwareError, "no answer by the deadline")});
        } else if (*outcome) {
            failures.push_back({slot->path, **outcome});
        }
    }
    return failures;
}

}  // namespace tovrik::cli
