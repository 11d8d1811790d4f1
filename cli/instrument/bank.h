// The instrument's channels: one TOVRIK each, known by name (its serial number, else its
// path), numbered in order of first arrival and kept while away. Discovery finds arrivals
// and departures; each channel's worker alone touches its device. Everything here runs on
// the instrument's thread, except what discovery and the workers post to it.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/instrument/device_worker.h"
#include "cli/instrument/discovery.h"

namespace tovrik::cli {

class Bank {
  public:
    using Post = DeviceWorker::Post;
    using Clock = std::chrono::steady_clock;
    // What the bank tells the instrument, on its thread.
    struct Listener {
        // A device is there: the channel number it has (again).
        std::function<unsigned(const std::string& name, std::optional<std::string> version)>
            arrived;
        std::function<void(unsigned channel)> left;
        std::function<void(unsigned channel, std::uint64_t sweepId, std::optional<ScpiError>)>
            sweepEnded;
    };
    struct StopFailure {
        std::string path;
        ScpiError error;
    };

    Bank(DevicePlatform& platform, Post post, Listener listener);
    ~Bank();
    Bank(const Bank&) = delete;
    Bank& operator=(const Bank&) = delete;

    // `admit`: the name of the one TOVRIK to serve; none: every TOVRIK. `opened`: that one,
    // open already, as channel 1. Those present now arrive before this returns, in
    // enumeration order; later ones through `watch` (or a rescan on a timer).
    void Serve(std::optional<std::string> admit, std::unique_ptr<ReconnectingDevice> opened,
               const HotplugSource& watch);

    void Carry(const DeviceOrder& order, DeviceWorker::Done done);
    // Runs `then` at once, or, while a channel is away, after a discovery pass, so that a
    // device back a moment ago is served again before the next command is refused.
    void Probe(std::function<void()> then);
    // The state a channel's device must follow (see DeviceWorker::Follow).
    void Follow(unsigned channel, const OutputReport& steady, bool continuous);
    std::size_t size() const { return slots_.size(); }
    // Where channel n's device was last seen.
    const std::string& path(unsigned channel) const { return slots_.at(channel - 1)->path; }

    // Stops discovery, then ends every sweep and sends the stop report to every channel at
    // once: one stalled device delays no other. Each is bounded by `deadline`; the failures.
    std::vector<StopFailure> Stop(Clock::time_point deadline);

  private:
    struct Slot {
        std::unique_ptr<ReconnectingDevice> device;
        std::unique_ptr<DeviceWorker> worker;  // after device: destroyed first
        std::string path;
        unsigned inFlight = 0;  // orders carried whose outcome the instrument has not seen
        bool stuck = false;     // its thread did not return from a write by the stop deadline
    };
    void AddSlot(std::unique_ptr<ReconnectingDevice> device, const std::string& path);
    void Arrive(const std::string& path, const DeviceIdentity& identity);
    void Leave(const std::string& path);

    DevicePlatform& platform_;
    const Post post_;
    const Listener listener_;
    std::optional<std::string> admit_;
    std::vector<std::unique_ptr<Slot>> slots_;  // channel n at n - 1
    std::map<std::string, unsigned> paths_;     // where each present channel's device is
    std::unique_ptr<Discovery> discovery_;
    bool started_ = false;  // arrivals from now on come from the discovery thread
};

}  // namespace tovrik::cli
