// One served TOVRIK and the thread that does all of its I/O, so that a slow, stalled or
// vanished device never holds up the clients' thread. Sweeps are paced here too, by
// absolute deadlines that no client can delay. Several workers may run side by side.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cli/scpi.h"
#include "device/reconnecting_device.h"

namespace tovrik::cli {

// How often a device that is away or refusing is tried again.
inline constexpr std::chrono::milliseconds kRestoreInterval{250};

// The SCPI error of a failed write to `path`.
ScpiError LinkScpiError(DevicePlatform& platform, const std::string& path, const DeviceError& e);

class DeviceWorker {
  public:
    using Clock = std::chrono::steady_clock;
    // Runs a callback on the server's thread; every callback below arrives through it.
    using Post = std::function<void(std::function<void()>)>;
    using Done = std::function<void(std::optional<ScpiError>)>;
    // A sweep ended: by itself (no error) or because a point could not be sent.
    using SweepEnd = std::function<void(std::uint64_t sweepId, std::optional<ScpiError>)>;

    DeviceWorker(ReconnectingDevice& device, OutputReport steady, Post post, SweepEnd sweepEnd);
    ~DeviceWorker();  // stops the thread; sends nothing
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    // Queues an order; `done` runs once it was carried out (for a sweep: its first point).
    void Carry(const DeviceOrder& order, Done done);
    // The report of the set state: where a sweep ends and what a device that missed a report
    // is brought back to. Sends nothing by itself.
    void Follow(const OutputReport& steady, bool continuous);
    // Sends the set state again at once: the device came back and may have lost it.
    void Revive();
    // The device has left the bank: no restore until Revive, so that the rescan, not this
    // worker's retry, is the first to open it when it comes back and finds it by its serial.
    void Away();
    // Ends any sweep, sends `report` (retrying a refusal until `deadline`) and stops the
    // thread. Blocks: for the way out, after the clients are gone.
    std::optional<ScpiError> Finish(const OutputReport& report, Clock::time_point deadline);

    // The rule the server keeps: after every command, sweep end, failure or signal the
    // device's last report is the one of the state OUTP? and FREQ? describe (SteadyReport),
    // or the point of the sweep that runs; after a failed write the worker keeps trying to
    // make it so. True while it holds. Thread-safe.
    bool DeviceMatchesInstrument() const;

  private:
    struct Job {
        DeviceOrder order;
        Done done;
    };
    struct Sweep {
        SweepPlan plan;
        std::uint64_t id = 0;
        Clock::time_point start;
        std::uint64_t slot = 0;
    };
    void Run();
    void RunJob(Job& job);
    void SweepPoint();
    void EndSweep(std::optional<ScpiError> error);
    void Restore();
    DeviceStatus Send(const OutputReport& report);

    ReconnectingDevice& device_;
    const Post post_;
    const SweepEnd sweepEnd_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    OutputReport steady_;
    bool continuous_ = false;
    bool stopping_ = false;
    OutputReport lastSent_{};
    bool dirty_ = false;  // a write failed since: the device may hold anything
    bool away_ = false;   // left the bank; restored only once it is back
    bool sweeping_ = false;

    // Worker thread only.
    std::optional<Sweep> sweep_;
    Clock::time_point nextRestore_{};
    std::thread thread_;  // last: starts when everything above is ready
};

}  // namespace tovrik::cli
