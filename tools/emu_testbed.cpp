#include "tools/emu_testbed.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

namespace tovrik::emu {
namespace {

std::string Errno(const char* what, int err) {
    return std::string(what) + std::strerror(err);
}

// Takes over the error umockdev reported, if any.
std::string AddFailure(const Device& device, GError* error) {
    const ErrorPtr owned(error);
    return device.Name() + ": " + (owned ? owned->message : "cannot add device");
}

}  // namespace

Testbed::Testbed(const DeviceSettings& settings)
    : settings_(settings), testbed_(umockdev_testbed_new()) {
    gchar* root = umockdev_testbed_get_root_dir(testbed_.get());
    root_ = root;
    g_free(root);
}

Testbed::~Testbed() {
    pacers_.clear();  // their writers are released before their devices go
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        devices_[i]->hold.Reset();
        if (UMockdevTestbed* server = Server(i))
            umockdev_testbed_detach_ioctl(server, devices_[i]->DevNode().c_str(), nullptr);
    }
    workers_.clear();
    devices_.clear();
    ptyMasters_.clear();
    testbed_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);  // in case the test bed left anything behind
}

// One worker per processor: fewer queue eight devices' round trips behind each other, more
// only add wake-ups (measured with eight devices at 1 kHz on two processors: one worker left
// 13 to 34 % of the points a frame late, two or eight 1 to 4 %).
std::size_t Testbed::Lanes() const {
    if (settings_.frame.count() <= 0) return 0;
    return std::max(1U, std::thread::hardware_concurrency());
}

UMockdevTestbed* Testbed::Server(std::size_t index) const {
    if (lanes_ == 0) return testbed_.get();
    const std::size_t lane = index % lanes_;
    return lane < workers_.size() ? workers_[lane].get() : nullptr;
}

FramePacer* Testbed::Pacer(std::size_t lane) {
    if (lane >= pacers_.size()) pacers_.resize(lane + 1);
    if (!pacers_[lane])
        pacers_[lane] = std::make_unique<FramePacer>(settings_.frame, frameOrigin_, *settings_.log);
    return pacers_[lane].get();
}

std::string Testbed::AddDevices(const std::vector<bool>& tovrik) {
    for (std::size_t i = 0; i < tovrik.size(); ++i) {
        auto device = std::make_unique<Device>(settings_, lanes_ == 0 ? nullptr : Pacer(i % lanes_),
                                               static_cast<int>(i), tovrik[i]);
        Device& added = *device;
        devices_.push_back(std::move(device));
        // The handler has to be in place before the node exists.
        if (std::string failed = Attach(added, i); !failed.empty()) return failed;
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed_.get(), added.Description().c_str(), &error))
            return AddFailure(added, error);
        // umockdev links a class device to its subsystem only; the kernel also links it to
        // its parent, and HID stacks find the HID device through that link.
        std::error_code linkError;
        std::filesystem::create_directory_symlink(
            "../..", root_.string() + added.SysPaths()[3] + "/device", linkError);
        if (linkError) return added.Name() + ": cannot link its parent: " + linkError.message();
    }
    return {};
}

// umockdev serves every node of a test bed from one worker thread, and fetches each write's
// bytes from the writer with a round trip of its own before a handler sees them: with eight
// devices written in the same frame, those round trips queue behind each other, and on a
// machine where waking another processor is slow the last devices miss their frame. With
// frame timing, the nodes are therefore spread over the workers of test beds made just for
// that (lanes): a device's handler is attached there, and the listening socket is moved to
// where the programs in our test bed look for it (`<root>/ioctl/<node>`).
std::string Testbed::Attach(Device& device, std::size_t index) {
    if (lanes_ > 0) {
        const std::size_t lane = index % lanes_;
        if (lane >= workers_.size()) workers_.resize(lane + 1);
        if (!workers_[lane]) {
            workers_[lane].reset(umockdev_testbed_new());
            // A new test bed points UMOCKDEV_DIR at itself; the programs belong to ours.
            g_setenv("UMOCKDEV_DIR", root_.c_str(), TRUE);
        }
    }
    UMockdevTestbed* server = Server(index);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(server, device.DevNode().c_str(), device.handler(), &error))
        return AddFailure(device, error);
    if (lanes_ == 0) return {};
    gchar* ownRoot = umockdev_testbed_get_root_dir(server);
    const std::filesystem::path from = std::string(ownRoot) + "/ioctl" + device.DevNode();
    g_free(ownRoot);
    const std::filesystem::path to = root_.string() + "/ioctl" + device.DevNode();
    std::error_code moveError;
    std::filesystem::create_directories(to.parent_path(), moveError);
    if (!moveError) std::filesystem::rename(from, to, moveError);
    if (moveError) return device.Name() + ": cannot move its socket: " + moveError.message();
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
    UniqueFd fd(::open(node.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) return Errno("cannot open: ", errno);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return Errno("cannot lock: ", errno);
    device.hold = std::move(fd);
    return {};
}

// A replugged device is a new node on a real system: locks that stale descriptors still hold
// on the old one must not bind it. Give it a pseudo-terminal of its own, as umockdev does for
// every node, and map that to the device's number.
std::string Testbed::FreshNode(Device& device) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
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
