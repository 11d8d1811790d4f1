#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "common/posix_io.h"
#include "device/hotplug.h"

namespace tovrik {
namespace {

struct UdevFree {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

class UdevHotplug final : public HotplugMonitor {
  public:
    UdevHotplug(std::unique_ptr<udev, UdevFree> context,
                std::unique_ptr<udev_monitor, UdevFree> monitor, UniqueFd wake)
        : context_(std::move(context)), monitor_(std::move(monitor)), wake_(std::move(wake)) {}

    std::optional<Changes> Wait(std::chrono::milliseconds limit) override {
        pollfd fds[2] = {{udev_monitor_get_fd(monitor_.get()), POLLIN, 0},
                         {wake_.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(limit.count()));
        if (ready <= 0) return std::nullopt;  // the time is up, or a signal: the caller rescans
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wake_.get(), &count, sizeof count);
        }
        if (!(fds[0].revents & POLLIN)) return std::nullopt;
        Changes changes;
        // The socket does not block: everything queued now, then back to the caller.
        while (const std::unique_ptr<udev_device, UdevFree> device{
            udev_monitor_receive_device(monitor_.get())}) {
            const char* subsystem = udev_device_get_subsystem(device.get());
            const char* action = udev_device_get_action(device.get());
            const char* node = udev_device_get_devnode(device.get());
            if (subsystem == nullptr || std::strcmp(subsystem, "hidraw") != 0) continue;
            if (action != nullptr && node != nullptr && std::strcmp(action, "remove") == 0)
                changes.removed.emplace_back(node);
        }
        return changes;
    }

    void Interrupt() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake_.get(), &one, sizeof one);
    }

  private:
    std::unique_ptr<udev, UdevFree> context_;
    std::unique_ptr<udev_monitor, UdevFree> monitor_;
    UniqueFd wake_;
};

}  // namespace

std::unique_ptr<HotplugMonitor> WatchHidInterfaces() {
    std::unique_ptr<udev, UdevFree> context(udev_new());
    if (!context) return nullptr;
    std::unique_ptr<udev_monitor, UdevFree> monitor(
        udev_monitor_new_from_netlink(context.get(), "udev"));
    // No kernel-side filter: the events are few, and a test bed's socket may not take one.
    if (!monitor || udev_monitor_enable_receiving(monitor.get()) != 0) return nullptr;
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.valid()) return nullptr;
    return std::make_unique<UdevHotplug>(std::move(context), std::move(monitor), std::move(wake));
}

}  // namespace tovrik
