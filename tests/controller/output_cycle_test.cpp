#include <gtest/gtest.h>

#include "tests/controller/controller_fixture.h"

namespace tovrik::testing {
namespace {

using OutputCycle = ControllerTest;

class OutputCycleNoDevice : public ControllerTest {
  protected:
    OutputCycleNoDevice() : ControllerTest("o,o") {}
};

TEST_F(OutputCycle, DefaultReadoutAndNothingSentWhileOff) {
    controller.ConnectAtStartup();
    EXPECT_EQ(controller.devicePath(), "/dev/hidraw1");
    EXPECT_TRUE(controller.deviceOpen());
    EXPECT_EQ(Status(), text::kStatusDetected);
    controller.Refresh();
    EXPECT_EQ(Readout(), "9,999,999.99Hz");
    EXPECT_TRUE(platform.sent().empty());
}

TEST_F(OutputCycle, ToggleSendsWordThenStopReport) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    EXPECT_EQ(state().outputOn, 1);
    EXPECT_TRUE(window.Checked(control::kOutputButton));
    ASSERT_EQ(platform.sent().size(), 1u);
    EXPECT_EQ(platform.sent()[0].bytes, BuildFrequencyReport(238609294));
    EXPECT_EQ(Status(), text::kStatusDetected);

    controller.ToggleOutput();
    EXPECT_EQ(state().outputOn, 0);
    EXPECT_FALSE(window.Checked(control::kOutputButton));
    ASSERT_EQ(platform.sent().size(), 2u);
    EXPECT_EQ(platform.sent()[1].bytes, BuildStopReport());
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(OutputCycleNoDevice, ToggleWithoutDeviceStillSwitchesAndComplainsEachTime) {
    controller.ConnectAtStartup();
    EXPECT_EQ(controller.devicePath(), "");
    EXPECT_EQ(Status(), text::kStatusNotDetected);
    EXPECT_TRUE(window.messages.empty()) << "start-up alone shows nothing";

    controller.ToggleOutput();
    EXPECT_EQ(state().outputOn, 1);
    EXPECT_TRUE(window.Checked(control::kOutputButton));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, text::kDeviceNotFound);
    EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(Status(), text::kStatusNotDetected);

    controller.ToggleOutput();
    EXPECT_EQ(state().outputOn, 0);
    EXPECT_EQ(window.messages.size(), 2u);
}

TEST_F(OutputCycle, UnplugWhileOnThenReplug) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    platform.Unplug(1);

    controller.ApplySpinDelta(1);
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(Status(), text::kStatusNotDetected);
    EXPECT_FALSE(controller.deviceOpen());
    EXPECT_EQ(state().outputOn, 1);
    EXPECT_TRUE(window.Checked(control::kOutputButton));
    EXPECT_EQ(controller.devicePath(), "/dev/hidraw1") << "a failed search keeps the old path";

    platform.Replug(1);
    controller.ApplySpinDelta(1);
    EXPECT_EQ(window.messages.size(), 1u) << "the replugged device is found silently";
    EXPECT_EQ(Status(), text::kStatusDetected);
    EXPECT_TRUE(controller.deviceOpen());
    EXPECT_EQ(SentWords().back(), ComputeTuningWord(10'200'000.0));
    EXPECT_EQ(platform.doubleCloseCount(), 0);
}

TEST_F(OutputCycle, RetryFindsDeviceAtAnotherPath) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    platform.Unplug(1);
    FakeInterface moved;
    moved.path = "/dev/hidraw7";
    platform.Add(moved);
    controller.Refresh();
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(controller.devicePath(), "/dev/hidraw7");
    EXPECT_EQ(platform.sent().back().path, "/dev/hidraw7");
}

TEST_F(OutputCycle, DeviceThatRefusesEveryWriteIsReportedOnce) {
    controller.ConnectAtStartup();
    platform.At(1).writeError = EIO;
    controller.ToggleOutput();
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_FALSE(controller.deviceOpen());
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_EQ(platform.doubleCloseCount(), 0);
}

TEST_F(OutputCycle, ExitWithOutputOnSendsStopAndClosesDevice) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    platform.ClearSent();
    controller.ExitProgram();
    ASSERT_EQ(platform.sent().size(), 1u);
    EXPECT_EQ(platform.sent()[0].bytes, BuildStopReport());
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_EQ(window.destroyed, 1);
}

