// One emulated HID interface: where it sits in the test bed and how it answers the hidraw
// ioctls and writes of the programs under test.
#pragma once

#include <umockdev.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/emu_log.h"
#include "tools/emu_pacer.h"
#include "tools/emu_resources.h"

namespace tovrik::emu {

struct DeviceSettings {
    std::array<std::uint8_t, 3> version{1, 0, 0};  // what get-feature answers
    bool decode = false;
    std::chrono::microseconds frame{0};  // USB frame for writes; 0: they complete at once
    const Logger* log = nullptr;
};

class Device {
  public:
    // `pacer` times the writes, or is null for writes that complete at once.
    Device(const DeviceSettings& settings, FramePacer* pacer, int index, bool tovrik);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::string Name() const { return "hidraw" + std::to_string(index); }
    std::string DevNode() const { return "/dev/" + Name(); }
    std::uint16_t Vendor() const { return tovrik ? 0x1774 : 0x046D; }
    std::uint16_t Product() const { return tovrik ? 0x9851 : 0xC077; }
    std::string HidName() const { return tovrik ? "TOVRIK" : "Generic USB Mouse"; }
    std::string Phys() const;
    std::string Uniq() const;  // the USB serial number; the mouse has none
    const std::vector<std::uint8_t>& ReportDescriptor() const;

    // The sysfs tree of a USB HID interface, parents first: USB device, interface, HID
    // device, hidraw node.
    std::vector<std::string> SysPaths() const;
    std::string HidSysPath() const { return SysPaths()[2]; }
    // Everything in the test bed by which the device can be found or opened; directories
    // after the links into them.
    std::vector<std::string> Traces() const;
    // The device and its parents in umockdev's text format, child first.
    std::string Description() const;

    UMockdevIoctlBase* handler() const { return handler_.get(); }

    const int index;
    const bool tovrik;

    // Set by control commands on the main thread, read by the handlers on umockdev's worker
    // thread.
    std::atomic<bool> present{true};
    std::atomic<bool> refuseWrite{false};
    std::atomic<bool> refuseFeature{false};
    // Writes wait until StallWrites(false) or kStallLimit, then fail with ETIMEDOUT.
    static constexpr std::chrono::seconds kStallLimit{5};
    void StallWrites(bool on);
    // Bumped by every unplug: descriptors opened before stay dead after a replug, as on a
    // real bus where the device comes back as a new one.
    std::atomic<int> generation{0};

    UniqueFd hold;                                             // the descriptor behind "hold"
    std::vector<std::pair<std::string, std::string>> stashed;  // test-bed path, hiding place

  private:
    struct Stalled {
        Device* device;
        GObjectPtr<UMockdevIoctlClient> client;
        guint timeout = 0;
    };
    static gboolean OnStallLimit(gpointer stalled);
    void FailStalled(Stalled* stalled);

    static void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    static void OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    bool Gone(UMockdevIoctlClient* client) const;
    void AnswerDescriptor(UMockdevIoctlClient* client, UMockdevIoctlData* arg) const;
    gboolean Ioctl(UMockdevIoctlClient* client);
    gboolean Write(UMockdevIoctlClient* client);

    const DeviceSettings& settings_;
    FramePacer* const pacer_;
    FramePacer::Endpoint endpoint_;  // the interrupt OUT endpoint
    // Open descriptors and the generation they were opened in; worker thread only.
    std::map<UMockdevIoctlClient*, int> clients_;
    GObjectPtr<UMockdevIoctlBase> handler_;
    std::mutex stallMutex_;
    bool stalling_ = false;
    std::vector<Stalled*> stalled_;  // owned; each one leaves when it fails
};

}  // namespace tovrik::emu
