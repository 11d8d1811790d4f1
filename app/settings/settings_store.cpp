// The control application's keys, number conversions and the profile's location.
#include "app/settings/settings_store.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "app/settings/file_backend.h"

namespace tovrik {
namespace {

constexpr const char* kProfile = kProfileSection;
constexpr const char* kPreset = kPresetSection;
constexpr const char* kPresetKeys[kPresetCount] = {"0", "1", "2"};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int ParseProfileInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the int range: clamping needs only
    // to know that the value is out of range.
    constexpr std::int64_t kCap = static_cast<std::int64_t>(INT_MAX) + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= kCap) magnitude = magnitude * 10 + (text[i] - '0');
    }
    if (negative) return magnitude >= kCap ? INT_MIN : static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

double ParseProfileDouble(const std::string& text) {
    // Only the decimal grammar: strtod alone would also take "nan", "inf" and hex, and a NaN
    // in the frequency freezes the spin and the wheel and is saved back.
    const auto digit = [&text](std::size_t i) {
        return i < text.size() && text[i] >= '0' && text[i] <= '9';
    };
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    for (; digit(i); ++i) ++digits;
    if (i < text.size() && text[i] == '.') {
        for (++i; digit(i); ++i) ++digits;
    }
    if (digits == 0) return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t e = i + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        if (digit(e)) {
            for (i = e; digit(i); ++i) {
            }
        }
    }
    const double value = settings_files::ParseCDecimal(text.substr(start, i - start));
    // An exponent too large for a double reads like text that is no number.
    return std::isfinite(value) ? value : 0.0;
}

std::string FormatFixed(double value, int decimals) {
    if (decimals < 0) decimals = 0;
    // Sign, up to 309 integer digits, point, decimals.
    std::string out(static_cast<std::size_t>(decimals) + 320, '\0');
    const auto result = std::to_chars(out.data(), out.data() + out.size(), value,
                                      std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return "0";
    out.resize(static_cast<std::size_t>(result.ptr - out.data()));
    return out;
}

std::filesystem::path DefaultProfilePath(const std::string& executableBaseName) {
    return settings_files::DefaultProfilePath(executableBaseName);
}

std::filesystem::path ProfileToRead(const std::filesystem::path& profile,
                                    const std::string& executableBaseName) {
    return settings_files::ProfileToRead(profile, executableBaseName);
}

int LoadSettings(const IniProfile& profile, ControllerState& state) {
    for (const StoredSetting& row : SettingsTable) {
        state.*row.field = profile.ReadInt(row.section, row.key, row.defaultValue);
    }
    if (state.saveFrequency != 0) {
        state.frequencyHz = ParseProfileDouble(profile.ReadText(kProfile, "Freq", "10000000.0"));
    }
    int step = profile.ReadInt(kProfile, "Step", kDefaultStepIndex);
    if (step < 0 || step >= static_cast<int>(StepTable.size())) step = kDefaultStepIndex;
    state.stepHz = StepTable[static_cast<std::size_t>(step)].hz;
    if (state.outputAtStart != 0) state.outputOn = 1;
    for (int i = 0; i < kPresetCount; ++i) {
        state.presets[static_cast<std::size_t>(i)] =
            ParseProfileDouble(profile.ReadText(kPreset, kPresetKeys[i], "0.0"));
    }
    return step;
}

void SaveSettings(IniProfile& profile, const ControllerState& state,
                  std::optional<int> pressedStepIndex) {
    profile.WriteText(kProfile, "Freq", FormatFixed(state.frequencyHz, 2));
    if (pressedStepIndex && *pressedStepIndex >= 0 &&
        *pressedStepIndex < static_cast<int>(StepTable.size())) {
        profile.WriteInt(kProfile, "Step", *pressedStepIndex);
    }
    for (const StoredSetting& row : SettingsTable) {
        profile.WriteInt(row.section, row.key, state.*row.field);
    }
    for (int i = 0; i < kPresetCount; ++i) {
        profile.WriteText(kPreset, kPresetKeys[i],
                          FormatFixed(state.presets[static_cast<std::size_t>(i)], 6));
    }
}

}  // namespace tovrik
