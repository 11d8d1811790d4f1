#include "controller/readout.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "device/reports.h"

namespace tovrik {
namespace {

// Large enough for "%.8f" of any finite double (309 integer digits) plus the unit.
constexpr std::size_t kFixedBufferSize = 352;

// Fixed-point text with `precision` decimals followed by `unit`. std::to_chars is
// locale-independent, unlike printf, and rounds to nearest like printf does.
std::string FixedWithUnit(double value, int precision, std::string_view unit) {
    char buffer[kFixedBufferSize];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    std::string text(buffer, ec == std::errc{} ? end : buffer);
    text.append(unit);
    return text;
}

// Integer hertz with a "," before every group of three digits, optionally followed by the
// truncated hundredths, then "Hz". The readout never carries a sign: values outside the
// 32-bit range of the synthesizer (only possible from a misused call) are clamped to it.
std::string Grouped(double value, bool withHundredths) {
    constexpr double kMaxInteger = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t integer = 0;
    unsigned hundredths = 0;
    if (value >= 0.0 && value < kMaxInteger + 1.0) {  // false for NaN
        const double whole = std::trunc(value);
        integer = static_cast<std::uint32_t>(whole);
        const double cents = std::trunc((value - whole) * 100.0);
        hundredths = cents >= 99.0 ? 99u : static_cast<unsigned>(cents);
    } else if (value >= kMaxInteger + 1.0) {
        integer = std::numeric_limits<std::uint32_t>::max();
    }

    // Built from the right: at most 13 characters of digits and separators, 3 of
    // decimals, 2 of unit.
    char buffer[24];
    char* p = buffer + sizeof buffer;
    *--p = 'z';
    *--p = 'H';
    if (withHundredths) {
        *--p = static_cast<char>('0' + hundredths % 10);
        *--p = static_cast<char>('0' + hundredths / 10);
        *--p = '.';
    }
    int digits = 0;
    do {
        if (digits != 0 && digits % 3 == 0) *--p = ',';
        *--p = static_cast<char>('0' + integer % 10);
        integer /= 10;
        ++digits;
    } while (integer != 0);
    return std::string(p, buffer + sizeof buffer);
}

}  // namespace

std::string FormatReadout(double valueHz, DisplayMode mode) {
    switch (mode) {
        case kDisplayHundredths:
            return Grouped(valueHz, true);
        case kDisplayAutoUnit:
            if (valueHz >= 1'000'000.0) return FixedWithUnit(valueHz * 0.000001, 8, "MHz");
            if (valueHz >= 1'000.0) return FixedWithUnit(valueHz / 1'000.0, 5, "kHz");
            return Grouped(valueHz, true);
        case kDisplayTuningWord: {
            static constexpr char kHex[] = "0123456789ABCDEF";
            TuningWord word = ComputeTuningWord(valueHz);
            char buffer[10] = {'0', 'x'};
            for (int i = 9; i >= 2; --i) {
                buffer[i] = kHex[word & 0xFu];
                word >>= 4;
            }
            return std::string(buffer, sizeof buffer);
        }
        default:  // 1, and whatever a hand-edited settings file holds
            return Grouped(valueHz, false);
    }
}

}  // namespace tovrik
