#include "device/enumeration.h"

#include <gtest/gtest.h>

#include "device/transport.h"
#include "tests/support/fake_platform.h"

namespace tovrik {
namespace {

using testing::FakePlatform;

// What one pass tells of each kind of interface, and how much of a TOVRIK each probe reads.
TEST(EnumerateDevices, TellsEachInterfaceApartAndReadsWhatTheProbeAsks) {
    auto platform = FakePlatform::WithLayout("o,t,t,t,t");
    platform.At(0).openError = EACCES;  // another device is never opened, so never refused
    platform.At(1).serial = "TVK00001";
    platform.At(1).feature = {0, 6, 1, 5, 0, 0, 0, 0};
    platform.At(2).heldByOtherProgram = true;
    platform.At(3).identifiable = false;
    platform.At(4).path = "/dev/" + std::string(kMaxDevicePathLength, 'x');
    struct Row {
        bool tovrik;
        SystemError refusal;  // 0: none
        bool refusedTovrik;
    };
    const Row rows[] = {{false, 0, false},
                        {true, 0, false},
                        {false, EWOULDBLOCK, true},
                        {false, 0, false},
                        {false, 0, false}};
    for (const Probe probe : {Probe::Ids, Probe::Serial, Probe::SerialAndVersion}) {
        const auto found = EnumerateDevices(platform, {probe, 0, false, {}});
        ASSERT_EQ(found.size(), std::size(rows));
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].position, i);
            EXPECT_EQ(found[i].tovrik, rows[i].tovrik) << i;
            EXPECT_EQ(found[i].refusal ? found[i].refusal->code : 0, rows[i].refusal) << i;
            EXPECT_EQ(found[i].refusedTovrik(), rows[i].refusedTovrik) << i;
        }
        const DeviceIdentity& identity = found[1].identity;
        EXPECT_EQ(identity.serial.has_value(), probe != Probe::Ids);
        EXPECT_EQ(identity.version == "06/01/05", probe == Probe::SerialAndVersion);
        EXPECT_EQ(platform.OpenHandleCount(), 0u);
    }
    EXPECT_TRUE(platform.sent().empty());
}

TEST(EnumerateDevices, LeavesKnownPathsAndEarlierPositionsUnopenedAndCanStopAtTheFirst) {
    auto platform = FakePlatform::WithLayout("t,o,t,t");
    platform.At(0).heldByOtherProgram = true;  // a refusal shows whether it was opened
    platform.At(2).heldByOtherProgram = true;
    const auto known = EnumerateDevices(
        platform,
        {Probe::Ids, 0, false, [](const std::string& path) { return path == "/dev/hidraw2"; }});
    ASSERT_EQ(known.size(), 4u);
    EXPECT_TRUE(known[0].refusal);
    EXPECT_FALSE(known[2].probed);
    EXPECT_FALSE(known[2].refusal);
    EXPECT_TRUE(known[3].tovrik);

    const auto later = EnumerateDevices(platform, {Probe::Ids, 1, false, {}});
    ASSERT_EQ(later.size(), 3u);
    EXPECT_EQ(later.front().position, 1u);

    platform.At(2).heldByOtherProgram = false;
    const auto first = EnumerateDevices(platform, {Probe::Ids, 0, true, {}});
    ASSERT_EQ(first.size(), 3u) << "nothing after the first TOVRIK is opened";
    EXPECT_TRUE(first.back().tovrik);
}

}  // namespace
}  // namespace tovrik
