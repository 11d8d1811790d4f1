#include "controller/readout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "device/reports.h"

namespace tovrik {
namespace {

struct ReadoutRow {
    double frequencyHz;
    TuningWord word;
    const char* hundredths;
    const char* wholeHertz;
    const char* autoUnit;
    const char* tuningWord;
};

// Frequency -> word -> the text of each mode, for the value the synthesizer really produces.
const ReadoutRow kReadoutTable[] = {
    {0, 0, "0.00Hz", "0Hz", "0.00Hz", "0x00000000"},
    {0.02, 0, "0.00Hz", "0Hz", "0.00Hz", "0x00000000"},
    {0.03, 1, "0.04Hz", "0Hz", "0.04Hz", "0x00000001"},
    {1, 24, "1.00Hz", "1Hz", "1.00Hz", "0x00000018"},
    {100, 2386, "99.99Hz", "99Hz", "99.99Hz", "0x00000952"},
    {999.98, 23860, "999.96Hz", "999Hz", "999.96Hz", "0x00005D34"},
    {999.99, 23861, "1,000.00Hz", "1,000Hz", "1.00000kHz", "0x00005D35"},
    {1000, 23861, "1,000.00Hz", "1,000Hz", "1.00000kHz", "0x00005D35"},
    {1234.5, 29456, "1,234.48Hz", "1,234Hz", "1.23449kHz", "0x00007310"},
    {123456.78, 2945794, "123,456.80Hz", "123,456Hz", "123.45680kHz", "0x002CF302"},
    {1000000, 23860929, "999,999.98Hz", "999,999Hz", "999.99998kHz", "0x016C16C1"},
    {1000000.01, 23860930, "1,000,000.02Hz", "1,000,000Hz", "1.00000002MHz", "0x016C16C2"},
    {10000000, 238609294, "9,999,999.99Hz", "9,999,999Hz", "9.99999999MHz", "0x0E38E38E"},
    {12345678.9, 294579373, "12,345,678.90Hz", "12,345,678Hz", "12.34567890MHz", "0x118EECAD"},
    {80000000, 1908874354, "80,000,000.00Hz", "80,000,000Hz", "80.00000001MHz", "0x71C71C72"},
};

TEST(ReadoutFormat, ReproducesTheReadoutTable) {
    for (const ReadoutRow& row : kReadoutTable) {
        SCOPED_TRACE(row.frequencyHz);
        const TuningWord word = ComputeTuningWord(row.frequencyHz);
        ASSERT_EQ(word, row.word);
        const double value = TuningWordToHz(word);
        EXPECT_EQ(FormatReadout(value, kDisplayHundredths), row.hundredths);
        EXPECT_EQ(FormatReadout(value, kDisplayWholeHertz), row.wholeHertz);
        EXPECT_EQ(FormatReadout(value, kDisplayAutoUnit), row.autoUnit);
        EXPECT_EQ(FormatReadout(value, kDisplayTuningWord), row.tuningWord);
    }
}

TEST(ReadoutFormat, LargestWord) {
    const double value = TuningWordToHz(0xFFFFFFFFu);
    EXPECT_EQ(FormatReadout(value, kDisplayHundredths), "179,999,999.95Hz");
    EXPECT_EQ(FormatReadout(value, kDisplayWholeHertz), "179,999,999Hz");
    EXPECT_EQ(FormatReadout(value, kDisplayAutoUnit), "179.99999996MHz");
    EXPECT_EQ(FormatReadout(value, kDisplayTuningWord), "0xFFFFFFFF");
}

TEST(ReadoutFormat, UnknownModesFormatLikeWholeHertz) {
    const double value = TuningWordToHz(238609294);
    for (const DisplayMode mode : {-1, 4, 99, std::numeric_limits<int>::min()}) {
        EXPECT_EQ(FormatReadout(value, mode), "9,999,999Hz") << mode;
    }
}

TEST(ReadoutFormat, HundredthsAreTruncatedWithoutCarry) {
    EXPECT_EQ(FormatReadout(999.999, kDisplayHundredths), "999.99Hz");
    EXPECT_EQ(FormatReadout(1234567.0, kDisplayHundredths), "1,234,567.00Hz");
    EXPECT_EQ(FormatReadout(123.0, kDisplayWholeHertz), "123Hz");
}

TEST(ReadoutFormat, OutOfRangeInputsStayWellFormed) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const DisplayMode mode : {0, 1, 2, 3}) {
        for (const double value : {-1.0, -1e300, nan, 1e300, inf, -inf, 4294967296.0}) {
            const std::string text = FormatReadout(value, mode);
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(text.find('-'), std::string::npos) << text;
        }
    }
    EXPECT_EQ(FormatReadout(-5.0, kDisplayHundredths), "0.00Hz");
    EXPECT_EQ(FormatReadout(1e12, kDisplayWholeHertz), "4,294,967,295Hz");
}

}  // namespace
}  // namespace tovrik
