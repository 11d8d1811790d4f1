// The command table of tovrikctl's SCPI instrument: one row per command, its header pattern,
// parameter and handlers; and the context a handler runs in.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/scpi.h"
#include "cli/scpi_language.h"

namespace tovrik::cli::scpi {

// One header keyword: long form with the short form in capitals ("FREQuency").
struct Keyword {
    std::string_view form;
    bool optional = false;
    bool channel = false;  // takes the channel number as its suffix
};

// A header in the table's notation: keywords joined by ':', "[...]" optional, '#' after a
// keyword that takes the channel number ("[SOURce#]:FREQuency[:CW]"); a common command is
// one keyword, '*' and its letters. A malformed pattern does not compile.
class Pattern {
  public:
    consteval Pattern(const char* text) {  // NOLINT(google-explicit-constructor): table rows
        const std::string_view pattern(text);
        bool optional = false;
        std::size_t start = std::string_view::npos;
        const auto close = [&](std::size_t end) {
            if (start == std::string_view::npos) return;
            if (size_ == words_.size()) Malformed();
            words_[size_++] = {pattern.substr(start, end - start), optional, false};
            start = std::string_view::npos;
        };
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            const char c = pattern[i];
            if (c == '[' || c == ']' || c == ':' || c == '#') {
                close(i);
                if (c == '[' || c == ']') optional = c == '[';
                if (c == '#' && size_ == 0) Malformed();
                if (c == '#') words_[size_ - 1].channel = true;
            } else if (start == std::string_view::npos) {
                start = i;
            }
        }
        close(pattern.size());
        if (size_ == 0 || optional) Malformed();
    }

    constexpr std::size_t size() const { return size_; }
    constexpr const Keyword& operator[](std::size_t i) const { return words_[i]; }
    constexpr const Keyword& front() const { return words_[0]; }
    constexpr const Keyword* begin() const { return words_.data(); }
    constexpr const Keyword* end() const { return words_.data() + size_; }

  private:
    static void Malformed() {}  // not constexpr: reaching it stops the compilation

    std::array<Keyword, 4> words_{};
    std::size_t size_ = 0;
};

struct Unit {
    double value = 0;
    Special special = Special::None;
};

// One unit (';'-separated command) being executed for a client.
struct Context {
    ScpiClient& client;
    std::vector<ScpiChannel>& channels;
    bool bank;
    std::uint64_t& sweeps;
    std::optional<DeviceOrder> order;
    std::string_view argument;
    unsigned channel = 1;  // the one the command addresses
    ScpiStateStore* store = nullptr;
    bool failed = false;  // the unit reported an error

    ScpiInstrument& in() { return channels.at(channel - 1).instrument; }
    void Answer(std::string text) { client.answers.push_back(std::move(text)); }
    void Error(ScpiCode code, std::string_view detail = {});

    // The unit waits until the device took `report`; `then` runs either way.
    void Write(const OutputReport& report,
               std::function<void(ScpiInstrument&, bool ok)> then = nullptr);

    // A numeric parameter with an optional suffix from `units`.
    std::optional<Unit> Numeric(Units units);
    // A numeric setting within `range`, MIN/MAX/DEF included; empty after an error.
    std::optional<double> Setting(Units units, const Range& range, double tolerance = 0);
    std::optional<bool> Boolean();
    // A parameter that is one of `choices` (each a keyword's long form, short form in
    // capitals); its index, empty after an error.
    std::optional<std::size_t> Choice(std::initializer_list<std::string_view> choices);
};

enum class Param { Required, Optional, None };

using Handler = void (*)(Context&);

// A numeric setting's range, which MIN, MAX and DEF name, and how its query answers them.
struct Limits {
    Range range;
    std::string (*format)(double);
};

struct Command {
    Pattern pattern;
    Param param;                     // of the set form
    Handler set;                     // null: there is no set form
    Handler query;                   // null: there is no query form
    const Limits* limits = nullptr;  // where the query takes MIN, MAX or DEF
    bool onChannel = false;          // acts on one channel without a channel keyword (*RST)

    bool IsCommon() const { return pattern.front().form.front() == '*'; }
    // Whether the command acts on one channel, the addressed or selected one.
    bool OnChannel() const;
};

std::span<const Command> Commands();

// Makes `channel` the one the unit addresses, if it is there (or, for a query, known): else
// -241 and false.
bool Reach(Context& c, unsigned channel, bool query);

}  // namespace tovrik::cli::scpi
