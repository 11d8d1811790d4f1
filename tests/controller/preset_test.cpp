#include <gtest/gtest.h>

#include "tests/controller/controller_fixture.h"

namespace tovrik::testing {
namespace {

using Presets = ControllerTest;

TEST_F(Presets, FirstStartRecallsZero) {
    controller.PressPreset(0);
    EXPECT_EQ(state().frequencyHz, 0.0);
    EXPECT_EQ(Readout(), "0.00Hz");
}

TEST_F(Presets, StoreThenRecallKeepsFractions) {
    state().frequencyHz = 1234.5678901;
    controller.ToggleWriteMode();
    EXPECT_TRUE(window.Checked(control::kWriteButton));
    const int writes = window.Writes(control::kReadout);
    controller.PressPreset(1);
    EXPECT_EQ(state().presets[1], 1234.5678901);
    EXPECT_EQ(state().writeMode, 0);
    EXPECT_FALSE(window.Checked(control::kWriteButton));
    EXPECT_EQ(window.Writes(control::kReadout), writes) << "a store does not refresh";

    state().frequencyHz = 5.0;
    controller.PressPreset(1);
    EXPECT_EQ(state().frequencyHz, 1234.5678901);
    EXPECT_EQ(Readout(), "1,234.57Hz");
}

TEST_F(Presets, WriteButtonTogglesAndDisarms) {
    controller.ToggleWriteMode();
    controller.ToggleWriteMode();
    EXPECT_EQ(state().writeMode, 0);
    EXPECT_FALSE(window.Checked(control::kWriteButton));
    state().presets[2] = 42.0;
    controller.PressPreset(2);
    EXPECT_EQ(state().frequencyHz, 42.0);
}

TEST_F(Presets, RefusedUnderLockOrEntryWithWriteModeKeptArmed) {
    controller.ConnectAtStartup();
    controller.ToggleWriteMode();

    controller.ToggleEntry();
    controller.PressPreset(0);
    EXPECT_EQ(window.beeps, 1);
    EXPECT_EQ(state().presets[0], 0.0);
    EXPECT_EQ(state().writeMode, 1);
    EXPECT_TRUE(window.Checked(control::kWriteButton));
    controller.ToggleEntry();

    state().lockWhileOutput = 1;
    controller.ToggleOutput();
    for (int slot = 0; slot < kPresetCount; ++slot) controller.PressPreset(slot);
    controller.ToggleWriteMode();  // recall mode is refused as well
    controller.PressPreset(0);
    EXPECT_EQ(window.beeps, 5);
    EXPECT_EQ(state().presets, (std::array<double, kPresetCount>{0.0, 0.0, 0.0}));
    EXPECT_EQ(state().frequencyHz, 10'000'000.0);

    controller.ToggleWriteMode();
    controller.ToggleOutput();  // lock set, output off: presets work
    controller.PressPreset(0);
    EXPECT_EQ(state().presets[0], 10'000'000.0);
    EXPECT_EQ(window.beeps, 5);
}

TEST_F(Presets, RecallWithOutputOnSendsAndTakesStoredValuesAsTheyAre) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    platform.ClearSent();
    state().presets = {12'800'000.0, 90'000'000.0, -1.0};
    for (int slot = 0; slot < kPresetCount; ++slot) controller.PressPreset(slot);
    EXPECT_EQ(SentWords(),
              (std::vector<TuningWord>{0x12345679u, ComputeTuningWord(90'000'000.0), 4294967273u}));
    EXPECT_EQ(state().frequencyHz, -1.0);
}

}  // namespace
}  // namespace tovrik::testing
