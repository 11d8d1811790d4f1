#include "device/transport.h"

#include <gtest/gtest.h>

#include "device/enumeration.h"
#include "device/reconnecting_device.h"
#include "tests/support/device_access.h"
#include "tests/support/fake_platform.h"

namespace tovrik {
namespace {

using testing::FakeInterface;
using testing::FakePlatform;
using testing::OpenDevice;
using testing::OpenDeviceShared;
using testing::WriteOutputReport;

// The library's way of walking the TOVRIKs: a position to search from that comes back as
// the one after the hit, or 0 with the path left alone when there is none.
bool FindDevice(FakePlatform& platform, int& startIndex, std::string& path) {
    const auto found =
        tovrik::FindDevice(platform, startIndex < 0 ? 0 : static_cast<std::size_t>(startIndex));
    startIndex = found ? static_cast<int>(found->position + 1) : 0;
    if (found) path = found->path;
    return found.has_value();
}

TEST(FindDevice, NoInterfacesResetsStartIndex) {
    FakePlatform platform;
    int start = 5;
    std::string path = "unchanged";
    EXPECT_FALSE(FindDevice(platform, start, path));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(path, "unchanged");
}

TEST(FindDevice, ResumesAfterEachMatchAndWrapsAround) {
    auto platform = FakePlatform::WithLayout("o,o,o,t,o,o,o,t,o");
    int start = 0;
    std::string path;
    struct Step {
        bool found;
        int nextStart;
        const char* path;
    };
    const Step steps[] = {{true, 4, "/dev/hidraw3"},
                          {true, 8, "/dev/hidraw7"},
                          {false, 0, "/dev/hidraw7"},
                          {true, 4, "/dev/hidraw3"}};
    for (const Step& step : steps) {
        EXPECT_EQ(FindDevice(platform, start, path), step.found);
        EXPECT_EQ(start, step.nextStart);
        EXPECT_EQ(path, step.path);
    }
    EXPECT_EQ(platform.OpenHandleCount(), 0u) << "probe handles must be closed";
}

TEST(FindDevice, StartIndexIsTheFirstPositionExamined) {
    auto platform = FakePlatform::WithLayout("o,o,o,t,o,o,o,t");
    struct Case {
        int start;
        bool found;
        int nextStart;
    };
    const Case cases[] = {{3, true, 4}, {4, true, 8}, {7, true, 8}, {8, false, 0}, {9, false, 0}};
    for (const Case& c : cases) {
        int start = c.start;
        std::string path;
        EXPECT_EQ(FindDevice(platform, start, path), c.found) << c.start;
        EXPECT_EQ(start, c.nextStart) << c.start;
    }
}

TEST(FindDevice, UnusableInterfacesAreSkippedButStillCount) {
    auto platform = FakePlatform::WithLayout("t,t,t,t");
    platform.At(0).heldByOtherProgram = true;
    platform.At(1).identifiable = false;
    platform.At(2).path = "/dev/" + std::string(kMaxDevicePathLength, 'x');
    int start = 0;
    std::string path;
    ASSERT_TRUE(FindDevice(platform, start, path));
    EXPECT_EQ(path, "/dev/hidraw3");
    EXPECT_EQ(start, 4);
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(FindDevice, DeviceHeldExclusivelyByThisProcessIsNotFound) {
    auto platform = FakePlatform::WithLayout("t,t");
    DeviceHandle held = OpenDevice(platform, "/dev/hidraw0");
    ASSERT_TRUE(held);
    int start = 0;
    std::string path;
    ASSERT_TRUE(FindDevice(platform, start, path));
    EXPECT_EQ(path, "/dev/hidraw1");
}

TEST(OpenDevice, ExclusiveOpenShutsOutEveryOtherOpen) {
    auto platform = FakePlatform::WithLayout("t");
    DeviceHandle exclusive = OpenDevice(platform, "/dev/hidraw0");
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(OpenDevice(platform, "/dev/hidraw0"));
    EXPECT_FALSE(OpenDeviceShared(platform, "/dev/hidraw0"));
    exclusive.Reset();
    DeviceHandle shared1 = OpenDeviceShared(platform, "/dev/hidraw0");
    DeviceHandle shared2 = OpenDeviceShared(platform, "/dev/hidraw0");
    EXPECT_TRUE(shared1 && shared2);
    EXPECT_FALSE(OpenDevice(platform, "/dev/hidraw0"));
}

TEST(WriteOutputReport, SendsFrequencyOrStopReport) {
    auto platform = FakePlatform::WithLayout("t");
    DeviceHandle handle = OpenDevice(platform, "/dev/hidraw0");
    ASSERT_TRUE(WriteOutputReport(handle, 0x12345679, 0, 1));
    ASSERT_TRUE(WriteOutputReport(handle, 238'609'294, 0, 0));
    ASSERT_TRUE(WriteOutputReport(handle, 0x12345679, 2, 1));
    ASSERT_EQ(platform.sent().size(), 3u);
    EXPECT_EQ(platform.sent()[0].bytes, (OutputReport{0, 0x79, 0x56, 0x34, 0x12, 0x01, 0, 0}));
    EXPECT_EQ(platform.sent()[1].bytes, BuildStopReport());
    EXPECT_EQ(platform.sent()[2].bytes[5], 0x11);
    EXPECT_TRUE(handle);
}

TEST(WriteOutputReport, FailedWriteClosesTheHandleExactlyOnce) {
    auto platform = FakePlatform::WithLayout("t");
    DeviceHandle handle = OpenDevice(platform, "/dev/hidraw0");
    platform.At(0).writeError = EIO;
    SystemError error = 0;
    EXPECT_FALSE(WriteOutputReport(handle, 1, 0, 1, &error));
    EXPECT_EQ(error, EIO);
    EXPECT_FALSE(handle);
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_FALSE(WriteOutputReport(handle, 1, 0, 1)) << "a handle of none fails";
    EXPECT_EQ(platform.closeCount(), 1);
    EXPECT_EQ(platform.doubleCloseCount(), 0);
    EXPECT_TRUE(platform.sent().empty());
}

TEST(ReconnectingDevice, ByPathNeverMovesToAnotherTovrikButFirstFoundDoes) {
    auto platform = FakePlatform::WithLayout("t,t");
    std::vector<std::string> refused;
    ReconnectingDevice byPath(platform, ReconnectPolicy::ByIdentity, "/dev/hidraw0");
    ReconnectingDevice firstFound(platform, ReconnectPolicy::FirstFound, {},
                                  [&](const DeviceRefusal& r) { refused.push_back(r.path); });
    ASSERT_TRUE(byPath.Open().ok());
    byPath.Close();
    platform.Unplug(0);
    const DeviceStatus missing = byPath.Write(BuildStopReport());
    EXPECT_TRUE(missing.error().gone);
    EXPECT_TRUE(firstFound.Write(BuildStopReport()).ok());
    EXPECT_EQ(firstFound.path(), "/dev/hidraw1");
    ASSERT_EQ(platform.sent().size(), 1u);
    EXPECT_EQ(platform.sent()[0].path, "/dev/hidraw1");
    platform.Replug(0);
    EXPECT_TRUE(byPath.Write(BuildStopReport()).ok());
    EXPECT_EQ(platform.sent().back().path, "/dev/hidraw0");
    platform.At(1).writeError = EIO;
    const DeviceStatus refusedWrite = firstFound.Write(BuildStopReport());
    EXPECT_EQ(refusedWrite.error().code, EIO);
    EXPECT_FALSE(refusedWrite.error().gone);
    platform.At(1).writeError = ENODEV;  // vanished between the open and the write
    EXPECT_TRUE(firstFound.Write(BuildStopReport()).error().gone);
    // Discovery from the start met the first TOVRIK, held by the other device object.
    EXPECT_EQ(refused, (std::vector<std::string>{"/dev/hidraw0", "/dev/hidraw0"}));
}

TEST(ReconnectingDevice, ASerialNumberFollowsTheDeviceToAnotherPathAndNoOtherOne) {
    auto platform = FakePlatform::WithLayout("t,t");
    platform.At(0).serial = "TVK00001";
    platform.At(1).serial = "TVK00002";
    ReconnectingDevice device(platform, ReconnectPolicy::ByIdentity, "/dev/hidraw0");
    ASSERT_TRUE(device.Open().ok());
    device.Close();
    platform.Unplug(0);
    EXPECT_TRUE(device.Write(BuildStopReport()).error().gone);  // the other serial is not ours
    FakeInterface moved;
    moved.path = "/dev/hidraw7";
    moved.serial = "TVK00001";
    platform.Add(moved);
    EXPECT_TRUE(device.Write(BuildStopReport()).ok());
    EXPECT_EQ(device.path(), "/dev/hidraw7");
    ASSERT_EQ(platform.sent().size(), 1u);
    EXPECT_EQ(platform.sent()[0].path, "/dev/hidraw7");
}

TEST(ReadFirmwareVersion, FailureKeepsTheHandleForTheNextWrite) {
    auto platform = FakePlatform::WithLayout("t");
    platform.At(0).feature = {0, 6, 1, 5, 0, 0, 0, 0};
    DeviceHandle handle = OpenDevice(platform, "/dev/hidraw0");
    EXPECT_EQ(ReadFirmwareVersion(handle).value(), "06/01/05");
    platform.At(0).refuseFeature = true;
    EXPECT_EQ(ReadFirmwareVersion(handle).value(), std::nullopt);
    EXPECT_TRUE(handle);
    EXPECT_TRUE(WriteOutputReport(handle, 5, 0, 1));
    DeviceHandle none;
    EXPECT_EQ(ReadFirmwareVersion(none).value(), std::nullopt);
}

TEST(SendReportOnce, ReportsEachOutcomeAndLeavesNothingOpen) {
    auto platform = FakePlatform::WithLayout("t,t,t");
    platform.At(1).writeError = EPIPE;
    platform.At(2).heldByOtherProgram = true;
    using Step = DeviceError::Step;
    struct Case {
        std::string path;
        std::optional<Step> failed;  // none: sent
        int error;                   // of a refused write
    };
    const Case cases[] = {{"/dev/hidraw0", std::nullopt, 0},
                          {"/dev/hidraw1", Step::Write, EPIPE},
                          {"/dev/hidraw2", Step::Open, 0},
                          {"", Step::Open, 0},
                          {"/dev/nowhere", Step::Open, 0}};
    for (const Case& c : cases) {
        const DeviceStatus sent = SendReportOnce(platform, c.path, BuildPowerSavingReport());
        EXPECT_EQ(sent.ok(), !c.failed) << c.path;
        if (!sent) {
            EXPECT_EQ(sent.error().step, *c.failed) << c.path;
        }
        if (c.failed == Step::Write) {
            EXPECT_EQ(sent.error().code, c.error) << c.path;
        }
        EXPECT_EQ(platform.OpenHandleCount(), 0u) << c.path;
    }
    ASSERT_EQ(platform.sent().size(), 1u);
    EXPECT_EQ(platform.sent()[0].bytes, BuildPowerSavingReport());
}

TEST(ReadVersionOnce, ClosesTheHandleWhetherOrNotTheReadWorks) {
    auto platform = FakePlatform::WithLayout("t");
    platform.At(0).feature = {0, 1, 2, 3, 0, 0, 0, 0};
    EXPECT_EQ(ReadVersionOnce(platform, "/dev/hidraw0").value(), "01/02/03");
    platform.At(0).refuseFeature = true;
    EXPECT_EQ(ReadVersionOnce(platform, "/dev/hidraw0").value(), std::nullopt);
    EXPECT_EQ(ReadVersionOnce(platform, "").value(), std::nullopt);
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

// Discovery names the TOVRIKs it could not open, and why; other devices it could not open
// stay unnamed, since they are none of ours.
TEST(FindDevice, ReportsTovriksItCouldNotOpenWithTheReason) {
    auto platform = FakePlatform::WithLayout("o,t,t,t");
    platform.At(0).openError = EACCES;
    platform.At(1).openError = EACCES;
    platform.At(2).heldByOtherProgram = true;
    std::vector<HidInterface> refused;
    std::string path;
    for (const HidInterface& found : EnumerateDevices(platform)) {
        if (found.refusedTovrik()) refused.push_back(found);
        if (found.tovrik && path.empty()) path = found.path;
    }
    EXPECT_EQ(path, "/dev/hidraw3");
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].path, "/dev/hidraw1");
    EXPECT_EQ(refused[0].refusal->code, EACCES);
    EXPECT_EQ(refused[1].path, "/dev/hidraw2");
    EXPECT_EQ(refused[1].refusal->code, EWOULDBLOCK);
}

TEST(Transport, CarriesTheSystemErrorOfOpenAndFeatureRead) {
    auto platform = FakePlatform::WithLayout("t");
    DeviceHandle held = OpenDevice(platform, "/dev/hidraw0");
    SystemError error = 0;
    EXPECT_FALSE(OpenDevice(platform, "/dev/hidraw0", &error));
    EXPECT_EQ(error, EWOULDBLOCK);
    platform.At(0).refuseFeature = true;
    const auto version = ReadFirmwareVersion(held);
    ASSERT_FALSE(version);
    EXPECT_EQ(version.error().code, EIO);
}

// A wrong or stale path that leads to another HID device must never reach it.
TEST(SendReportOnce, OtherHidDevicesAreNotOpenedAndGetNothing) {
    auto platform = FakePlatform::WithLayout("o");
    const DeviceStatus sent = SendReportOnce(platform, "/dev/hidraw0", BuildStopReport());
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.error().step, DeviceError::Step::Open);
    EXPECT_FALSE(ReadVersionOnce(platform, "/dev/hidraw0"));
    EXPECT_TRUE(platform.sent().empty());
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace tovrik
