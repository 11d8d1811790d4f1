// Word from the system that HID interfaces came or went, so that a program serving many
// devices need not enumerate them on a short timer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovrik {

class HotplugMonitor {
  public:
    struct Changes {
        // Interfaces whose device left, even where another is at the same path again by now.
        std::vector<std::string> removed;
    };

    virtual ~HotplugMonitor() = default;
    // Up to `limit`, or until Interrupt: what changed, nullopt when nothing did.
    virtual std::optional<Changes> Wait(std::chrono::milliseconds limit) = 0;
    // Ends a Wait at once, from any thread.
    virtual void Interrupt() = 0;
};

// Makes a monitor; nullptr where the system gives no such word (then callers rescan).
using HotplugSource = std::function<std::unique_ptr<HotplugMonitor>()>;

// The system's HID interfaces: a udev monitor on Linux.
std::unique_ptr<HotplugMonitor> WatchHidInterfaces();

}  // namespace tovrik
