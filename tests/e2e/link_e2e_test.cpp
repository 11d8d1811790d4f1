// The device link over the real hidraw backend, in another process, against devices that
// tovrik-emu emulates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/emu_session.h"

namespace {

using tovrik::testing::EmuOptions;
using tovrik::testing::EmuSession;

class Probe {
  public:
    explicit Probe(const std::string& devices, const std::string& version = "1.0.0")
        : session_(EmuOptions{devices, version, false, {}}, {TOVRIK_LINK_PROBE}) {}
    ~Probe() {
        session_.SendLine("quit");
        session_.CloseInput();
    }

    std::string operator()(const std::string& command) {
        session_.SendLine(command);
        return session_.ReadLine().value_or("<no answer to " + command + ">");
    }
    EmuSession& emu() { return session_; }

  private:
    EmuSession session_;
};

TEST(LinkE2e, DiscoveryWalksTheEnumerationOrderAndWraps) {
    Probe probe("o,t,o,o,t");
    EXPECT_EQ(probe("list"),
              "paths /dev/hidraw0 /dev/hidraw1 /dev/hidraw2 /dev/hidraw3 /dev/hidraw4");
    struct Step {
        std::string command, answer;
    };
    const std::vector<Step> steps = {
        {"find 0", "found /dev/hidraw1 2"},
        {"find 2", "found /dev/hidraw4 5"},
        {"find 5", "none 0"},
        {"find 0", "found /dev/hidraw1 2"},
        {"find 17", "none 0"},
        {"find 3", "found /dev/hidraw4 5"},
    };
    for (const auto& step : steps) EXPECT_EQ(probe(step.command), step.answer) << step.command;

    EXPECT_EQ(probe("open-shared /dev/hidraw0"), "handle 1");
    EXPECT_EQ(probe("ids 1"), "ids 046d c077");
    EXPECT_EQ(probe("open-shared /dev/hidraw4"), "handle 2");
    EXPECT_EQ(probe("ids 2"), "ids 1774 9851");
    EXPECT_EQ(probe("open-shared /dev/hidraw5"), "failed");
}

TEST(LinkE2e, ExclusiveOpenShutsOutEveryOtherOpenUntilClosed) {
    Probe probe("t,t");
    EXPECT_EQ(probe("open /dev/hidraw0"), "handle 1");
    EXPECT_EQ(probe("open /dev/hidraw0"), "failed");
    EXPECT_EQ(probe("open-shared /dev/hidraw0"), "failed");
    EXPECT_EQ(probe("version-once /dev/hidraw0"), "failed");
    EXPECT_EQ(probe("send-once /dev/hidraw0 00 00 00 00 00 05 00 00"), "not-opened");
    // Discovery cannot probe the held device and moves on to the next one.
    EXPECT_EQ(probe("find 0"), "found /dev/hidraw1 2");
    EXPECT_EQ(probe("close 1"), "closed");
    EXPECT_EQ(probe("find 0"), "found /dev/hidraw0 1");
    EXPECT_EQ(probe("open /dev/hidraw0"), "handle 2");
    EXPECT_TRUE(probe.emu().WriteLines().empty());
}

TEST(LinkE2e, SharedOpensCoexistButKeepAnExclusiveOpenOut) {
    Probe probe("t");
    EXPECT_EQ(probe("open-shared /dev/hidraw0"), "handle 1");
    EXPECT_EQ(probe("open-shared /dev/hidraw0"), "handle 2");
    EXPECT_EQ(probe("send-once /dev/hidraw0 00 00 00 00 00 05 00 00"), "sent");
    EXPECT_EQ(probe("open /dev/hidraw0"), "failed");
    EXPECT_EQ(probe("close 1"), "closed");
    EXPECT_EQ(probe("close 2"), "closed");
    EXPECT_EQ(probe("open /dev/hidraw0"), "handle 3");
}

TEST(LinkE2e, FeatureReadGivesTheEmulatedVersion) {
    for (const auto& [version, text, bytes] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"6.1.5", "06/01/05", "00 06 01 05 00 00 00 00"},
             {"255.255.255", "255/255/255", "00 FF FF FF 00 00 00 00"},
             {"0.0.0", "00/00/00", "00 00 00 00 00 00 00 00"}}) {
        Probe probe("o,t", version);
        EXPECT_EQ(probe("open /dev/hidraw1"), "handle 1");
        EXPECT_EQ(probe("version 1"), "version " + text);
        EXPECT_EQ(probe("version-once /dev/hidraw1"), "failed");  // held by handle 1
        EXPECT_EQ(probe("close 1"), "closed");
        EXPECT_EQ(probe("version-once /dev/hidraw1"), "version " + text);
        EXPECT_EQ(probe.emu().LogLines(),
                  (std::vector<std::string>{"hidraw1 get-feature " + bytes,
                                            "hidraw1 get-feature " + bytes}));
    }
}

TEST(LinkE2e, WritesArriveByteForByte) {
    Probe probe("o,t");
    EXPECT_EQ(probe("open /dev/hidraw1"), "handle 1");
    EXPECT_EQ(probe("send 1 305419897 1"), "ok");
    EXPECT_EQ(probe("send 1 238609294 0"), "ok");  // output off: the stop report, word dropped
    EXPECT_EQ(probe("send 1 1908874354 1"), "ok");
    EXPECT_EQ(probe("close 1"), "closed");
    EXPECT_EQ(probe("send-once /dev/hidraw1 00 00 00 00 00 05 00 00"), "sent");
    EXPECT_EQ(probe.emu().WriteLines(), (std::vector<std::string>{
                                            "hidraw1 write 00 79 56 34 12 01 00 00",
                                            "hidraw1 write 00 00 00 00 00 01 00 00",
                                            "hidraw1 write 00 72 1C C7 71 01 00 00",
                                            "hidraw1 write 00 00 00 00 00 05 00 00",
                                        }));
}

