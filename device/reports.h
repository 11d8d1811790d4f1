// Wire formats of the TOVRIK and the arithmetic between Hz and tuning words.
// Everything here is pure computation; moving the bytes is transport.h's job.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>

namespace tovrik {

using TuningWord = std::uint32_t;

inline constexpr double ReferenceClockHz = 180'000'000.0;
inline constexpr double FrequencyLimitHz = 80'000'000.0;

// Hz -> word: the double nearest to 2^32 / 180 MHz. Word -> Hz: exactly 180 MHz / 2^32,
// which is also the size of one tuning-word step.
inline constexpr double kHzToWordFactor = 23.860929422222224;
inline constexpr double kWordToHzFactor = 0.041909515857696533203125;
static_assert(std::bit_cast<std::uint64_t>(kHzToWordFactor) == 0x4037DC65DEE09BCFull);
static_assert(std::bit_cast<std::uint64_t>(kWordToHzFactor) == 0x3FA5752A00000000ull);

inline constexpr std::size_t kReportSize = 8;
using OutputReport = std::array<std::uint8_t, kReportSize>;    // host -> device, report id 0
using VersionFeature = std::array<std::uint8_t, kReportSize>;  // device -> host, report id 0

inline constexpr std::uint8_t kFrequencyControl = 0x01;
inline constexpr std::uint8_t kPowerSavingControl = 0x05;

// Rounds half up for 0..FrequencyLimitHz. Outside that range it keeps the device's historical
// wrap-around (low 32 bits of the truncated value); values a 64-bit integer cannot hold, NaN
// included, give word 0.
TuningWord ComputeTuningWord(double frequencyHz);

// Exact for every word: word * 703125 stays below 2^52.
double TuningWordToHz(TuningWord word);

// The sample client's conversion: frequency / (180 MHz / 2^32), ties to even, as a signed
// 32-bit value. Empty when the result does not fit (or the input is not a number).
std::optional<std::int32_t> SampleClientTuningWord(double frequencyHz);

// Control byte of a frequency report: 1 + 8 * (selector's low five bits), in 8 bits.
std::uint8_t FrequencyControlByte(int selector);

OutputReport BuildOutputReport(TuningWord word, std::uint8_t control);
inline OutputReport BuildFrequencyReport(TuningWord word) {
    return BuildOutputReport(word, kFrequencyControl);
}
inline OutputReport BuildStopReport() {
    return BuildOutputReport(0, kFrequencyControl);
}
inline OutputReport BuildPowerSavingReport() {
    return BuildOutputReport(0, kPowerSavingControl);
}

// "%02d/%02d/%02d" of bytes 1..3; at most 11 characters.
std::string FormatVersionText(const VersionFeature& feature);

}  // namespace tovrik
