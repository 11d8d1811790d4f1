#include <gtest/gtest.h>

#include <string>

#include "tests/controller/controller_fixture.h"

namespace tovrik::testing {
namespace {

using DirectEntry = ControllerTest;

TEST_F(DirectEntry, TypeAndEnter) {
    controller.ToggleEntry();
    EXPECT_EQ(Readout(), "_Hz");
    Type("12.5");
    EXPECT_EQ(Readout(), "12.5_Hz");
    EXPECT_EQ(controller.PreviewKey(vk::kReturn), KeyResult::Consumed);
    EXPECT_EQ(state().entryActive, 0);
    EXPECT_EQ(state().frequencyHz, 12.5);
    EXPECT_EQ(Readout(), "12.48Hz");
    EXPECT_EQ(window.beeps, 0);
}

TEST_F(DirectEntry, TextValues) {
    struct Case {
        const char* keys;
        double value;
    };
    const Case cases[] = {
        {".", 0.0},
        {"12.", 12.0},
        {".5", 0.5},
        {"007", 7.0},
        {"80000000.", 80'000'000.0},
        {"1234.56789", 1234.56789},
    };
    for (const Case& c : cases) {
        controller.ToggleEntry();
        Type(c.keys);
        EXPECT_EQ(state().entryText, c.keys);
        controller.PreviewKey(vk::kReturn);
        EXPECT_EQ(state().frequencyHz, c.value) << c.keys;
    }
}

TEST_F(DirectEntry, EmptyEntryKeepsFrequencyAndRefreshesEachToggle) {
    const int writes = window.Writes(control::kReadout);
    controller.ToggleEntry();
    controller.ToggleEntry();
    EXPECT_EQ(state().frequencyHz, 10'000'000.0);
    EXPECT_EQ(window.Writes(control::kReadout), writes + 2);
    EXPECT_EQ(Readout(), "9,999,999.99Hz");
}

TEST_F(DirectEntry, LimitIsTestedOnTheWholeTextPerCharacter) {
    controller.ToggleEntry();
    Type("80000000");
    EXPECT_EQ(window.beeps, 0);
    Type("0");
    EXPECT_EQ(window.beeps, 1);
    EXPECT_EQ(state().entryText, "80000000");
    Type(".");
    Type("0");
    EXPECT_EQ(state().entryText, "80000000.0");
    Type("1");
    EXPECT_EQ(window.beeps, 2);
    EXPECT_EQ(state().entryText, "80000000.0");
    EXPECT_EQ(Readout(), "80000000.0_Hz");

    // Digits too small for a double still count: the text, not its rounded value, is tested.
    Type("00000000000000");
    Type("1");
    EXPECT_EQ(window.beeps, 3);
    EXPECT_EQ(state().entryText, "80000000.0" + std::string(14, '0'));

    // Just below the limit the rounded value equals it, and the text is still accepted.
    controller.ToggleEntry();
    controller.ToggleEntry();
    Type("79999999.9999999999");
    EXPECT_EQ(window.beeps, 3);
    EXPECT_EQ(state().entryText, "79999999.9999999999");
}

TEST_F(DirectEntry, UnitKeys) {
    struct Case {
        const char* keys;
        int unitKey;
        const char* text;
        int beeps;
    };
    const Case cases[] = {
        {"80", vk::kM, "80000000", 0},
        {"80.5", vk::kM, "80.5", 1},  // refused, text unchanged
        {"", vk::kK, "0", 0},
        {"1.5", vk::kK, "1500", 0},
        {"1.5", vk::kNumpadAdd, "1500", 0},
        {"2", vk::kNumpadSubtract, "2000000", 0},
        {".0000005", vk::kK, "0", 0},           // rounded like %.0f, no point left
        {"79999.9996", vk::kK, "80000000", 0},  // rounds up to the limit itself
        {"80000.0001", vk::kK, "80000.0001", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        window.beeps = 0;
        controller.ToggleEntry();
        Type(c.keys);
        EXPECT_EQ(controller.PreviewKey(c.unitKey), KeyResult::Consumed);
        EXPECT_EQ(state().entryText, c.text);
        EXPECT_EQ(window.beeps, c.beeps);
        EXPECT_EQ(state().entryActive, 1);
        controller.ToggleEntry();
    }
}

TEST_F(DirectEntry, PointFlagSurvivesUnitAndBackspaceUntilNextEntry) {
    controller.ToggleEntry();
    Type("1.5K");
    EXPECT_EQ(state().entryText, "1500");
    EXPECT_EQ(controller.PreviewKey(vk::kPeriod), KeyResult::Consumed);
    EXPECT_EQ(window.beeps, 1);
    controller.PreviewKey(vk::kBack);
    EXPECT_EQ(state().entryText, "150");
    controller.PreviewKey(vk::kDelete);
    EXPECT_EQ(window.beeps, 2);
    controller.ToggleEntry();
    controller.ToggleEntry();
    Type(".");
    EXPECT_EQ(state().entryText, ".");
    EXPECT_EQ(window.beeps, 2);
}

TEST_F(DirectEntry, BackspaceOverPointClearsTheFlag) {
    controller.ToggleEntry();
    Type("1.");
    controller.PreviewKey(vk::kBack);
    EXPECT_EQ(state().entryHasPoint, 0);
    EXPECT_EQ(Readout(), "1_Hz");
    Type(".5");
    EXPECT_EQ(state().entryText, "1.5");
    EXPECT_EQ(window.beeps, 0);
}

TEST_F(DirectEntry, BackspaceRefusals) {
    EXPECT_EQ(controller.PreviewKey(vk::kBack), KeyResult::Consumed);  // no entry
    controller.ToggleEntry();
    EXPECT_EQ(controller.PreviewKey(vk::kBack), KeyResult::Consumed);  // empty text
    EXPECT_EQ(window.beeps, 2);
}

TEST_F(DirectEntry, PointKeyOutsideAnEntry) {
    EXPECT_EQ(controller.PreviewKey(vk::kPeriod), KeyResult::PassedOn);
    EXPECT_EQ(state().entryHasPoint, 1);
    EXPECT_EQ(window.beeps, 0);
    EXPECT_EQ(controller.PreviewKey(vk::kDelete), KeyResult::Consumed);
    EXPECT_EQ(controller.PreviewKey(vk::kPeriod), KeyResult::Consumed);
    EXPECT_EQ(window.beeps, 2);
    controller.ToggleEntry();  // opening clears it
    EXPECT_EQ(controller.PreviewKey(vk::kDelete), KeyResult::Consumed);
    EXPECT_EQ(state().entryText, ".");
    EXPECT_EQ(window.beeps, 2);

    // An entry that ended with a point: the first point key afterwards beeps.
    controller.PreviewKey(vk::kReturn);
    EXPECT_EQ(controller.PreviewKey(vk::kPeriod), KeyResult::Consumed);
    EXPECT_EQ(window.beeps, 3);
}

TEST_F(DirectEntry, KeyRoutingInAndOutOfAnEntry) {
    struct Case {
        int key;
        KeyResult closed;
        KeyResult open;
    };
    const Case cases[] = {
        {vk::kReturn, KeyResult::Consumed, KeyResult::Consumed},
        {vk::kEscape, KeyResult::Consumed, KeyResult::Consumed},
        {'5', KeyResult::PassedOn, KeyResult::Consumed},
        {vk::kK, KeyResult::PassedOn, KeyResult::Consumed},
        {vk::kM, KeyResult::PassedOn, KeyResult::Consumed},
        {vk::kNumpadAdd, KeyResult::PassedOn, KeyResult::Consumed},
        {vk::kNumpadSubtract, KeyResult::PassedOn, KeyResult::Consumed},
        {96, KeyResult::PassedOn, KeyResult::PassedOn},   // keypad 0
        {105, KeyResult::PassedOn, KeyResult::PassedOn},  // keypad 9
        {110, KeyResult::PassedOn, KeyResult::PassedOn},  // keypad decimal
        {'O', KeyResult::PassedOn, KeyResult::PassedOn},  // a button mnemonic
        {'X', KeyResult::PassedOn, KeyResult::PassedOn},
        {9, KeyResult::PassedOn, KeyResult::PassedOn},  // Tab
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        state().entryActive = 0;
        EXPECT_EQ(controller.PreviewKey(c.key), c.closed);
        EXPECT_EQ(state().frequencyHz, 10'000'000.0);
        controller.ToggleEntry();
        ASSERT_EQ(state().entryActive, 1);
        EXPECT_EQ(controller.PreviewKey(c.key), c.open);
    }
}

TEST_F(DirectEntry, EscapeKeepsTheEntryOpen) {
    controller.ToggleEntry();
    Type("42");
    controller.PreviewKey(vk::kEscape);
    EXPECT_EQ(state().entryActive, 1);
    EXPECT_EQ(state().entryText, "42");
    EXPECT_EQ(window.destroyed, 0);
}

TEST_F(DirectEntry, F2OpensAndClosesButIsPassedOn) {
    EXPECT_EQ(controller.PreviewKey(vk::kF2), KeyResult::PassedOn);
    EXPECT_EQ(state().entryActive, 1);
    Type("7");
    EXPECT_EQ(controller.PreviewKey(vk::kF2), KeyResult::PassedOn);
    EXPECT_EQ(state().entryActive, 0);
    EXPECT_EQ(state().frequencyHz, 7.0);
}

TEST_F(DirectEntry, LockRefusesClickAndF2ButNotEnter) {
    controller.ConnectAtStartup();
    state().lockWhileOutput = 1;
    controller.ToggleEntry();  // opened while the output is off
    Type("123");
    controller.ToggleOutput();
    platform.ClearSent();

    controller.ToggleEntry();
    EXPECT_EQ(controller.PreviewKey(vk::kF2), KeyResult::Consumed);
    EXPECT_EQ(window.beeps, 2);
    EXPECT_EQ(state().entryActive, 1);

    // The lock guards opening and closing only: editing goes on.
    Type("4.K");
    controller.PreviewKey(vk::kBack);
    EXPECT_EQ(state().entryText, "123400");
    EXPECT_EQ(window.beeps, 2);

    EXPECT_EQ(controller.PreviewKey(vk::kReturn), KeyResult::Consumed);
    EXPECT_EQ(state().entryActive, 0);
    EXPECT_EQ(SentWords(), std::vector<TuningWord>{ComputeTuningWord(123'400.0)});

    controller.ToggleEntry();
    EXPECT_EQ(state().entryActive, 0) << "no entry can open under the lock";
    EXPECT_EQ(window.beeps, 3);
}

TEST_F(DirectEntry, ReadoutIsCutAt63Characters) {
    controller.ToggleEntry();
    Type(std::string(60, '0'));
    EXPECT_EQ(Readout(), std::string(60, '0') + "_Hz");
    Type("0");
    EXPECT_EQ(Readout(), std::string(61, '0') + "_H");
    Type("00");
    EXPECT_EQ(Readout(), std::string(63, '0'));
    Type("1");
    EXPECT_EQ(Readout(), std::string(63, '0'));
    EXPECT_EQ(state().entryText, std::string(63, '0') + "1");
}

TEST_F(DirectEntry, TextStopsAt255Characters) {
    controller.ToggleEntry();
    Type(std::string(254, '0'));
    Type("1");
    ASSERT_EQ(state().entryText.size(), kMaxEntryLength);
    EXPECT_EQ(window.beeps, 0);
    const int writes = window.Writes(control::kReadout);
    Type("2");
    EXPECT_EQ(controller.PreviewKey(vk::kPeriod), KeyResult::Consumed);
    EXPECT_EQ(window.beeps, 2);
    EXPECT_EQ(state().entryText.size(), kMaxEntryLength);
    EXPECT_EQ(state().entryHasPoint, 0) << "a refused point must not count as typed";
    EXPECT_EQ(window.Writes(control::kReadout), writes);

    // Room again after a Backspace, and the long text still has its value.
    controller.PreviewKey(vk::kBack);
    Type(".");
    EXPECT_EQ(state().entryHasPoint, 1);
    EXPECT_EQ(state().entryText.size(), kMaxEntryLength);
    controller.PreviewKey(vk::kReturn);
    EXPECT_EQ(state().frequencyHz, 0.0);
}

}  // namespace
}  // namespace tovrik::testing
