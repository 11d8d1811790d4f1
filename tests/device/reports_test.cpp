#include "device/reports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tovrik {
namespace {

struct WordCase {
    double hz;
    TuningWord word;
};

class ComputeTuningWordTest : public ::testing::TestWithParam<WordCase> {};

TEST_P(ComputeTuningWordTest, MatchesDeviceWord) {
    EXPECT_EQ(ComputeTuningWord(GetParam().hz), GetParam().word) << GetParam().hz << " Hz";
}

INSTANTIATE_TEST_SUITE_P(InRange, ComputeTuningWordTest,
                         ::testing::Values(WordCase{0, 0}, WordCase{0.02, 0}, WordCase{0.021, 1},
                                           WordCase{0.1, 2}, WordCase{1, 24}, WordCase{10, 239},
                                           WordCase{1000, 23861}, WordCase{10'000'000, 238'609'294},
                                           WordCase{12'800'000, 0x12345679},
                                           WordCase{80'000'000, 1'908'874'354}));

// Stored settings can carry any double; the word must still be defined and never UB.
INSTANTIATE_TEST_SUITE_P(OutOfRange, ComputeTuningWordTest,
                         ::testing::Values(WordCase{-1, 4'294'967'273u}, WordCase{180'000'000, 0},
                                           WordCase{200'000'000, 477'218'588}, WordCase{1e30, 0},
                                           WordCase{-1e30, 0}, WordCase{1e300, 0},
                                           WordCase{-1e300, 0},
                                           WordCase{std::numeric_limits<double>::infinity(), 0},
                                           WordCase{-std::numeric_limits<double>::infinity(), 0},
                                           WordCase{std::numeric_limits<double>::quiet_NaN(), 0},
                                           WordCase{std::numeric_limits<double>::denorm_min(), 0}));

TEST(TuningWordToHz, IsExactAndUnsigned) {
    EXPECT_EQ(TuningWordToHz(238'609'294), 9'999'999.990686774);
    EXPECT_EQ(TuningWordToHz(1'908'874'354), 80'000'000.009313226);
    EXPECT_EQ(TuningWordToHz(1), 0.041909515857696533203125);
    EXPECT_EQ(TuningWordToHz(0xFFFFFFFFu), 179'999'999.95809048);
    EXPECT_EQ(TuningWordToHz(0x80000000u), 2'147'483'648.0 * kWordToHzFactor);
    // Exactness: every word maps to word * 703125 / 2^24 without rounding.
    for (TuningWord word : {1u, 3u, 0x12345679u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(std::ldexp(TuningWordToHz(word), 24), static_cast<double>(word) * 703125.0);
    }
}

TEST(TuningWord, RoundTripOfEveryQuantizedFrequencyIsStable) {
    for (TuningWord word = 0; word < 2'000'000'000u; word += 7'654'321u) {
        EXPECT_EQ(ComputeTuningWord(TuningWordToHz(word)), word);
    }
}

TEST(OutputReport, LayoutsOfTheThreeKinds) {
    EXPECT_EQ(BuildFrequencyReport(ComputeTuningWord(12'800'000)),
              (OutputReport{0x00, 0x79, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00}));
    EXPECT_EQ(BuildStopReport(), (OutputReport{0, 0, 0, 0, 0, 0x01, 0, 0}));
    EXPECT_EQ(BuildPowerSavingReport(), (OutputReport{0, 0, 0, 0, 0, 0x05, 0, 0}));
    EXPECT_EQ(BuildOutputReport(0xFFFFFFFFu, 0xAB),
              (OutputReport{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0x00, 0x00}));
}

TEST(OutputReport, ControlByteUsesLowFiveSelectorBits) {
    EXPECT_EQ(FrequencyControlByte(0), 1);
    EXPECT_EQ(FrequencyControlByte(1), 9);
    EXPECT_EQ(FrequencyControlByte(31), 249);
    EXPECT_EQ(FrequencyControlByte(32), 1);
    EXPECT_EQ(FrequencyControlByte(-1), 249);
}

TEST(VersionText, FormatsBytesOneToThreeOnly) {
    EXPECT_EQ(FormatVersionText({0, 0, 0, 0, 9, 9, 9, 9}), "00/00/00");
    EXPECT_EQ(FormatVersionText({0xEE, 6, 1, 5, 0, 0, 0, 0}), "06/01/05");
    EXPECT_EQ(FormatVersionText({0, 255, 255, 255, 0, 0, 0, 0}), "255/255/255");
}

struct SampleCase {
    double hz;
    std::optional<std::int32_t> word;
};

class SampleClientWordTest : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SampleClientWordTest, RoundsHalfToEvenInSigned32Bits) {
    EXPECT_EQ(SampleClientTuningWord(GetParam().hz), GetParam().word) << GetParam().hz;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SampleClientWordTest,
    ::testing::Values(SampleCase{12'800'000, 305'419'897}, SampleCase{80'000'000, 1'908'874'354},
                      SampleCase{1, 24}, SampleCase{0, 0}, SampleCase{85'000'000, 2'028'179'001},
                      SampleCase{-1, -24},
                      // Exact halves: 2.5 and 3.5 word units settle on the even word.
                      SampleCase{2.5 * kWordToHzFactor, 2}, SampleCase{3.5 * kWordToHzFactor, 4},
                      SampleCase{-2.5 * kWordToHzFactor, -2},
                      SampleCase{2147483647.0 * kWordToHzFactor, 2147483647},
                      SampleCase{2147483647.5 * kWordToHzFactor, std::nullopt},
                      SampleCase{-2147483648.0 * kWordToHzFactor, -2147483647 - 1},
                      SampleCase{90'000'000, std::nullopt}, SampleCase{-90'000'001, std::nullopt},
                      SampleCase{std::numeric_limits<double>::quiet_NaN(), std::nullopt},
                      SampleCase{std::numeric_limits<double>::infinity(), std::nullopt}));

TEST(SampleClientWord, DiffersFromControlAppOnlyOnExactHalves) {
    // 2.5 units: the control application rounds the half up, the sample client to even.
    EXPECT_EQ(ComputeTuningWord(2.5 * kWordToHzFactor), 3u);
    EXPECT_EQ(SampleClientTuningWord(2.5 * kWordToHzFactor), 2);
}

}  // namespace
}  // namespace tovrik