TEST_F(OutputCycle, ExitWithOutputOffSendsNothing) {
    controller.ConnectAtStartup();
    controller.ExitProgram();
    EXPECT_TRUE(platform.sent().empty());
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_EQ(window.destroyed, 1);
}

TEST_F(OutputCycle, ExitDuringEntryLeavesOutputOn) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    controller.ToggleEntry();
    platform.ClearSent();
    controller.ExitProgram();
    EXPECT_TRUE(platform.sent().empty());
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_EQ(window.destroyed, 1);
}

TEST_F(OutputCycleNoDevice, ExitWithOutputOnAndNoDeviceComplainsThenCloses) {
    controller.ConnectAtStartup();
    state().outputOn = 1;
    controller.ExitProgram();
    // The user reads the message while the window is still there.
    EXPECT_EQ(window.events, (std::vector<std::string>{"message", "destroy"}));
}

TEST_F(OutputCycle, OutputToggledDuringEntrySendsOnlyWhenItEnds) {
    controller.ConnectAtStartup();
    controller.ToggleEntry();
    const int statusWrites = window.Writes(control::kStatusLine);
    controller.ToggleOutput();
    EXPECT_TRUE(window.Checked(control::kOutputButton));
    EXPECT_TRUE(platform.sent().empty());
    EXPECT_EQ(window.Writes(control::kStatusLine), statusWrites);
    Type("5");
    controller.ToggleEntry();
    EXPECT_EQ(SentWords(), std::vector<TuningWord>{ComputeTuningWord(5.0)});

    // Switched off during an entry: nothing at all goes out.
    controller.ToggleEntry();
    controller.ToggleOutput();
    controller.ToggleEntry();
    EXPECT_EQ(platform.sent().size(), 1u);
}

TEST_F(OutputCycle, StoredOutOfRangeFrequenciesWrapThroughTheWord) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    struct Case {
        double hz;
        TuningWord word;
        const char* readout;
    };
    const Case cases[] = {
        {-1.0, 4294967273u, "179,999,999.03Hz"},
        {200'000'000.0, 477218588u, "19,999,999.98Hz"},
        {180'000'000.0, 0u, "0.00Hz"},
    };
    for (const Case& c : cases) {
        state().frequencyHz = c.hz;
        controller.Refresh();
        EXPECT_EQ(SentWords().back(), c.word) << c.hz;
        EXPECT_EQ(Readout(), FormatReadout(TuningWordToHz(c.word), 0)) << c.hz;
        EXPECT_EQ(Readout(), c.readout) << c.hz;
    }
}

TEST_F(OutputCycle, FirmwareVersionBox) {
    controller.ConnectAtStartup();
    platform.At(1).feature = {0, 6, 1, 5, 0, 0, 0, 0};
    const std::string status = Status();
    controller.ShowFirmwareVersion();
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "TOVRIKﾌｧｰﾑｳｪｱのﾊﾞｰｼﾞｮﾝは06/01/05です。");
    EXPECT_EQ(window.messages[0].icon, MessageIcon::Information);

    platform.At(1).refuseFeature = true;
    controller.ShowFirmwareVersion();
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1].text, text::kVersionUnavailable);
    EXPECT_EQ(window.messages[1].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(controller.deviceOpen()) << "a failed read keeps the device";
    EXPECT_EQ(Status(), status);
}

}  // namespace
// The window keeps its texts; the reason a found TOVRIK was refused goes to standard error,
// at start-up and at each rediscovery.
TEST_F(OutputCycle, NamesTheTovrikItCouldNotOpenAndWhy) {
    platform.At(1).openError = EACCES;
    controller.ConnectAtStartup();
    EXPECT_EQ(Status(), text::kStatusNotDetected);
    EXPECT_EQ(diagnostics, std::vector<std::string>{"/dev/hidraw1: permission denied"});

    platform.At(1).openError = 0;
    platform.At(1).heldByOtherProgram = true;
    diagnostics.clear();
    controller.ToggleOutput();
    EXPECT_EQ(diagnostics, std::vector<std::string>{"/dev/hidraw1: held by another program"});
    EXPECT_EQ(window.messages.size(), 1u);

    platform.At(1).heldByOtherProgram = false;
    diagnostics.clear();
    controller.ToggleOutput();
    EXPECT_TRUE(diagnostics.empty());
    EXPECT_EQ(Status(), text::kStatusDetected);
}

}  // namespace tovrik::testing
