// What other HID software sees of the emulated devices, below hidapi. Run inside tovrik-emu.
//
//   stack_probe monitor             "ready", then "<action> <subsystem> <sysname>" for every
//                                   uevent a udev monitor receives, until stdin closes
//   stack_probe node <node> <want>  the node's identity through its ioctls and sysfs:
//                                   "name <s>", "phys <s>", "uniq <s>", "size <n>",
//                                   "descriptor <hex>" (asking for <want> bytes), "sysfs <hex>"
//                                   (its report_descriptor file), "uevent <HID_ID line>",
//                                   "unknown <errno> <errno>" (an unknown 'H' and a foreign
//                                   request)
//   stack_probe burst <node> <n>    n back-to-back 8-byte writes; "wrote <n> in <s> s"
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
// hidraw.h needs the ioctl macros first.
#include <linux/hidraw.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

class Node {
  public:
    explicit Node(const char* path) : fd_(::open(path, O_RDWR | O_CLOEXEC)) {}
    ~Node() {
        if (fd_ >= 0) ::close(fd_);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string Hex(const unsigned char* data, std::size_t size) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%s%02X", i == 0 ? "" : " ", data[i]);
        text += byte;
    }
    return text;
}

int Monitor() {
    const std::unique_ptr<udev, UdevUnref> context(udev_new());
    const std::unique_ptr<udev_monitor, UdevUnref> monitor(
        udev_monitor_new_from_netlink(context.get(), "udev"));
    if (!monitor || udev_monitor_enable_receiving(monitor.get()) != 0) return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    pollfd fds[2] = {{udev_monitor_get_fd(monitor.get()), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return 2;
        }
        if (fds[0].revents & POLLIN) {
            const std::unique_ptr<udev_device, UdevUnref> device(
                udev_monitor_receive_device(monitor.get()));
            if (device) {
                const char* subsystem = udev_device_get_subsystem(device.get());
                std::printf("%s %s %s\n", udev_device_get_action(device.get()),
                            subsystem != nullptr ? subsystem : "-",
                            udev_device_get_sysname(device.get()));
                std::fflush(stdout);
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buffer[256];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) return 0;
        }
    }
}

int Describe(const std::string& path, unsigned wanted) {
    const Node node(path.c_str());
    if (node.get() < 0) return 2;
    char text[256] = {};
    if (::ioctl(node.get(), HIDIOCGRAWNAME(sizeof text), text) >= 0) std::printf("name %s\n", text);
    if (::ioctl(node.get(), HIDIOCGRAWPHYS(sizeof text), text) >= 0) std::printf("phys %s\n", text);
    text[0] = '\0';
    if (::ioctl(node.get(), HIDIOCGRAWUNIQ(sizeof text), text) >= 0) std::printf("uniq %s\n", text);
    int size = 0;
    if (::ioctl(node.get(), HIDIOCGRDESCSIZE, &size) >= 0) std::printf("size %d\n", size);
    hidraw_report_descriptor descriptor{};
    descriptor.size = wanted;
    // Bytes beyond what was asked for must stay untouched.
    std::fill(std::begin(descriptor.value), std::end(descriptor.value), 0xEE);
    if (::ioctl(node.get(), HIDIOCGRDESC, &descriptor) >= 0) {
        std::printf("descriptor %s\n", Hex(descriptor.value, std::min(wanted + 1, 4096u)).c_str());
    } else {
        std::printf("descriptor error %d\n", errno);
    }
    const std::string name = path.substr(path.rfind('/') + 1);
    std::ifstream sysfs("/sys/class/hidraw/" + name + "/device/report_descriptor",
                        std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(sysfs), {}};
    std::printf("sysfs %s\n", Hex(bytes.data(), bytes.size()).c_str());
    std::ifstream uevent("/sys/class/hidraw/" + name + "/device/uevent");
    for (std::string line; std::getline(uevent, line);)
        if (line.starts_with("HID_ID=")) std::printf("uevent %s\n", line.c_str());
    int ignored = 0;
    const int unknownH = ::ioctl(node.get(), _IOR('H', 0x7F, int), &ignored) < 0 ? errno : 0;
    const int foreign = ::ioctl(node.get(), _IOR('X', 0x01, int), &ignored) < 0 ? errno : 0;
    std::printf("unknown %d %d\n", unknownH, foreign);
    return 0;
}

int Burst(const std::string& path, unsigned count) {
    const Node node(path.c_str());
    if (node.get() < 0) return 2;
    const unsigned char report[8] = {0x00, 0x79, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00};
    const auto start = std::chrono::steady_clock::now();
    unsigned written = 0;
    for (; written < count; ++written)
        if (::write(node.get(), report, sizeof report) != static_cast<ssize_t>(sizeof report))
            break;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("wrote %u in %.6f s\n", written, took.count());
    return written == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "monitor" && argc == 2) return Monitor();
    if (mode == "node" && argc == 4) return Describe(argv[2], std::stoul(argv[3]));
    if (mode == "burst" && argc == 4) return Burst(argv[2], std::stoul(argv[3]));
    std::fprintf(stderr, "usage: stack_probe monitor | node <node> <want> | burst <node> <n>\n");
    return 2;
}
