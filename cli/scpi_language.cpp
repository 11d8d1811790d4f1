#include "cli/scpi_language.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>

#include "cli/scpi.h"

namespace tovrik::cli {

std::string FormatNumber(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("9.91E+37");
}

namespace scpi {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsHeaderChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '*' || c == '?' ||
           c == '_';
}

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> words;
    for (std::size_t from = 0;;) {
        const std::size_t at = text.find(separator, from);
        words.push_back(text.substr(from, at - from));
        if (at == std::string_view::npos) return words;
        from = at + 1;
    }
}

}  // namespace

std::vector<std::string_view> SplitPath(std::string_view header) {
    return Split(header, ':');
}

std::vector<std::string_view> SplitList(std::string_view text) {
    std::vector<std::string_view> items = Split(text, ',');
    for (std::string_view& item : items) item = Trim(item);
    return items;
}

namespace {

// The decimal order of magnitude of a number's text whose double is out of range: negative
// when it is too small rather than too large.
long long Magnitude(std::string_view mantissa, std::string_view exponent) {
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return LLONG_MIN;
    long long magnitude = first < point ? static_cast<long long>(point - first)
                                        : -static_cast<long long>(first - point - 1);
    long long e = 0;
    for (const char c : exponent) {
        if (IsDigit(c) && e < 1'000'000) e = e * 10 + (c - '0');
    }
    return magnitude + (!exponent.empty() && exponent.front() == '-' ? -e : e);
}

}  // namespace

bool SplitDecimal(std::string_view text, double& value, std::string_view& suffix) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    const std::string_view mantissa = text.substr(mantissaStart, i - mantissaStart);
    std::string_view exponent;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        std::size_t count = 0;
        while (j < text.size() && IsDigit(text[j])) ++j, ++count;
        if (count > 0) {
            exponent = text.substr(i + 1, j - i - 1);
            i = j;
        }
    }
    const char* begin = text.data();
    if (*begin == '+') ++begin;
    const auto [end, ec] = std::from_chars(begin, text.data() + i, value);
    if (end != text.data() + i) return false;
    if (ec == std::errc::result_out_of_range) {
        const double size = Magnitude(mantissa, exponent) < 0 ? 0.0 : HUGE_VAL;
        value = begin[0] == '-' ? -size : size;
    } else if (ec != std::errc()) {
        return false;
    }
    suffix = Trim(text.substr(i));
    return true;
}

Special ParseSpecial(std::string_view text) {
    struct Named {
        std::string_view shortName, longName;
        Special special;
    };
    static constexpr std::array<Named, 3> kSpecials = {{
        {"MIN", "MINIMUM", Special::Min},
        {"MAX", "MAXIMUM", Special::Max},
        {"DEF", "DEFAULT", Special::Def},
    }};
    const std::string upper = Upper(text);
    for (const Named& s : kSpecials) {
        if (upper == s.shortName || upper == s.longName) return s.special;
    }
    return Special::None;
}

}  // namespace scpi
}  // namespace tovrik::cli