TEST(LinkE2e, RefusedWriteCostsTheHandleAndReportsEio) {
    Probe probe("t");
    ASSERT_TRUE(probe.emu().Control("refuse-write 0 on"));
    EXPECT_EQ(probe("open /dev/hidraw0"), "handle 1");
    EXPECT_EQ(probe("send 1 305419897 1"), "failed closed");
    EXPECT_EQ(probe("send-once /dev/hidraw0 00 00 00 00 00 05 00 00"), "refused 5");  // EIO
    ASSERT_TRUE(probe.emu().Control("refuse-write 0 off"));
    EXPECT_EQ(probe("send-once /dev/hidraw0 00 00 00 00 00 05 00 00"), "sent");
    EXPECT_EQ(probe.emu().LogLines(), (std::vector<std::string>{
                                          "control refuse-write 0 on ok",
                                          "hidraw0 refused write",
                                          "hidraw0 refused write",
                                          "control refuse-write 0 off ok",
                                          "hidraw0 write 00 00 00 00 00 05 00 00",
                                      }));
}

TEST(LinkE2e, RefusedFeatureKeepsTheHandle) {
    Probe probe("t");
    EXPECT_EQ(probe("open /dev/hidraw0"), "handle 1");
    ASSERT_TRUE(probe.emu().Control("refuse-feature 0 on"));
    EXPECT_EQ(probe("version 1"), "failed open");
    EXPECT_EQ(probe("send 1 305419897 1"), "ok");
    ASSERT_TRUE(probe.emu().Control("refuse-feature 0 off"));
    EXPECT_EQ(probe("version 1"), "version 01/00/00");
    EXPECT_TRUE(probe.emu().WaitForLogLine("hidraw0 refused get-feature"));
}

TEST(LinkE2e, UnplugKillsOpenHandlesAndHidesTheDeviceUntilReplug) {
    Probe probe("o,t");
    EXPECT_EQ(probe("open /dev/hidraw1"), "handle 1");
    EXPECT_EQ(probe("open-shared /dev/hidraw0"), "handle 2");
    ASSERT_TRUE(probe.emu().Control("unplug 1"));
    EXPECT_EQ(probe("write 1 00 79 56 34 12 01 00 00"), "error 19");  // ENODEV
    EXPECT_EQ(probe("version 1"), "failed open");
    EXPECT_EQ(probe("send 1 305419897 1"), "failed closed");
    EXPECT_EQ(probe("list"), "paths /dev/hidraw0");
    EXPECT_EQ(probe("find 0"), "none 0");
    EXPECT_EQ(probe("open-shared /dev/hidraw1"), "failed");
    EXPECT_EQ(probe("ids 2"), "ids 046d c077");  // the other device is untouched

    ASSERT_TRUE(probe.emu().Control("replug 1"));
    EXPECT_EQ(probe("list"), "paths /dev/hidraw0 /dev/hidraw1");
    EXPECT_EQ(probe("find 0"), "found /dev/hidraw1 2");
    EXPECT_EQ(probe("open /dev/hidraw1"), "handle 3");
    EXPECT_EQ(probe("send 3 305419897 1"), "ok");
    EXPECT_EQ(probe.emu().WriteLines(),
              (std::vector<std::string>{"hidraw1 write 00 79 56 34 12 01 00 00"}));
}

TEST(LinkE2e, StaleDescriptorStaysDeadAfterReplug) {
    Probe probe("t");
    EXPECT_EQ(probe("open /dev/hidraw0"), "handle 1");
    ASSERT_TRUE(probe.emu().Control("unplug 0"));
    ASSERT_TRUE(probe.emu().Control("replug 0"));
    EXPECT_EQ(probe("write 1 00 00 00 00 00 01 00 00"), "error 19");
    // Its lock belonged to the old device: the new one opens exclusively.
    EXPECT_EQ(probe("open /dev/hidraw0"), "handle 2");
    EXPECT_EQ(probe("write 2 00 00 00 00 00 01 00 00"), "ok");
    ASSERT_TRUE(probe.emu().Control("unplug 0"));
    ASSERT_TRUE(probe.emu().Control("replug 0"));
    EXPECT_EQ(probe("write 2 00 00 00 00 00 01 00 00"), "error 19");
    EXPECT_EQ(probe("find 0"), "found /dev/hidraw0 1");
}

TEST(LinkE2e, HeldByAnotherProgramTheDeviceCannotBeOpened) {
    Probe probe("o,t");
    ASSERT_TRUE(probe.emu().Control("hold 1"));
    EXPECT_EQ(probe("open-shared /dev/hidraw1"), "failed");
    EXPECT_EQ(probe("open /dev/hidraw1"), "failed");
    EXPECT_EQ(probe("find 0"), "none 0");
    ASSERT_TRUE(probe.emu().Control("release 1"));
    EXPECT_EQ(probe("open-shared /dev/hidraw1"), "handle 1");
    EXPECT_EQ(probe("find 0"), "found /dev/hidraw1 2");
    // While we hold it, the harness cannot take it either.
    EXPECT_FALSE(probe.emu().Control("hold 1"));
}

}  // namespace
