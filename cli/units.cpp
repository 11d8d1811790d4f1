#include "cli/units.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

#include "cli/sweep.h"
#include "device/reports.h"

namespace tovrik::cli {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Digits with at most one point and at least one digit; the rest of `text` goes to `rest`.
bool SplitNumber(std::string_view text, double& value, std::string_view& rest) {
    std::size_t i = 0;
    std::size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + i, value);
    if (end != text.data() + i) return false;
    if (ec == std::errc::result_out_of_range) {
        // Too large is refused as above the limit; below a double's resolution is 0 Hz.
        const std::string_view number = text.substr(0, i);
        value = number.find_first_of("123456789") < number.find('.') ? HUGE_VAL : 0.0;
    } else if (ec != std::errc()) {
        return false;
    }
    rest = text.substr(i);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    return true;
}

}  // namespace

std::variant<double, ParseError> ParseFrequency(std::string_view text) {
    const std::string quoted = "'" + std::string(text) + "'";
    double value = 0;
    std::string_view unit;
    if (!SplitNumber(text, value, unit)) {
        return ParseError{quoted + " is not a frequency: expected a number such as 12.5M"};
    }
    // SCPI's rule (MHZ is mega, MAHZ too) is not ours: any lower-case m reads as milli.
    if (!unit.empty() && unit.front() == 'm') {
        return ParseError{quoted + ": a lower-case 'm' would mean milli; write M or MHz"};
    }
    const std::string lower = Lower(unit);
    double scale = 0;
    if (lower.empty() || lower == "hz") {
        scale = 1;
    } else if (lower == "k" || lower == "khz") {
        scale = 1e3;
    } else if (lower == "m" || lower == "mhz") {  // upper-case M: see above
        scale = 1e6;
    } else {
        return ParseError{quoted + ": unknown unit '" + std::string(unit) +
                          "' (use Hz, k, kHz, M or MHz)"};
    }
    const double hz = value * scale;
    if (!(hz <= FrequencyLimitHz)) {
        return ParseError{quoted + " is above the limit of 80 MHz"};
    }
    return hz;
}

std::variant<double, ParseError> ParseDuration(std::string_view text) {
    const std::string quoted = "'" + std::string(text) + "'";
    double value = 0;
    std::string_view unit;
    if (!SplitNumber(text, value, unit)) {
        return ParseError{quoted + " is not a duration: expected a number such as 1ms"};
    }
    double scale = 0;
    if (unit == "s" || unit.empty()) {
        scale = 1;
    } else if (unit == "ms") {
        scale = 1e-3;
    } else if (unit == "us") {
        scale = 1e-6;
    } else {
        return ParseError{quoted + ": unknown unit '" + std::string(unit) + "' (use s, ms or us)"};
    }
    const double seconds = value * scale;
    if (!(seconds >= kMinDwellSeconds - kDwellTolerance)) {
        return ParseError{quoted + " is shorter than 1 ms"};
    }
    if (!(seconds <= kMaxDwellSeconds)) return ParseError{quoted + " is longer than a day"};
    return seconds;
}

}  // namespace tovrik::cli
