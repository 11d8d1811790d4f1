// The frequency and duration grammar of tovrikctl.
#include "cli/units.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tovrik::cli::ParseDuration;
using tovrik::cli::ParseError;
using tovrik::cli::ParseFrequency;

TEST(FrequencyText, AcceptedFormsGiveHertz) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"12500000", 12.5e6},
        {"12.5M", 12.5e6},
        {"12.5MHz", 12.5e6},
        {"12.5 MHz", 12.5e6},
        {"0." + std::string(400, '0') + "1", 0},  // below a double's resolution
        {"12.5MHZ", 12.5e6},
        {"1.5k", 1500},
        {"1.5K", 1500},
        {"1.5kHz", 1500},
        {"1.5 khz", 1500},
        {"440Hz", 440},
        {"440 hz", 440},
        {".5k", 500},
        {"0", 0},
        {"80M", 80e6},
        {"80000000", 80e6},
        {"0.041909515857696533203125", 0.041909515857696533203125},
    };
    for (const auto& [text, hz] : cases) {
        const auto parsed = ParseFrequency(text);
        ASSERT_TRUE(std::holds_alternative<double>(parsed)) << text;
        EXPECT_DOUBLE_EQ(std::get<double>(parsed), hz) << text;
    }
}

TEST(FrequencyText, RefusalsSayWhy) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"12.5m", "milli"},
        {"5 mHz", "milli"},
        {"12.5mhz", "milli"},
        {"80.000001M", "above the limit"},
        {"80000001", "above"},
        {"1e6", "unknown unit"},
        {"-5", "not a frequency"},
        {"+5", "not a frequency"},
        {"", "not a frequency"},
        {"M", "not a frequency"},
        {"12.5 GHz", "unknown unit"},
        {"1.2.3", "unknown unit"},
        {"12.5MHzz", "unknown unit"},
        {"nan", "not a frequency"},
        {"99999999999999999999999999999999999999M", "above"},
        {std::string(400, '9'), "above"},
    };
    for (const auto& [text, words] : cases) {
        const auto parsed = ParseFrequency(text);
        ASSERT_TRUE(std::holds_alternative<ParseError>(parsed)) << text;
        EXPECT_NE(std::get<ParseError>(parsed).message.find(words), std::string::npos)
            << text << ": " << std::get<ParseError>(parsed).message;
    }
}

TEST(DurationText, FormsAndLimits) {
    const std::vector<std::pair<std::string, double>> good = {
        {"1ms", 1e-3}, {"2.5 ms", 2.5e-3}, {"0.25s", 0.25}, {"1000us", 1e-3}, {"2", 2}};
    for (const auto& [text, seconds] : good) {
        const auto parsed = ParseDuration(text);
        ASSERT_TRUE(std::holds_alternative<double>(parsed)) << text;
        EXPECT_DOUBLE_EQ(std::get<double>(parsed), seconds) << text;
    }
    for (const std::string bad : {"999us", "0.5ms", "0", "2d", "-1ms", "ms", "86401s"}) {
        EXPECT_TRUE(std::holds_alternative<ParseError>(ParseDuration(bad))) << bad;
    }
}

}  // namespace
