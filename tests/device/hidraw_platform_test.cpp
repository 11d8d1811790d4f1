// What the hidraw backend can show without any device: it refuses everything that is not a
// hidraw node, and never writes to what it refuses.
#include "device/linux/hidraw_platform.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "device/transport.h"

namespace tovrik {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(HidrawPlatform, RefusesPathsThatAreNotHidrawNodes) {
    char name[] = "/tmp/tovrik-not-a-device-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string file = name;
    { std::ofstream(file, std::ios::binary) << "precious data"; }

    HidrawPlatform platform;
    for (const std::string& path : {file, std::string("/tmp"), std::string("/dev/null"),
                                    std::string("/dev/hidraw-none"), std::string()}) {
        EXPECT_EQ(platform.Open(path, ShareMode::Shared).handle, kNoNativeHandle) << path;
        EXPECT_EQ(platform.Open(path, ShareMode::Exclusive).handle, kNoNativeHandle) << path;
        const DeviceStatus sent = SendReportOnce(platform, path, BuildStopReport());
        EXPECT_TRUE(!sent && sent.error().step == DeviceError::Step::Open) << path;
    }
    EXPECT_EQ(ReadAll(file), "precious data");
    ::unlink(name);
}

// Opening is not harmless for every character device (a watchdog starts counting, a serial
// port drops its modem lines), so a path of another kind must be refused before the open.
TEST(HidrawPlatform, NeverOpensCharacterDevicesOfOtherKinds) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, "/dev/null", IN_OPEN) < 0) {
        if (watch >= 0) ::close(watch);
        GTEST_SKIP() << "inotify is not available on /dev/null";
    }
    HidrawPlatform platform;
    EXPECT_EQ(platform.Open("/dev/null", ShareMode::Shared).handle, kNoNativeHandle);
    EXPECT_EQ(platform.Open("/dev/null", ShareMode::Exclusive).handle, kNoNativeHandle);
    EXPECT_FALSE(ReadVersionOnce(platform, "/dev/null"));
    char events[256];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "/dev/null was opened";
    ::close(watch);
}

TEST(HidrawPlatform, InvalidHandlesFailWithoutTouchingAnything) {
    HidrawPlatform platform;
    VersionFeature feature{};
    EXPECT_EQ(platform.WriteReport(kNoNativeHandle, BuildStopReport()), EBADF);
    EXPECT_EQ(platform.GetFeature(kNoNativeHandle, feature), EBADF);
    EXPECT_EQ(platform.GetIds(kNoNativeHandle), std::nullopt);
}

}  // namespace
}  // namespace tovrik
