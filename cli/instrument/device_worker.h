// One served TOVRIK and the thread that alone does its I/O, so that a slow, stalled or
// vanished device never holds up the clients' thread. Sweeps are paced here too, on the
// worker's own pacer, by absolute deadlines that no client can delay. Several workers may run
// side by side; every method below is called from the instrument's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cli/pacer.h"
#include "cli/scpi.h"
#include "device/reconnecting_device.h"

namespace tovrik::cli {

// How often a device that is refusing is tried again.
inline constexpr std::chrono::milliseconds kRestoreInterval{250};

// The SCPI error of a failed write to `path`.
ScpiError LinkScpiError(DevicePlatform& platform, const std::string& path, const DeviceError& e);

class DeviceWorker {
  public:
    using Clock = std::chrono::steady_clock;
    // Runs a callback on the instrument's thread; every callback below arrives through it.
    using Post = std::function<void(std::function<void()>)>;
    using Done = std::function<void(std::optional<ScpiError>)>;
    // A sweep ended: by itself (no error), because a point could not be sent, or because the
    // device left.
    using SweepEnd = std::function<void(std::uint64_t sweepId, std::optional<ScpiError>)>;

    DeviceWorker(ReconnectingDevice& device, OutputReport steady, Post post, SweepEnd sweepEnd,
                 std::unique_ptr<Pacer> pacer = MakePacer());
    ~DeviceWorker();  // stops the thread; sends nothing
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    // Queues an order; `done` runs once it was carried out (for a sweep: its first point).
    void Carry(const DeviceOrder& order, Done done);
    // The report of the set state: where a sweep ends and what a device that missed a report
    // is brought back to. `settled`: no order is on its way, so the instrument's state is
    // final and a device that is not sweeping must have this report last; the worker sends
    // it when it does not (a command that came while a sweep was ending).
    void Follow(const OutputReport& steady, bool continuous, bool settled = false);
    // The device is back (found by discovery): open it and send the set state.
    void Revive();
    // The device has left: any sweep ends with -241, the handle is closed and nothing is
    // opened again until Revive, so that discovery is the first to open it when it returns.
    void Away();
    // Ends any sweep and, on the worker's thread, sends `report` (retrying a refusal until
    // `deadline`), then the thread ends. Does not wait: several channels stop at once.
    void RequestFinish(const OutputReport& report, Clock::time_point deadline);
    // After RequestFinish: the outcome, or none when the worker is still busy at `deadline`
    // (a write the system has not returned from).
    std::optional<std::optional<ScpiError>> WaitFinished(Clock::time_point deadline);

    // The rule the instrument keeps: after every command, sweep end, failure or signal the
    // device's last report is the one of the state OUTP? and FREQ? describe (SteadyReport),
    // or the point of the sweep that runs; after a failed write the worker keeps trying to
    // make it so. True while it holds.
    bool DeviceMatchesInstrument() const;

  private:
    struct Job {
        DeviceOrder order;
        Done done;
    };
    struct Sweep {
        SweepPlan plan;
        std::uint64_t id = 0;
        std::uint64_t start = 0;  // NowNanoseconds
        std::uint64_t slot = 0;
    };
    void Run();
    void RunJob(Job& job);
    void SweepPoint();
    void EndSweep(std::optional<ScpiError> error);
    void Leave();
    void Restore();
    void RunFinish();
    DeviceStatus Send(const OutputReport& report);

    ReconnectingDevice& device_;
    const Post post_;
    const SweepEnd sweepEnd_;
    const std::unique_ptr<Pacer> pacer_;

    // Shared between the instrument's thread and the worker's, under mutex_.
    mutable std::mutex mutex_;
    std::deque<Job> jobs_;
    OutputReport steady_;
    bool continuous_ = false;
    bool settled_ = false;
    bool stopping_ = false;
    bool revived_ = false;  // Revive came: restore at once
    bool leaving_ = false;  // Away came: end the sweep, close
    OutputReport lastSent_{};
    bool dirty_ = false;  // a write failed since: the device may hold anything
    bool away_ = false;   // left; restored only once it is back
    bool sweeping_ = false;
    std::optional<OutputReport> finishReport_;
    Clock::time_point finishDeadline_;
    std::optional<std::optional<ScpiError>> finished_;
    std::condition_variable finishedChanged_;

    // Worker thread only.
    std::optional<Sweep> sweep_;
    std::uint64_t nextRestore_ = 0;  // NowNanoseconds
    std::thread thread_;             // last: starts when everything above is ready
};

}  // namespace tovrik::cli
