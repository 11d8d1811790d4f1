// What the hidraw backend can show without any device: it refuses everything that is not a
// hidraw node, and never writes to what it refuses.
#include "device/linux/hidraw_platform.h"

#include <gtest/gtest.h>
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
        EXPECT_EQ(platform.Open(path, ShareMode::Shared), kNoNativeHandle) << path;
        EXPECT_EQ(platform.Open(path, ShareMode::Exclusive), kNoNativeHandle) << path;
        const SendOutcome outcome = SendReportOnce(platform, path, BuildStopReport());
        EXPECT_EQ(outcome.kind, SendOutcome::Kind::NotOpened) << path;
    }
    EXPECT_EQ(ReadAll(file), "precious data");
    ::unlink(name);
}

TEST(HidrawPlatform, InvalidHandlesFailWithoutTouchingAnything) {
    HidrawPlatform platform;
    VersionFeature feature{};
    EXPECT_EQ(platform.WriteReport(kNoNativeHandle, BuildStopReport()), EBADF);
    EXPECT_FALSE(platform.GetFeature(kNoNativeHandle, feature));
    EXPECT_EQ(platform.GetIds(kNoNativeHandle), std::nullopt);
}

}  // namespace
}  // namespace tovrik
