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
    std::string FreshNode(Device& device);
    // Sends uevents for the device's tree: "add" parents first, "remove" children first.
    void Announce(const Device& device, const char* action);

    const DeviceSettings& settings_;
    GObjectPtr<UMockdevTestbed> testbed_;
    std::filesystem::path root_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<Fd> ptyMasters_;  // nodes of replugged devices
    std::unique_ptr<FramePacer> pacer_;
};

}  // namespace tovrik::emu
