// The Windows backend, run under Wine: what it can show without a TOVRIK.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "device/windows/hid_platform.h"

namespace tovrik {
namespace {

TEST(WindowsHidPlatform, ReadsIdsFromInterfacePaths) {
    const struct {
        const char* path;
        std::optional<HidIds> ids;
    } cases[] = {
        {R"(\\?\hid#vid_1774&pid_9851#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})",
         HidIds{0x1774, 0x9851}},
        {R"(\\?\HID#VID_845E&PID_0001&MI_00#1&2&3#{4d1e55b2-f16f-11cf-88cb-001111000030})",
         HidIds{0x845E, 0x0001}},
        {R"(\\?\hid#vid_1774&pid_98#x)", std::nullopt},           // short product id
        {R"(\\?\hid#vid_17g4&pid_9851#x)", std::nullopt},         // not hex
        {R"(\\?\hid#vid_1774&rev_0100&pid_9851)", std::nullopt},  // pid not right after vid
        {R"(\\?\root#system#0000)", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto ids = IdsFromInterfacePath(c.path);
        ASSERT_EQ(ids.has_value(), c.ids.has_value());
        if (ids) {
            EXPECT_EQ(ids->vendorId, c.ids->vendorId);
            EXPECT_EQ(ids->productId, c.ids->productId);
        }
    }
}

TEST(WindowsHidPlatform, DescribesSystemErrorsByWhatTheyMeanToAUser) {
    WindowsHidPlatform platform;
    const struct {
        DWORD error;
        FailureKind kind;
    } cases[] = {
        {ERROR_ACCESS_DENIED, FailureKind::NotPermitted},
        {ERROR_SHARING_VIOLATION, FailureKind::Busy},
        {ERROR_FILE_NOT_FOUND, FailureKind::Gone},
        {ERROR_DEVICE_NOT_CONNECTED, FailureKind::Gone},
        {ERROR_GEN_FAILURE, FailureKind::Gone},
        {ERROR_BAD_DEVICE, FailureKind::Gone},
        {ERROR_NOT_ENOUGH_MEMORY, FailureKind::Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const FailureReason reason = platform.Describe(static_cast<SystemError>(c.error));
        EXPECT_EQ(reason.kind, c.kind);
        ASSERT_FALSE(reason.text.empty());
        // A fragment for "<path>: <text>": no sentence end, no line break.
        EXPECT_EQ(reason.text.find_first_of(".\r\n"), std::string::npos) << reason.text;
    }
}

// A path that names a file must never receive a report, whatever the caller does with it.
TEST(WindowsHidPlatform, RefusesWhatIsNotAHidDevice) {
    char folder[MAX_PATH] = {};
    char name[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, folder), 0u);
    ASSERT_NE(::GetTempFileNameA(folder, "tvk", 0, name), 0u);
    { std::ofstream(name, std::ios::binary) << "precious data"; }

    WindowsHidPlatform platform;
    for (const ShareMode mode : {ShareMode::Shared, ShareMode::Exclusive}) {
        const OpenResult opened = platform.Open(name, mode);
        EXPECT_EQ(opened.handle, kNoNativeHandle);
        EXPECT_EQ(platform.Describe(opened.error).kind, FailureKind::Gone);
    }
    const OpenResult missing =
        platform.Open(R"(\\?\hid#vid_1774&pid_9851#gone)", ShareMode::Shared);
    EXPECT_EQ(missing.handle, kNoNativeHandle);
    EXPECT_EQ(platform.Describe(missing.error).kind, FailureKind::Gone);
    EXPECT_EQ(platform.Open("", ShareMode::Shared).handle, kNoNativeHandle);

    std::ifstream in(name, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious data");
    in.close();
    std::remove(name);
}

// Whatever HID interfaces this system has (Wine always has some of its own): each one has a
// path, and the ids its path carries are the ids the device reports once opened.
TEST(WindowsHidPlatform, EnumeratedPathsCarryTheDevicesIds) {
    WindowsHidPlatform platform;
    for (const std::string& path : platform.EnumerateHidInterfaces()) {
        SCOPED_TRACE(path);
        ASSERT_FALSE(path.empty());
        const auto peeked = platform.PeekIds(path);
        ASSERT_TRUE(peeked.has_value());
        const OpenResult opened = platform.Open(path, ShareMode::Shared);
        if (opened.handle == kNoNativeHandle) continue;
        const auto ids = platform.GetIds(opened.handle);
        platform.Close(opened.handle);
        ASSERT_TRUE(ids.has_value());
        EXPECT_EQ(ids->vendorId, peeked->vendorId);
        EXPECT_EQ(ids->productId, peeked->productId);
    }
}

}  // namespace
}  // namespace tovrik
