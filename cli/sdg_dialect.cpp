#include "cli/sdg_dialect.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "cli/scpi_handlers.h"
#include "cli/scpi_language.h"

namespace tovrik::cli::sdg {
namespace {

using scpi::Context;
using scpi::Upper;

enum class Verb { BasicWave, Output };

constexpr double kMaxVolts = 100;

// "C<n>": the channel; nothing for any other word.
std::optional<unsigned> ChannelOf(std::string_view word) {
    if (word.size() < 2 || word.size() > 3 || (word[0] != 'C' && word[0] != 'c') ||
        word[1] == '0') {
        return std::nullopt;
    }
    unsigned n = 0;
    for (const char digit : word.substr(1)) {
        if (!scpi::IsDigit(digit)) return std::nullopt;
        n = n * 10 + static_cast<unsigned>(digit - '0');
    }
    return n;
}

std::optional<Verb> VerbOf(std::string_view word) {
    const std::string upper = Upper(word);
    if (upper == "BSWV" || upper == "BASIC_WAVE") return Verb::BasicWave;
    if (upper == "OUTP" || upper == "OUTPUT") return Verb::Output;
    return std::nullopt;
}

// A finite number, bare or with `unit` ("2", "2V").
std::optional<double> Number(Context& c, std::string_view text, std::string_view unit) {
    double value = 0;
    std::string_view suffix;
    if (!scpi::SplitDecimal(text, value, suffix) || !std::isfinite(value) ||
        !(suffix.empty() || Upper(suffix) == unit)) {
        c.Error(ScpiCode::DataTypeError, std::string(text));
        return std::nullopt;
    }
    return value;
}

// The settings go with the unit's device order, if it has one, and only if the device took it.
void Keep(Context& c, const SdgSettings& next) {
    if (!c.order || !c.client.pending) {
        c.in().sdg = next;
        return;
    }
    c.client.pending = [then = std::move(c.client.pending), next](ScpiInstrument& i, bool ok) {
        then(i, ok);
        if (ok) i.sdg = next;
    };
}

// WVTP,SINE,FRQ,15000,AMP,2,OFST,0,PHSE,0 in any order and part: all of it or nothing.
void SetBasicWave(Context& c) {
    const auto words = scpi::SplitList(c.argument);
    if (words.size() % 2 != 0) return c.Error(ScpiCode::MissingParameter, "KEY,VALUE pairs");
    SdgSettings next = c.in().sdg;
    std::optional<std::string_view> frequency;
    for (std::size_t i = 0; i < words.size(); i += 2) {
        const std::string key = Upper(words[i]);
        const std::string_view value = words[i + 1];
        std::optional<double> number;
        if (key == "FRQ") {
            frequency = value;
        } else if (key == "WVTP") {
            if (Upper(value) != "SINE") {
                return c.Error(ScpiCode::IllegalParameterValue, "the TOVRIK makes a sine only");
            }
        } else if (key == "AMP" || key == "OFST") {
            // Beyond any generator's levels, and far from where HLEV and LLEV would overflow.
            if (!(number = Number(c, value, "V"))) return;
            const bool amplitude = key == "AMP";
            if (!(*number >= (amplitude ? 0 : -kMaxVolts) && *number <= kMaxVolts)) {
                return c.Error(ScpiCode::DataOutOfRange, key);
            }
            (amplitude ? next.amplitude : next.offset) = *number;
        } else if (key == "PHSE") {
            if (!(number = Number(c, value, ""))) return;
            if (!(*number >= 0 && *number <= 360)) return c.Error(ScpiCode::DataOutOfRange, "PHSE");
            next.phase = *number;
        } else {
            return c.Error(ScpiCode::IllegalParameterValue,
                           "BSWV takes WVTP, FRQ, AMP, OFST and PHSE, not " + key);
        }
    }
    if (frequency) {
        c.argument = *frequency;
        scpi::SetFrequency(c);
        if (c.failed) return;
    }
    Keep(c, next);
}

// ON or OFF, LOAD,50|HZ and PLRT,NOR, in any order.
void SetOutput(Context& c) {
    const auto words = scpi::SplitList(c.argument);
    SdgSettings next = c.in().sdg;
    std::optional<std::string_view> state;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string key = Upper(words[i]);
        if (key == "ON" || key == "OFF") {
            state = words[i];
            continue;
        }
        if (key != "LOAD" && key != "PLRT") {
            return c.Error(ScpiCode::IllegalParameterValue,
                           "OUTP takes ON, OFF, LOAD and PLRT, not " + key);
        }
        if (++i == words.size()) return c.Error(ScpiCode::MissingParameter, key);
        const std::string value = Upper(words[i]);
        if (key == "PLRT") {
            if (value != "NOR") {
                return c.Error(ScpiCode::IllegalParameterValue, "the output cannot be inverted");
            }
        } else if (value == "HZ") {
            next.loadOhms.reset();
        } else {
            const auto ohms = Number(c, words[i], "");
            if (!ohms) return;
            if (!(*ohms >= 50 && *ohms <= 100000)) return c.Error(ScpiCode::DataOutOfRange, "LOAD");
            next.loadOhms = *ohms;
        }
    }
    if (state) {
        c.argument = *state;
        scpi::SetOutput(c);
        if (c.failed) return;
    }
    Keep(c, next);
}

std::string Volts(double v) {
    return FormatNumber(v) + "V";
}

void QueryBasicWave(Context& c) {
    const SdgSettings& s = c.in().sdg;
    const double hz = TuningWordToHz(c.in().word);
    std::string text =
        "C" + std::to_string(c.channel) + ":BSWV WVTP,SINE,FRQ," + FormatNumber(hz) + "HZ";
    if (hz > 0) text += ",PERI," + FormatNumber(1 / hz) + "S";
    text += ",AMP," + Volts(s.amplitude) + ",OFST," + Volts(s.offset) + ",HLEV," +
            Volts(s.offset + s.amplitude / 2) + ",LLEV," + Volts(s.offset - s.amplitude / 2) +
            ",PHSE," + FormatNumber(s.phase);
    c.Answer(std::move(text));
}

void QueryOutput(Context& c) {
    const ScpiInstrument& i = c.in();
    const std::string load = i.sdg.loadOhms ? FormatNumber(*i.sdg.loadOhms) : "HZ";
    c.Answer("C" + std::to_string(c.channel) + ":OUTP " + (i.output || i.sweeping ? "ON" : "OFF") +
             ",LOAD," + load + ",PLRT,NOR");
}

}  // namespace

