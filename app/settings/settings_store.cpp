// The control application's keys, number conversions and the profile's location.
#include "app/settings/settings_store.h"

#ifdef _WIN32
#include "app/settings/windows/file_io.h"
#else
#include <locale.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace tovrik {
namespace {

constexpr const char* kProfile = kProfileSection;
constexpr const char* kPreset = kPresetSection;
constexpr const char* kPresetKeys[kPresetCount] = {"0", "1", "2"};

#ifndef _WIN32
// Created once; number conversion must not follow the user's locale (a German locale would
// write "10000000,00" and read "10000000.00" as 10000000).
locale_t CLocale() {
    static const struct Holder {
        locale_t loc = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        ~Holder() {
            if (loc != static_cast<locale_t>(nullptr)) ::freelocale(loc);
        }
    } holder;
    return holder.loc;
}
#endif

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
#ifdef _WIN32
    // from_chars is locale-independent; it takes no '+' and leaves the value alone (0.0) when
    // the number is out of range.
    std::size_t from = start;
    if (text[from] == '+') ++from;
    double value = 0.0;
    std::from_chars(text.data() + from, text.data() + i, value, std::chars_format::general);
#else
    const std::string number = text.substr(start, i - start);
    const locale_t c = CLocale();
    const double value = c == static_cast<locale_t>(nullptr)
                             ? std::strtod(number.c_str(), nullptr)
                             : ::strtod_l(number.c_str(), nullptr, c);
#endif
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

#ifdef _WIN32
std::filesystem::path DefaultProfilePath(const std::string& executableBaseName) {
    return windows_files::RoamingProfilePath(executableBaseName);
}

std::filesystem::path ProfileToRead(const std::filesystem::path& profile,
                                    const std::string& executableBaseName) {
    const auto legacy = windows_files::LegacyProfilePaths(executableBaseName);
    return windows_files::FirstExisting(profile, legacy);
}
#else
std::filesystem::path ProfileToRead(const std::filesystem::path& profile, const std::string&) {
    return profile;
}

std::filesystem::path DefaultProfilePath(const std::string& executableBaseName) {
    std::filesystem::path dir;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        dir = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw != nullptr ? pw->pw_dir : nullptr;
        }
        if (home != nullptr && home[0] != '\0') dir = std::filesystem::path(home) / ".config";
    }
    return dir / (executableBaseName + ".INI");
}
#endif

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
