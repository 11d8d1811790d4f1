#include "tools/emu_testbed.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace tovrik::emu {
namespace {

std::string Errno(const char* what, int err) {
    return std::string(what) + std::strerror(err);
}

}  // namespace

Testbed::Testbed(const DeviceSettings& settings)
    : settings_(settings), testbed_(umockdev_testbed_new()) {
    gchar* root = umockdev_testbed_get_root_dir(testbed_.get());
    root_ = root;
    g_free(root);
    if (settings.frame.count() > 0)
        pacer_ = std::make_unique<FramePacer>(settings.frame, *settings.log);
}

Testbed::~Testbed() {
    pacer_.reset();  // its writers are released before their devices go
    for (auto& device : devices_) {
        device->hold.Reset();
        umockdev_testbed_detach_ioctl(testbed_.get(), device->DevNode().c_str(), nullptr);
    }
    devices_.clear();
    ptyMasters_.clear();
    testbed_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);  // in case the test bed left anything behind
}

std::string Testbed::AddDevices(const std::vector<bool>& tovrik) {
    for (std::size_t i = 0; i < tovrik.size(); ++i) {
        auto device =
            std::make_unique<Device>(settings_, pacer_.get(), static_cast<int>(i), tovrik[i]);
        Device& added = *device;
        devices_.push_back(std::move(device));
        // The handler has to be in place before the node exists.
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed_.get(), added.DevNode().c_str(), added.handler(),
                                           &error) ||
            !umockdev_testbed_add_from_string(testbed_.get(), added.Description().c_str(),
                                              &error)) {
            const ErrorPtr owned(error);
            return added.Name() + ": " + (owned ? owned->message : "cannot add device");
        }
        // umockdev links a class device to its subsystem only; the kernel also links it to
        // its parent, and HID stacks find the HID device through that link.
        std::error_code linkError;
        std::filesystem::create_directory_symlink(
            "../..", root_.string() + added.SysPaths()[3] + "/device", linkError);
        if (linkError) return added.Name() + ": cannot link its parent: " + linkError.message();
    }
    return {};
}

void Testbed::Announce(const Device& device, const char* action) {
    auto paths = device.SysPaths();
    if (std::string_view(action) == "remove") std::reverse(paths.begin(), paths.end());
    for (const auto& path : paths) umockdev_testbed_uevent(testbed_.get(), path.c_str(), action);
}

std::string Testbed::Unplug(Device& device) {
    device.hold.Reset();
    // Stale descriptors learn about it from the handler, which now answers ENODEV.
    device.present = false;
    ++device.generation;
    // udev monitors hear of it while the device is still there to be described.
    Announce(device, "remove");
    // umockdev cannot add a node again once removed, so the device's traces are moved aside
    // instead and put back by replug.
    const std::filesystem::path stash = root_ / ".unplugged" / device.Name();
    std::error_code error;
    std::filesystem::create_directories(stash, error);
    device.stashed.clear();
    for (const std::string& path : device.Traces()) {
        const std::string target = stash / std::to_string(device.stashed.size());
        std::filesystem::rename(root_.string() + path, target, error);
        if (!error) device.stashed.emplace_back(path, target);
    }
    return {};
}

std::string Testbed::Replug(Device& device) {
    std::error_code ignored;
    for (auto it = device.stashed.rbegin(); it != device.stashed.rend(); ++it)
        std::filesystem::rename(it->second, root_.string() + it->first, ignored);
    device.stashed.clear();
    std::string error = FreshNode(device);
    if (!error.empty()) return error;
    device.present = true;
    Announce(device, "add");
    return {};
}

std::string Testbed::Hold(Device& device) {
    // The test bed's node leads to the same file the programs open, so they see this lock.
    const std::string node = root_.string() + device.DevNode();
    Fd fd(::open(node.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) return Errno("cannot open: ", errno);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return Errno("cannot lock: ", errno);
    device.hold = std::move(fd);
    return {};
}

// A replugged device is a new node on a real system: locks that stale descriptors still hold
// on the old one must not bind it. Give it a pseudo-terminal of its own, as umockdev does for
// every node, and map that to the device's number.
std::string Testbed::FreshNode(Device& device) {
    Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.valid()) return Errno("cannot create node: ", errno);
    char slave[128];
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), slave, sizeof slave) != 0)
        return Errno("cannot create node: ", errno);
    ptyMasters_.push_back(std::move(master));
    std::string mapName = slave;
    std::replace(mapName.begin(), mapName.end(), '/', '_');
    const std::string number = "247:" + std::to_string(device.index);
    const std::string node = root_.string() + device.DevNode();
    const std::string map = root_.string() + "/dev/.ptymap/" + mapName;
    ::unlink(map.c_str());
    ::unlink(node.c_str());
    if (::symlink(number.c_str(), map.c_str()) != 0 || ::symlink(slave, node.c_str()) != 0)
        return Errno("cannot create node: ", errno);
    return {};
}

}  // namespace tovrik::emu
