// Notices TOVRIKs arriving and leaving, on a thread of its own, since telling a new interface
// apart opens it. With the system's hot-plug word it rescans when a device comes or goes (and
// every kFallbackRescan, for a device another program held); without, every kRescanInterval.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/enumeration.h"
#include "device/hotplug.h"

namespace tovrik::cli {

class Discovery {
  public:
    // Both run on whichever thread scans: the caller's for the first Scan, then discovery's.
    using Arrived = std::function<void(const std::string& path, const DeviceIdentity&)>;
    using Left = std::function<void(const std::string& path)>;
    static constexpr std::chrono::milliseconds kRescanInterval{250};
    static constexpr std::chrono::milliseconds kFallbackRescan{1000};

    Discovery(DevicePlatform& platform, std::unique_ptr<HotplugMonitor> monitor, Arrived arrived,
              Left left);
    ~Discovery() { Stop(); }
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // A TOVRIK at `path` is served already (opened before discovery started): not opened to
    // be identified, only watched for leaving. Before Start.
    void Know(const std::string& path) { seen_[path] = true; }
    // One pass: those gone first, then the new ones in enumeration order. `removed` left
    // whether or not their path is back: a device replugged between two passes is a new one.
    void Scan(const std::vector<std::string>& removed = {});
    // Every later pass on the discovery thread.
    void Start();
    // A pass at once on the discovery thread (after Start), then `done` there.
    void ScanSoon(std::function<void()> done);
    void Stop();

  private:
    DevicePlatform& platform_;
    const std::unique_ptr<HotplugMonitor> monitor_;
    const Arrived arrived_;
    const Left left_;
    // Path: a TOVRIK or not. Whoever scans: the caller before Start, then discovery's thread.
    std::map<std::string, bool> seen_;
    // A TOVRIK was held by someone (often our own worker, a moment before it let go of a
    // replugged device): look again at the short interval.
    bool retry_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::function<void()>> soon_;  // under mutex_
    std::thread thread_;
};

}  // namespace tovrik::cli
