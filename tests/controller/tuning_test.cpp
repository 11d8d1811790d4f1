#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "tests/controller/controller_fixture.h"

namespace tovrik::testing {
namespace {

using SpinWheel = ControllerTest;

TEST_F(SpinWheel, SpinCountsAndBounds) {
    struct Case {
        double from;
        double step;
        std::int32_t count;
        int reverse;
        double expected;
    };
    const Case cases[] = {
        {10'000'000, 100'000, 1, 0, 10'100'000},
        {10'000'000, 100'000, 1, 1, 9'900'000},
        {10'000'000, 100'000, -1, 0, 9'900'000},
        {10'000'000, 100'000, 3, 0, 10'300'000},  // several steps at once
        {79'800'000, 100'000, 3, 0, 79'800'000},  // refused as a whole, not clamped
        {79'950'000, 100'000, 1, 0, 79'950'000},  // would pass the limit
        {79'900'000, 100'000, 1, 0, 80'000'000},  // reaches it exactly
        {50, 100, -1, 0, 50},                     // would pass 0
        {100, 100, -1, 0, 0},                     // reaches 0 exactly
        {12.34, 1, 0, 0, 12.34},                  // nothing to do
        {1000, 1, std::numeric_limits<std::int32_t>::min(), 1, 1000},  // reversed: too far up
        {1000, 1, std::numeric_limits<std::int32_t>::min(), 0, 1000},  // too far down
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.from << " " << c.count << " rev " << c.reverse);
        state().frequencyHz = c.from;
        state().stepHz = c.step;
        state().reverseSpin = c.reverse;
        const int writes = window.Writes(control::kReadout);
        EXPECT_EQ(controller.ApplySpinDelta(c.count), 0);
        EXPECT_EQ(state().frequencyHz, c.expected);
        EXPECT_EQ(window.Writes(control::kReadout), writes + 1) << "refresh runs every time";
    }
    EXPECT_EQ(window.beeps, 0) << "bounds are silent";
}

TEST_F(SpinWheel, WheelNotchesAndBounds) {
    struct Case {
        double from;
        double step;
        std::int16_t delta;
        int reverse;
        double expected;
    };
    const Case cases[] = {
        {10'000'000, 100'000, 120, 0, 9'900'000},    // forward lowers
        {10'000'000, 100'000, -120, 0, 10'100'000},  // backward raises
        {10'000'000, 100'000, 240, 0, 9'800'000},
        {10'000'000, 100'000, 359, 0, 9'800'000},  // remainder dropped
        {10'000'000, 100'000, 60, 0, 10'000'000},
        {10'000'000, 100'000, -60, 0, 10'000'000},
        {10'000'000, 100'000, 120, 1, 10'100'000},
        {10'000'000, 100'000, -120, 1, 9'900'000},
        {150, 100, 240, 0, 150},  // would go below 0
        {200, 100, 240, 0, 0},
        {79'950'000, 100'000, -120, 0, 79'950'000},  // would pass the limit
        {79'900'000, 100'000, -120, 0, 80'000'000},
        // -32768 reversed stays -32768 in 16 bits: 273 notches up.
        {1'000, 1, -32768, 1, 1'273},
        {1'000, 1, -32768, 0, 1'273},
        {1'000, 1, 32767, 1, 1'273},
        {1'000, 1, 32767, 0, 727},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.from << " " << c.delta << " rev " << c.reverse);
        state().frequencyHz = c.from;
        state().stepHz = c.step;
        state().reverseWheel = c.reverse;
        const int writes = window.Writes(control::kReadout);
        controller.ApplyWheelDelta(c.delta);
        EXPECT_EQ(state().frequencyHz, c.expected);
        EXPECT_EQ(window.Writes(control::kReadout), writes + 1);
    }
    EXPECT_EQ(window.beeps, 0);
}

TEST_F(SpinWheel, LockStopsTheWheelButNotTheSpin) {
    controller.ConnectAtStartup();
    state().lockWhileOutput = 1;
    controller.ApplyWheelDelta(-120);  // lock without output: works
    EXPECT_EQ(state().frequencyHz, 10'100'000.0);

    controller.ToggleOutput();
    platform.ClearSent();
    const int writes = window.Writes(control::kReadout);
    controller.ApplyWheelDelta(-120);
    EXPECT_EQ(window.beeps, 1);
    EXPECT_EQ(state().frequencyHz, 10'100'000.0);
    EXPECT_EQ(window.Writes(control::kReadout), writes) << "no refresh under the lock";
    EXPECT_TRUE(platform.sent().empty());

    controller.ApplySpinDelta(1);
    EXPECT_EQ(state().frequencyHz, 10'200'000.0);
    EXPECT_EQ(SentWords(), std::vector<TuningWord>{ComputeTuningWord(10'200'000.0)});
}

TEST_F(SpinWheel, RefusedChangeStillResendsWhileOn) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    state().frequencyHz = 80'000'000.0;
    platform.ClearSent();
    controller.ApplySpinDelta(1);
    EXPECT_EQ(SentWords(), std::vector<TuningWord>{1908874354u});
}

TEST_F(SpinWheel, FineStepMovesTheWordByOne) {
    controller.SelectStep(FineStepHz);
    TuningWord expected = 238609294;
    for (int i = 0; i < 5; ++i) {
        controller.ApplySpinDelta(1);
        EXPECT_EQ(ComputeTuningWord(state().frequencyHz), ++expected);
    }
    controller.ApplyWheelDelta(120);
    EXPECT_EQ(ComputeTuningWord(state().frequencyHz), --expected);
    controller.ApplyWheelDelta(-120);
    EXPECT_EQ(ComputeTuningWord(state().frequencyHz), ++expected);
    state().displayMode = kDisplayTuningWord;
    controller.Refresh();
    EXPECT_EQ(Readout(), "0x0E38E393");
}

TEST_F(SpinWheel, TuningDuringEntryChangesFrequencyButShowsTheText) {
    controller.ConnectAtStartup();
    controller.ToggleOutput();
    controller.ToggleEntry();
    platform.ClearSent();
    controller.ApplySpinDelta(1);
    controller.ApplyWheelDelta(-120);
    EXPECT_EQ(state().frequencyHz, 10'200'000.0);
    EXPECT_EQ(Readout(), "_Hz");
    EXPECT_TRUE(platform.sent().empty());
    controller.ToggleEntry();  // empty text keeps the tuned frequency
    EXPECT_EQ(SentWords(), std::vector<TuningWord>{ComputeTuningWord(10'200'000.0)});
}

}  // namespace
}  // namespace tovrik::testing

namespace tovrik::testing {
// Both window shells map a step button to its step through this one function.
TEST(StepTable, EachStepButtonSelectsItsStep) {
    EXPECT_EQ(StepOfButton(control::kFirstStepButton), 10'000'000.0);
    EXPECT_EQ(StepOfButton(control::kFirstStepButton + 8), 0.1);
    EXPECT_EQ(StepOfButton(control::kFineStepButton), FineStepHz);
    EXPECT_EQ(StepOfButton(control::kFirstStepButton - 1), std::nullopt);
    EXPECT_EQ(StepOfButton(control::kFineStepButton + 1), std::nullopt);
}
}  // namespace tovrik::testing
