// Other HID software against tovrik-emu: hidapi, udev monitors, the hidraw ioctls HID stacks
// ask before they take a node, and USB frame timing of writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/emu_session.h"

namespace {

using tovrik::testing::EmuOptions;
using tovrik::testing::EmuSession;

std::vector<std::string> ReadAll(EmuSession& emu) {
    std::vector<std::string> lines;
    while (auto line = emu.ReadLine()) lines.push_back(*line);
    return lines;
}

TEST(EmuStack, HidapiFindsBothTovriksAndTalksToTheFirst) {
    EmuSession emu(EmuOptions{"o,t,o,t", "1.2.3", false, {}, {}}, {TOVRIK_HIDAPI_PROBE});
    const std::string tovrik =
        "device 1774 9851 iface 0 manufacturer Tovrik Instruments product TOVRIK serial ";
    EXPECT_EQ(ReadAll(emu), (std::vector<std::string>{
                                tovrik + "TVK00002 usage ff00",
                                tovrik + "TVK00004 usage ff00",
                                "all 4",
                                "wrote 8",
                                "feature 8 00 01 02 03 00 00 00 00",
                            }));
    EXPECT_EQ(emu.Wait(), 0);
    EXPECT_TRUE(emu.WaitForLogLine("hidraw1 write 00 79 56 34 12 01 00 00"));
    EXPECT_TRUE(emu.WaitForLogLine("hidraw1 get-feature 00 01 02 03 00 00 00 00"));
}

TEST(EmuStack, NodesDescribeThemselvesAsTheirSysfsTreeDoes) {
    const std::string tovrikDescriptor =
        "06 00 FF 09 01 A1 01 15 00 26 FF 00 75 08 95 07 09 01 91 02 95 07 09 01 B1 02 C0";
    // A caller that asks for fewer bytes gets only those; the byte after them is untouched.
    EmuSession few(EmuOptions{"o,t", "1.0.0", false, {}, {}},
                   {TOVRIK_STACK_PROBE, "node", "/dev/hidraw1", "5"});
    EXPECT_EQ(ReadAll(few),
              (std::vector<std::string>{"name TOVRIK", "phys usb-0000:00:14.0-2/input0",
                                        "uniq TVK00002", "size 27", "descriptor 06 00 FF 09 01 EE",
                                        "sysfs " + tovrikDescriptor,
                                        "uevent HID_ID=0003:00001774:00009851", "unknown 22 25"}));
    // More than the kernel's limit is refused; the whole descriptor fits in what it allows.
    EmuSession tooMany(EmuOptions{"t", "1.0.0", false, {}, {}},
                       {TOVRIK_STACK_PROBE, "node", "/dev/hidraw0", "4096"});
    const auto refused = ReadAll(tooMany);
    ASSERT_EQ(refused.size(), 8u);
    EXPECT_EQ(refused[4], "descriptor error 22");
    EmuSession mouse(EmuOptions{"o,t", "1.0.0", false, {}, {}},
                     {TOVRIK_STACK_PROBE, "node", "/dev/hidraw0", "50"});
    const auto lines = ReadAll(mouse);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "name Generic USB Mouse");
    EXPECT_EQ(lines[2], "uniq ");
    EXPECT_EQ(lines[3], "size 50");
    EXPECT_TRUE(lines[4].starts_with("descriptor 05 01 09 02 A1 01")) << lines[4];
    EXPECT_TRUE(lines[4].ends_with("C0 C0 EE")) << lines[4];
    EXPECT_EQ(lines[5].substr(6), lines[4].substr(11, lines[4].size() - 14));
    EXPECT_EQ(lines[6], "uevent HID_ID=0003:0000046D:0000C077");
}

TEST(EmuStack, UdevMonitorsHearUnplugAndReplug) {
    EmuSession emu(EmuOptions{"t,t", "1.0.0", false, {}, {}}, {TOVRIK_STACK_PROBE, "monitor"});
    ASSERT_EQ(emu.ReadLine(), "ready");
    ASSERT_TRUE(emu.Control("unplug 1"));
    const std::vector<std::string> removed = {"remove hidraw hidraw1",
                                              "remove hid 0003:1774:9851.0002",
                                              "remove usb 1-2:1.0", "remove usb 1-2"};
    for (const auto& line : removed) EXPECT_EQ(emu.ReadLine(), line);
    ASSERT_TRUE(emu.Control("replug 1"));
    for (auto it = removed.rbegin(); it != removed.rend(); ++it)
        EXPECT_EQ(emu.ReadLine(), "add" + it->substr(6));
    emu.CloseInput();
    EXPECT_EQ(emu.Wait(), 0);
}

// Only a lower bound: on a loaded machine frames may come late, never early.
TEST(EmuStack, TimedWritesCompleteOneFrameApart) {
    EmuSession emu(EmuOptions{"t", "1.0.0", false, {}, {"--frame-us", "1000", "--timestamps"}},
                   {TOVRIK_STACK_PROBE, "burst", "/dev/hidraw0", "20"});
    const auto result = emu.ReadLine().value_or("");
    ASSERT_TRUE(result.starts_with("wrote 20 in ")) << result;
    EXPECT_GE(std::strtod(result.c_str() + 12, nullptr), 0.019);
    EXPECT_EQ(emu.Wait(), 0);
    std::vector<double> stamps;
    for (const auto& line : emu.LogLines()) {
        const auto space = line.find(' ');
        ASSERT_NE(space, std::string::npos);
        EXPECT_EQ(line.substr(space + 1), "hidraw0 write 00 79 56 34 12 01 00 00");
        stamps.push_back(std::strtod(line.c_str(), nullptr));
    }
    ASSERT_EQ(stamps.size(), 20u);
    for (std::size_t i = 1; i < stamps.size(); ++i)
        EXPECT_GE(stamps[i] - stamps[i - 1], 0.000999) << i;
}

// Devices written at once are served side by side, yet all on the bus's one frame grid.
TEST(EmuStack, TimedWritesOfSeveralDevicesKeepOneFrameGrid) {
    const std::string burst = std::string(TOVRIK_STACK_PROBE) + " burst /dev/hidraw";
    EmuSession emu(EmuOptions{"t,t,t", "1.0.0", false, {}, {"--frame-us", "1000", "--timestamps"}},
                   {"/bin/sh", "-c", burst + "0 10 & " + burst + "1 10 & " + burst + "2 10; wait"});
    EXPECT_EQ(emu.Wait(), 0);
    std::map<std::string, std::vector<double>> stamps;
    for (const auto& line : emu.LogLines()) {
        const auto space = line.find(' ');
        ASSERT_NE(space, std::string::npos);
        stamps[line.substr(space + 1, line.find(' ', space + 1) - space - 1)].push_back(
            std::strtod(line.c_str(), nullptr));
    }
    ASSERT_EQ(stamps.size(), 3u);
    const double origin = stamps.begin()->second.front();
    for (const auto& [device, times] : stamps) {
        ASSERT_EQ(times.size(), 10u) << device;
        for (std::size_t i = 0; i < times.size(); ++i) {
            if (i > 0) {
                EXPECT_GE(times[i] - times[i - 1], 0.000999) << device << " " << i;
            }
            const double frames = (times[i] - origin) * 1000;
            EXPECT_NEAR(frames, std::round(frames), 0.002) << device << " " << i;
        }
    }
}

}  // namespace
