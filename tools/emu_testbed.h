// The umockdev test bed and the devices in it. Removing the test bed removes its folder too.
#pragma once

#include <umockdev.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/emu_device.h"
#include "tools/emu_resources.h"

namespace tovrik::emu {

class Testbed {
  public:
    // Sets UMOCKDEV_DIR in our environment, which the children inherit.
    explicit Testbed(const DeviceSettings& settings);
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Adds the devices in enumeration order; on failure says why ("hidraw1: ...").
    std::string AddDevices(const std::vector<bool>& tovrik);

    std::size_t size() const { return devices_.size(); }
    Device& device(std::size_t index) { return *devices_[index]; }

    // The mechanics behind the control commands; each returns why it failed, or "".
    std::string Unplug(Device& device);
    std::string Replug(Device& device);
    std::string Hold(Device& device);

  private:
    std::size_t Lanes() const;
    FramePacer* Pacer(std::size_t lane);
    std::string FreshNode(Device& device);
    // The test bed whose worker serves the node of the device at `index`; null when adding
    // the devices failed before it was made.
    UMockdevTestbed* Server(std::size_t index) const;
    // Puts the handler of the device at `index` in place: in our test bed, or with frame
    // timing in its lane's.
    std::string Attach(Device& device, std::size_t index);
    // Sends uevents for the device's tree: "add" parents first, "remove" children first.
    void Announce(const Device& device, const char* action);

    const DeviceSettings& settings_;
    GObjectPtr<UMockdevTestbed> testbed_;
    std::filesystem::path root_;
    std::vector<std::unique_ptr<Device>> devices_;
    // With frame timing: per lane, the test bed whose worker thread serves its devices' nodes.
    std::vector<GObjectPtr<UMockdevTestbed>> workers_;
    std::vector<UniqueFd> ptyMasters_;  // nodes of replugged devices
    // With frame timing, one per lane: each times its completions on the thread that serves
    // its lane's nodes.
    std::vector<std::unique_ptr<FramePacer>> pacers_;
    const FramePacer::Clock::time_point frameOrigin_ = FramePacer::Clock::now();
    const std::size_t lanes_ = Lanes();  // worker threads serving nodes; 0: umockdev's own
};

}  // namespace tovrik::emu
