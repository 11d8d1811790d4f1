#include "device/linux/hidraw_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>

namespace tovrik {
namespace {

constexpr const char* kHidrawClassDir = "/sys/class/hidraw";

// "hidraw12" -> 12; anything else is not a hidraw node name.
std::optional<unsigned> HidrawNumber(const char* name) {
    constexpr std::string_view prefix = "hidraw";
    const std::string_view text(name);
    if (!text.starts_with(prefix) || text.size() == prefix.size()) return std::nullopt;
    unsigned number = 0;
    const auto digits = text.substr(prefix.size());
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return number;
}

// The kernel names the class of every character device under /sys/dev/char/<major>:<minor>.
bool IsHidrawDevice(dev_t device) {
    const std::string link = "/sys/dev/char/" + std::to_string(major(device)) + ":" +
                             std::to_string(minor(device)) + "/subsystem";
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return false;
    const std::string_view subsystem(target, static_cast<std::size_t>(length));
    return subsystem == "hidraw" || subsystem.ends_with("/hidraw");
}

bool ReadRawInfo(int fd, hidraw_devinfo& info) {
    return ::ioctl(fd, HIDIOCGRAWINFO, &info) == 0;
}

// The kernel declares vendor and product as signed 16-bit values.
HidIds IdsOf(const hidraw_devinfo& info) {
    return {static_cast<std::uint16_t>(info.vendor), static_cast<std::uint16_t>(info.product)};
}

}  // namespace

std::vector<std::string> HidrawPlatform::EnumerateHidInterfaces() {
    std::vector<unsigned> numbers;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(kHidrawClassDir), ::closedir);
    if (dir) {
        while (const dirent* entry = ::readdir(dir.get())) {
            if (const auto number = HidrawNumber(entry->d_name)) numbers.push_back(*number);
        }
    }
    // Numeric, so hidraw2 comes before hidraw10 and the order does not depend on the directory.
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::string> paths;
    paths.reserve(numbers.size());
    for (const unsigned number : numbers) paths.push_back("/dev/hidraw" + std::to_string(number));
    return paths;
}

OpenResult HidrawPlatform::Open(const std::string& path, ShareMode mode) {
    if (path.empty()) return {kNoNativeHandle, ENOENT};
    // Only hidraw character devices are devices: a path to anything else (a regular file
    // above all) is refused before a byte could be written to it, and any other character
    // device before it is even opened, since opening some of them has effects of its own.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) return {kNoNativeHandle, errno};
    if (!S_ISCHR(before.st_mode) || !IsHidrawDevice(before.st_rdev)) {
        return {kNoNativeHandle, ENODEV};
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {kNoNativeHandle, errno};
    struct stat opened {};
    hidraw_devinfo info{};
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || !ReadRawInfo(fd, info)) {
        ::close(fd);
        return {kNoNativeHandle, ENODEV};
    }
    // Linux has no share modes; advisory locks stand in for them between our programs.
    const int lock = mode == ShareMode::Exclusive ? LOCK_EX : LOCK_SH;
    if (::flock(fd, lock | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return {kNoNativeHandle, error};
    }
    return {fd, 0, IdsOf(info)};
}

std::optional<HidIds> HidrawPlatform::PeekIds(const std::string& path) {
    // The parent hid device's uevent carries HID_ID=<bus>:<vendor>:<product> in hex.
    const std::string_view node(path);
    const auto slash = node.rfind('/');
    const std::string name(node.substr(slash == std::string_view::npos ? 0 : slash + 1));
    if (!HidrawNumber(name.c_str())) return std::nullopt;
    std::ifstream uevent(std::string(kHidrawClassDir) + "/" + name + "/device/uevent");
    std::string line;
    while (std::getline(uevent, line)) {
        unsigned bus = 0;
        unsigned vendor = 0;
        unsigned product = 0;
        if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, &vendor, &product) == 3) {
            return HidIds{static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product)};
        }
    }
    return std::nullopt;
}

std::optional<HidIds> HidrawPlatform::GetIds(NativeHandle handle) {
    hidraw_devinfo info{};
    if (handle < 0 || !ReadRawInfo(static_cast<int>(handle), info)) return std::nullopt;
    return IdsOf(info);
}

std::optional<std::string> HidrawPlatform::GetSerial(NativeHandle handle) {
    std::array<char, 256> uniq{};
    if (handle < 0) return std::nullopt;
    const int n = ::ioctl(static_cast<int>(handle), HIDIOCGRAWUNIQ(uniq.size()), uniq.data());
    if (n <= 0) return std::nullopt;
    uniq.back() = '\0';
    std::string serial(uniq.data());
    if (serial.empty()) return std::nullopt;
    return serial;
}

SystemError HidrawPlatform::WriteReport(NativeHandle handle, const OutputReport& report) {
    if (handle < 0) return EBADF;
    const ssize_t written = ::write(static_cast<int>(handle), report.data(), report.size());
    if (written < 0) return errno != 0 ? errno : EIO;
    return 0;
}

SystemError HidrawPlatform::GetFeature(NativeHandle handle, VersionFeature& feature) {
    if (handle < 0) return EBADF;
    feature[0] = 0;
    if (::ioctl(static_cast<int>(handle), HIDIOCGFEATURE(kReportSize), feature.data()) >= 0)
        return 0;
    return errno != 0 ? errno : EIO;
}

void HidrawPlatform::Close(NativeHandle handle) {
    if (handle >= 0) ::close(static_cast<int>(handle));
}

FailureReason HidrawPlatform::Describe(SystemError error) const {
    switch (error) {
        case EACCES:
        case EPERM:
            return {FailureKind::NotPermitted, "permission denied (is the udev rule installed?)"};
        case EWOULDBLOCK:
        case EBUSY:
            return {FailureKind::Busy, "held by another program"};
        case ENODEV:
        case ENOENT:
        case ENXIO:
            return {FailureKind::Gone, "no such device"};
        default:
            break;
    }
    // strerror's buffer is shared between threads; the GNU strerror_r returns the text.
    std::array<char, 256> buffer{};
    std::string text = ::strerror_r(error, buffer.data(), buffer.size());
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return {FailureKind::Other, text};
}

DevicePlatform& SystemPlatform() {
    static HidrawPlatform platform;
    return platform;
}

}  // namespace tovrik