bool RunUnit(Context& c, std::string_view unit) {
    unit = scpi::Trim(unit);
    const std::size_t space = std::min(unit.find_first_of(" \t"), unit.size());
    std::string_view header = unit.substr(0, space);
    const std::string_view argument = scpi::Trim(unit.substr(space));
    if (Upper(header) == "IDN-SGLT-PRI?") {
        if (!argument.empty()) {
            c.Error(ScpiCode::ParameterNotAllowed);
        } else {
            c.Answer(std::string(kPrivateIdentity));
        }
        return true;
    }
    const bool query = !header.empty() && header.back() == '?';
    if (query) header.remove_suffix(1);
    // BSWV after "C1:OUTP LOAD,50;" is C1's, as SCPI's relative headers are.
    std::string_view prefix = c.client.path;
    std::string_view name = header;
    if (const std::size_t colon = header.find(':'); colon != std::string_view::npos) {
        prefix = header.substr(0, colon);
        name = header.substr(colon + 1);
    }
    const auto channel = ChannelOf(prefix);
    const auto verb = VerbOf(name);
    if (!channel || !verb) return false;
    c.client.path = std::string(prefix);
    c.argument = argument;
    // As SOURce2 is no header of a single TOVRIK.
    if (!c.bank && *channel != 1) {
        c.Error(ScpiCode::UndefinedHeader, "C1 only: serve --all makes C2 and on");
        return true;
    }
    if (!scpi::Reach(c, *channel, query)) return true;
    if (query && !argument.empty()) {
        c.Error(ScpiCode::ParameterNotAllowed);
    } else if (query) {
        (*verb == Verb::BasicWave ? QueryBasicWave : QueryOutput)(c);
    } else if (argument.empty()) {
        c.Error(ScpiCode::MissingParameter);
    } else {
        (*verb == Verb::BasicWave ? SetBasicWave : SetOutput)(c);
    }
    return true;
}

}  // namespace tovrik::cli::sdg
