#include "device/reports.h"

#include <cmath>
#include <cstdio>

namespace tovrik {

TuningWord ComputeTuningWord(double frequencyHz) {
    const double s = frequencyHz * kHzToWordFactor + 0.5;
    // The int64 conversion is only defined inside its range; NaN fails both tests.
    constexpr double kInt64Limit = 9223372036854775808.0;  // 2^63
    if (!(s >= -kInt64Limit && s < kInt64Limit)) return 0;
    const auto truncated = static_cast<std::int64_t>(s);
    return static_cast<TuningWord>(static_cast<std::uint64_t>(truncated) & 0xFFFFFFFFu);
}

double TuningWordToHz(TuningWord word) {
    return static_cast<double>(word) * kWordToHzFactor;
}

std::optional<std::int32_t> SampleClientTuningWord(double frequencyHz) {
    const double quotient = frequencyHz / (ReferenceClockHz / std::pow(2.0, 32));
    if (!std::isfinite(quotient)) return std::nullopt;
    double rounded = std::round(quotient);  // halves away from zero ...
    if (std::fabs(quotient - std::trunc(quotient)) == 0.5) {
        rounded = 2.0 * std::round(quotient / 2.0);  // ... so settle ties on the even neighbour
    }
    if (rounded < -2147483648.0 || rounded > 2147483647.0) return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::uint8_t FrequencyControlByte(int selector) {
    const auto field = static_cast<unsigned>(selector) & 0x1Fu;
    return static_cast<std::uint8_t>((1u + 8u * field) & 0xFFu);
}

OutputReport BuildOutputReport(TuningWord word, std::uint8_t control) {
    return OutputReport{0x00,
                        static_cast<std::uint8_t>(word & 0xFF),
                        static_cast<std::uint8_t>((word >> 8) & 0xFF),
                        static_cast<std::uint8_t>((word >> 16) & 0xFF),
                        static_cast<std::uint8_t>((word >> 24) & 0xFF),
                        control,
                        0x00,
                        0x00};
}

std::string FormatVersionText(const VersionFeature& feature) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d", static_cast<int>(feature[1]),
                  static_cast<int>(feature[2]), static_cast<int>(feature[3]));
    return text;
}

}  // namespace tovrik
