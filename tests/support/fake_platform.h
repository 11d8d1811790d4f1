// In-process stand-in for the operating system's HID stack, with share-mode rules like the
// real backends and a record of every report that reaches a device. Safe to call from several
// threads at once, as DevicePlatform promises; At, ByPath and Add are for setting it up, Edit
// changes an interface while other threads drive it.
#pragma once

#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/platform.h"

namespace tovrik::testing {

struct FakeInterface {
    std::string path;
    std::uint16_t vendorId = 0x1774;
    std::uint16_t productId = 0x9851;
    bool present = true;
    bool heldByOtherProgram = false;  // an exclusive holder outside this process
    bool identifiable = true;         // attributes can be read
    int openError = 0;                // non-zero: every open fails with this code
    int writeError = 0;               // non-zero: writes fail with this code
    bool refuseFeature = false;
    std::string serial = {};  // the USB serial number; empty: none
    VersionFeature feature{0, 1, 0, 0, 0, 0, 0, 0};
};

struct SentReport {
    std::string path;
    OutputReport bytes;
};

class FakePlatform : public DevicePlatform {
  public:
    // A TOVRIK at /dev/hidraw<i> for each 't', another HID device for each 'o'.
    static FakePlatform WithLayout(const std::string& layout);

    FakePlatform() = default;
    FakePlatform(FakePlatform&& other) noexcept { *this = std::move(other); }
    FakePlatform& operator=(FakePlatform&& other) noexcept;
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;
    ~FakePlatform() override = default;

    FakeInterface& Add(FakeInterface iface);
    FakeInterface& At(std::size_t position) { return interfaces_.at(position); }
    FakeInterface& ByPath(const std::string& path);
    template <typename F>
    void Edit(std::size_t position, F change) {
        const std::lock_guard lock(mutex_);
        change(interfaces_.at(position));
    }
    void Unplug(std::size_t position) {
        Edit(position, [](FakeInterface& iface) { iface.present = false; });
    }
    void Replug(std::size_t position) {
        Edit(position, [](FakeInterface& iface) { iface.present = true; });
    }

    std::vector<std::string> EnumerateHidInterfaces() override;
    OpenResult Open(const std::string& path, ShareMode mode) override;
    std::optional<HidIds> GetIds(NativeHandle handle) override;
    std::optional<std::string> GetSerial(NativeHandle handle) override;
    std::optional<HidIds> PeekIds(const std::string& path) override;
    SystemError WriteReport(NativeHandle handle, const OutputReport& report) override;
    SystemError GetFeature(NativeHandle handle, VersionFeature& feature) override;
    void Close(NativeHandle handle) override;
    FailureReason Describe(SystemError error) const override;

    // A copy: another thread may be adding to it.
    std::vector<SentReport> sent() const {
        const std::lock_guard lock(mutex_);
        return sent_;
    }
    void ClearSent() {
        const std::lock_guard lock(mutex_);
        sent_.clear();
    }
    std::size_t OpenHandleCount() const {
        const std::lock_guard lock(mutex_);
        return open_.size();
    }
    int closeCount() const {
        const std::lock_guard lock(mutex_);
        return closeCount_;
    }
    int doubleCloseCount() const {
        const std::lock_guard lock(mutex_);
        return doubleCloses_;
    }

  private:
    struct OpenState {
        std::size_t position;
        ShareMode mode;
    };
    FakeInterface* Find(const std::string& path);
    const OpenState* Lookup(NativeHandle handle) const;

    mutable std::mutex mutex_;  // guards everything below
    std::vector<FakeInterface> interfaces_;
    std::map<NativeHandle, OpenState> open_;
    std::vector<SentReport> sent_;
    NativeHandle nextHandle_ = 100;
    int closeCount_ = 0;
    int doubleCloses_ = 0;
};

}  // namespace tovrik::testing
