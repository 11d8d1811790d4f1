// The text forms of frequencies and durations that tovrikctl accepts.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace tovrik::cli {

struct ParseError {
    std::string message;
};

// "12500000", "12.5M", "1.5k", "12.5MHz", "12.5 MHz": a decimal number without sign or
// exponent, then Hz, k/kHz or M/MHz. Unit letters are read without regard to case, except
// that a lone "m" is refused: it would read as milli. The value must lie in 0..80 MHz.
std::variant<double, ParseError> ParseFrequency(std::string_view text);

// "1ms", "2.5 ms", "0.25s", "500us": a duration in seconds, at least 1 ms, at most one day.
std::variant<double, ParseError> ParseDuration(std::string_view text);

}  // namespace tovrik::cli
