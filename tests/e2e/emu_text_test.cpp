// The emulator's decoding of written reports.
#include "tools/emu_text.h"

#include <gtest/gtest.h>

namespace {

TEST(EmuText, FrequencyIsTruncatedToHundredthsWithThousandsSeparators) {
    const std::vector<std::pair<std::uint32_t, std::string>> table = {
        {0, "0.00"},
        {1, "0.04"},
        {24, "1.00"},  // 1.0058... Hz
        {23'861, "1,000.00"},
        {238'609'294, "9,999,999.99"},
        {305'419'897, "12,800,000.01"},
        {1'908'874'354, "80,000,000.00"},
        {4'294'967'295, "179,999,999.95"},
    };
    for (const auto& [word, text] : table) EXPECT_EQ(tovrik::emu::FormatHz(word), text) << word;
}

TEST(EmuText, WritesDecodeByControlByte) {
    using Bytes = std::vector<std::uint8_t>;
    const std::vector<std::pair<Bytes, std::string>> table = {
        {{0, 0x79, 0x56, 0x34, 0x12, 1, 0, 0}, "frequency word 305419897 = 12,800,000.01 Hz"},
        {{0, 0, 0, 0, 0, 1, 0, 0}, "stop"},
        {{0, 0, 0, 0, 0, 5, 0xAA, 0xBB}, "power-saving"},
        {{0, 1, 0, 0, 0, 5, 0, 0}, "control 05 word 1"},
        {{0, 0, 0, 0, 0, 0x41, 0, 0}, "control 41 word 0"},
        {{1, 0, 0, 0, 0, 1, 0, 0}, "8 bytes"},  // not report id 0
        {{0, 0, 0, 0, 0, 1, 0}, "7 bytes"},
        {{}, "0 bytes"},
    };
    for (const auto& [bytes, text] : table) EXPECT_EQ(tovrik::emu::DecodeWrite(bytes), text);
    EXPECT_EQ(tovrik::emu::HexBytes({0x00, 0xAB, 0x0F}), "00 AB 0F");
}

}  // namespace
