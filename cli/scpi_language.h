// The SCPI language's words: header characters and paths, decimal numbers, MIN/MAX/DEF and
// unit suffixes. No state and no instrument.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovrik::cli::scpi {

std::string Upper(std::string_view text);
std::string_view Trim(std::string_view text);  // spaces and tabs at both ends
bool IsDigit(char c);
bool IsHeaderChar(char c);

// "A:B:C" as its words; an empty word (a doubled colon) stays, for the caller to refuse.
std::vector<std::string_view> SplitPath(std::string_view header);
// "a, b,c" as its items, trimmed; an empty item stays, for the caller to refuse.
std::vector<std::string_view> SplitList(std::string_view text);

// SCPI decimal numeric data, [+-]digits[.digits][E[+-]digits], then a suffix (trimmed).
// Beyond a double's range the value is infinite; below its resolution, zero.
bool SplitDecimal(std::string_view text, double& value, std::string_view& suffix);

// The named values a numeric parameter may take instead of a number.
enum class Special { None, Min, Max, Def };
Special ParseSpecial(std::string_view text);

// The range of a numeric setting, which MIN, MAX and DEF name.
struct Range {
    double min, max, def;
    double Pick(Special s) const { return s == Special::Min ? min : s == Special::Max ? max : def; }
};

// A suffix a numeric parameter accepts, in capitals ("" = none), and its scale.
using UnitName = std::pair<std::string_view, double>;
using Units = std::span<const UnitName>;

inline constexpr std::array<UnitName, 5> kHzUnits = {
    {{"", 1}, {"HZ", 1}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"MAHZ", 1e6}}};
inline constexpr std::array<UnitName, 4> kSecondUnits = {
    {{"", 1}, {"S", 1}, {"MS", 1e-3}, {"US", 1e-6}}};
inline constexpr std::array<UnitName, 1> kNoUnits = {{{"", 1}}};

}  // namespace tovrik::cli::scpi
