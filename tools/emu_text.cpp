#include "tools/emu_text.h"

#include <cstdio>

#include "device/reports.h"

namespace tovrik::emu {

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char hex[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(byte));
        if (!text.empty()) text += ' ';
        text += hex;
    }
    return text;
}

std::string FormatHz(TuningWord word) {
    // Hundredths of a Hz, truncated, exact: word * 703,125 / 2^24 Hz; below 2^59 for any word.
    const std::uint64_t cents = static_cast<std::uint64_t>(word) * 70'312'500ull >> 24;
    const std::string digits = std::to_string(cents / 100);
    std::string whole;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) whole += ',';
        whole += digits[i];
    }
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%02u", static_cast<unsigned>(cents % 100));
    return whole + fraction;
}

std::string DecodeWrite(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != kReportSize || bytes[0] != 0)
        return std::to_string(bytes.size()) + " bytes";
    const TuningWord word =
        static_cast<TuningWord>(bytes[1]) | static_cast<TuningWord>(bytes[2]) << 8 |
        static_cast<TuningWord>(bytes[3]) << 16 | static_cast<TuningWord>(bytes[4]) << 24;
    const std::uint8_t control = bytes[5];
    if (control == kPowerSavingControl && word == 0) return "power-saving";
    if (control == kFrequencyControl && word == 0) return "stop";
    if (control == kFrequencyControl) {
        return "frequency word " + std::to_string(word) + " = " + FormatHz(word) + " Hz";
    }
    char text[64];
    std::snprintf(text, sizeof text, "control %02X word %u", static_cast<unsigned>(control),
                  static_cast<unsigned>(word));
    return text;
}

}  // namespace tovrik::emu
