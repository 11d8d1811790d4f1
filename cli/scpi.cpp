#include "cli/scpi.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <vector>

namespace tovrik::cli {

void ScpiClient::Push(int code, std::string text) {
    if (code <= -100 && code > -200)
        esr |= 0x20;  // command error
    else if (code <= -200 && code > -300)
        esr |= 0x10;  // execution error
    else if (code <= -300 && code > -400)
        esr |= 0x08;  // device-specific error
    else if (code <= -400 && code > -500)
        esr |= 0x04;  // query error
    if (errors.size() >= kErrorQueueSize) {
        errors.back() = {-350, "Queue overflow"};
        return;
    }
    errors.push_back({code, std::move(text)});
}

std::string FormatNumber(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("9.91E+37");
}

namespace {

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

// One header keyword: long form with the short form in capitals ("FREQuency").
struct Keyword {
    std::string_view form;
    bool optional = false;
};

bool KeywordMatches(std::string_view form, std::string_view input) {
    // A numeric suffix of 1 is the only instance this instrument has.
    while (!input.empty() && std::isdigit(static_cast<unsigned char>(input.back()))) {
        if (input.back() != '1' || (input.size() >= 2 && std::isdigit(static_cast<unsigned char>(
                                                             input[input.size() - 2])))) {
            return false;
        }
        input.remove_suffix(1);
    }
    std::string shortForm;
    for (const char c : form) {
        if (std::isupper(static_cast<unsigned char>(c))) shortForm += c;
    }
    const std::string upper = Upper(input);
    return upper == shortForm || upper == Upper(form);
}

bool Matches(const std::vector<Keyword>& pattern, std::size_t p,
             const std::vector<std::string_view>& words, std::size_t w) {
    if (p == pattern.size()) return w == words.size();
    if (pattern[p].optional && Matches(pattern, p + 1, words, w)) return true;
    return w < words.size() && KeywordMatches(pattern[p].form, words[w]) &&
           Matches(pattern, p + 1, words, w + 1);
}

enum class Param { Required, Optional, None };

struct Unit {
    std::optional<double> value;  // empty: MIN/MAX/DEF was given
    std::string special;          // "MIN", "MAX" or "DEF"
};

// SCPI decimal numeric data: [+-]digits[.digits][E[+-]digits], then an optional suffix.
bool SplitDecimal(std::string_view text, double& value, std::string_view& suffix) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        std::size_t exponent = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            ++j, ++exponent;
        if (exponent > 0) i = j;
    }
    const char* begin = text.data();
    if (*begin == '+') ++begin;
    const auto [end, ec] = std::from_chars(begin, text.data() + i, value);
    if (end != text.data() + i) return false;
    if (ec == std::errc::result_out_of_range)
        value = begin[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    else if (ec != std::errc())
        return false;
    suffix = Trim(text.substr(i));
    return true;
}

struct Context {
    ScpiClient& client;
    ScpiInstrument& instrument;
    const std::string& version;
    std::uint64_t& sweeps;
    std::optional<DeviceOrder> order;
    bool query = false;
    std::string_view argument;

    void Error(int code, std::string text) {
        client.Push(code, std::move(text));
        // The rest of the line is unparseable.
        if (code <= -100 && code > -200) client.lineOpen = false;
    }

    // The unit waits until the device took `report`; `then` runs either way.
    void Write(const OutputReport& report,
               std::function<void(ScpiInstrument&, bool ok)> then = nullptr) {
        order = DeviceOrder{DeviceOrder::Kind::Write, report, {}, 0};
        client.pending = then ? std::move(then) : [](ScpiInstrument&, bool) {};
    }

    // A numeric parameter with an optional suffix from `units` (name, scale; "" = no suffix).
    std::optional<Unit> Numeric(const std::vector<std::pair<std::string_view, double>>& units) {
        const std::string upper = Upper(argument);
        for (const char* special : {"MIN", "MAX", "DEF"}) {
            const std::string_view s(special);
            if (upper == s || upper == (s == "MIN"   ? "MINIMUM"
                                        : s == "MAX" ? "MAXIMUM"
                                                     : "DEFAULT")) {
                return Unit{std::nullopt, std::string(s)};
            }
        }
        double value = 0;
        std::string_view suffix;
        if (!SplitDecimal(argument, value, suffix)) {
            Error(-104, "Data type error");
            return std::nullopt;
        }
        const std::string unit = Upper(suffix);
        for (const auto& [name, scale] : units) {
            if (unit == name) return Unit{value * scale, {}};
        }
        Error(-131, "Invalid suffix");
        return std::nullopt;
    }

    std::optional<bool> Boolean() {
        const std::string upper = Upper(argument);
        if (upper == "ON") return true;
        if (upper == "OFF") return false;
        double value = 0;
        std::string_view suffix;
        if (SplitDecimal(argument, value, suffix) && suffix.empty()) return std::lround(value) != 0;
        Error(-224, "Illegal parameter value");
        return std::nullopt;
    }
};

const std::vector<std::pair<std::string_view, double>> kHzUnits = {
    {"", 1}, {"HZ", 1}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"MAHZ", 1e6}};
const std::vector<std::pair<std::string_view, double>> kSecondUnits = {
    {"", 1}, {"S", 1}, {"MS", 1e-3}, {"US", 1e-6}};

// A frequency setting: the value in Hz, or empty after an error was queued.
std::optional<double> FrequencyArgument(Context& c, double defaultHz) {
    const auto unit = c.Numeric(kHzUnits);
    if (!unit) return std::nullopt;
    if (!unit->value) {
        return unit->special == "MIN" ? 0.0 : unit->special == "MAX" ? FrequencyLimitHz : defaultHz;
    }
    if (!(*unit->value >= 0 && *unit->value <= FrequencyLimitHz)) {
        c.Error(-222, "Data out of range");
        return std::nullopt;
    }
    return *unit->value;
}

struct Command {
    std::vector<Keyword> pattern;
    Param param;
    bool queryable;
    bool settable;
    std::function<void(Context&)> run;
};

std::string Bool(bool b) {
    return b ? "1" : "0";
}

// Sweeps from the settings now; a conflict among them leaves the instrument as it was.
void StartSweep(Context& c) {
    const auto planned = MakeSweepPlan(c.instrument.sweep);
    if (const auto* error = std::get_if<ParseError>(&planned)) {
        c.instrument.continuous = false;
        return c.Error(-221, "Settings conflict; " + error->message);
    }
    const std::uint64_t id = ++c.sweeps;
    c.instrument.sweeping = true;
    c.instrument.sweepId = id;
    c.order = DeviceOrder{DeviceOrder::Kind::Sweep, {}, std::get<SweepPlan>(planned), id};
    c.client.pending = [id](ScpiInstrument& i, bool ok) {
        if (!ok && i.sweepId == id) i.sweeping = false, i.continuous = false;
    };
}

std::vector<Command> MakeCommands() {
    const Keyword source{"SOURce", true};
    return {
        {{source, {"FREQuency"}, {"CW", true}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             if (c.query) {
                 c.client.answers.push_back(FormatNumber(TuningWordToHz(c.instrument.word)));
                 return;
             }
             const auto hz = FrequencyArgument(c, 1e6);
             if (!hz) return;
             const TuningWord word = ComputeTuningWord(*hz);
             if (c.instrument.output && !c.instrument.sweeping) {
                 return c.Write(BuildFrequencyReport(word), [word](ScpiInstrument& i, bool ok) {
                     if (ok) i.word = word;
                 });
             }
             c.instrument.word = word;
         }},
        {{source, {"FREQuency"}, {"STARt"}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             if (c.query)
                 return c.client.answers.push_back(FormatNumber(c.instrument.sweep.startHz));
             if (const auto hz = FrequencyArgument(c, 1e6)) c.instrument.sweep.startHz = *hz;
         }},
        {{source, {"FREQuency"}, {"STOP"}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             if (c.query)
                 return c.client.answers.push_back(FormatNumber(c.instrument.sweep.stopHz));
             if (const auto hz = FrequencyArgument(c, 10e6)) c.instrument.sweep.stopHz = *hz;
         }},
        {{source, {"SWEep"}, {"POINts"}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             if (c.query) {
                 return c.client.answers.push_back(
                     std::to_string(c.instrument.sweep.points.value_or(0)));
             }
             const auto unit = c.Numeric({{"", 1}});
             if (!unit) return;
             double points = unit->special == "MIN"   ? 2.0
                             : unit->special == "MAX" ? static_cast<double>(kMaxSweepPoints)
                             : unit->special == "DEF" ? 11.0
                                                      : std::round(unit->value.value_or(0));
             if (!(points >= 2 && points <= static_cast<double>(kMaxSweepPoints))) {
                 return c.Error(-222, "Data out of range");
             }
             c.instrument.sweep.points = static_cast<std::uint64_t>(points);
         }},
        {{source, {"SWEep"}, {"DWELl"}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             if (c.query)
                 return c.client.answers.push_back(FormatNumber(c.instrument.sweep.dwellSeconds));
             const auto unit = c.Numeric(kSecondUnits);
             if (!unit) return;
             const double seconds = unit->special == "MIN"   ? 1e-3
                                    : unit->special == "MAX" ? 86400.0
                                    : unit->special == "DEF" ? 0.01
                                                             : unit->value.value_or(0);
             if (!(seconds >= 1e-3 - 1e-12 && seconds <= 86400)) {
                 return c.Error(-222, "Data out of range");
             }
             c.instrument.sweep.dwellSeconds = seconds;
         }},
        {{source, {"SWEep"}, {"SPACing"}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             if (c.query)
                 return c.client.answers.push_back(c.instrument.sweep.logarithmic ? "LOG" : "LIN");
             const std::string upper = Upper(c.argument);
             if (upper == "LIN" || upper == "LINEAR")
                 c.instrument.sweep.logarithmic = false;
             else if (upper == "LOG" || upper == "LOGARITHMIC")
                 c.instrument.sweep.logarithmic = true;
             else
                 c.Error(-224, "Illegal parameter value");
         }},
        {{{"OUTPut"}, {"STATe", true}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             // A sweep switches the output on until it ends.
             if (c.query) {
                 return c.client.answers.push_back(
                     Bool(c.instrument.output || c.instrument.sweeping));
             }
             const auto on = c.Boolean();
             if (!on) return;
             if (*on && c.instrument.sweeping) {
                 c.instrument.output = true;  // the sweep returns to it
             } else if (*on) {
                 c.Write(BuildFrequencyReport(c.instrument.word), [](ScpiInstrument& i, bool ok) {
                     if (ok) i.output = true, i.suspended = false;
                 });
             } else {
                 // Nothing may be sent while OUTP? reads 0: off ends the sweep.
                 c.instrument.continuous = false;
                 c.instrument.sweeping = false;
                 c.Write(BuildStopReport(), [](ScpiInstrument& i, bool ok) {
                     if (ok) i.output = false, i.suspended = false;
                 });
             }
         }},
        {{{"INITiate"}, {"IMMediate", true}},
         Param::None,
         false,
         true,
         [](Context& c) {
             if (c.instrument.sweeping) return c.Error(-213, "Init ignored");
             StartSweep(c);
         }},
        {{{"INITiate"}, {"CONTinuous"}},
         Param::Required,
         true,
         true,
         [](Context& c) {
             if (c.query) return c.client.answers.push_back(Bool(c.instrument.continuous));
             const auto on = c.Boolean();
             if (!on) return;
             c.instrument.continuous = *on;
             if (*on && !c.instrument.sweeping) StartSweep(c);
         }},
        {{{"ABORt"}},
         Param::None,
         false,
         true,
         [](Context& c) {
             c.instrument.continuous = false;
             if (!c.instrument.sweeping) return;
             c.instrument.sweeping = false;
             c.Write(SteadyReport(c.instrument));
         }},
        {{{"SYSTem"}, {"SUSPend"}},
         Param::None,
         false,
         true,
         [](Context& c) {
             // The sweep ends first, so that the power-saving report is the last one.
             c.instrument.continuous = false;
             c.instrument.sweeping = false;
             c.Write(BuildPowerSavingReport(), [](ScpiInstrument& i, bool ok) {
                 if (ok) i.output = false, i.suspended = true;
             });
         }},
        {{{"SYSTem"}, {"ERRor"}, {"NEXT", true}},
         Param::None,
         true,
         false,
         [](Context& c) {
             if (c.client.errors.empty()) return c.client.answers.push_back("0,\"No error\"");
             const ScpiError e = c.client.errors.front();
             c.client.errors.pop_front();
             c.client.answers.push_back(std::to_string(e.code) + ",\"" + e.text + "\"");
         }},
        {{{"SYSTem"}, {"VERSion"}},
         Param::None,
         true,
         false,
         [](Context& c) { c.client.answers.push_back("1999.0"); }},
    };
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = MakeCommands();
    return commands;
}

void Reset(Context& c) {
    const bool wasOn = c.instrument.output || c.instrument.sweeping || c.instrument.suspended;
    const std::uint64_t sweepId = c.instrument.sweepId;
    c.instrument = ScpiInstrument{};
    c.instrument.sweepId = sweepId;
    if (wasOn) c.Write(BuildStopReport());
}

bool RunCommon(Context& c, const std::string& header, bool hasArgument) {
    const auto noArgument = [&] {
        if (hasArgument) c.Error(-108, "Parameter not allowed");
        return !hasArgument;
    };
    if (header == "*IDN?") {
        if (!noArgument()) return true;
        c.client.answers.push_back("TOVRIK,TOVRIK DDS,0," + c.version);
    } else if (header == "*RST") {
        if (noArgument()) Reset(c);
    } else if (header == "*CLS") {
        if (noArgument()) c.client.errors.clear(), c.client.esr = 0;
    } else if (header == "*OPC?") {
        if (noArgument()) c.client.answers.push_back("1");
    } else if (header == "*OPC") {
        if (noArgument()) c.client.esr |= 0x01;
    } else if (header == "*WAI") {
        noArgument();
    } else if (header == "*ESR?") {
        if (noArgument())
            c.client.answers.push_back(std::to_string(c.client.esr)), c.client.esr = 0;
    } else if (header == "*ESE?") {
        if (noArgument()) c.client.answers.push_back(std::to_string(c.client.ese));
    } else if (header == "*ESE") {
        double value = 0;
        std::string_view suffix;
        if (!SplitDecimal(c.argument, value, suffix) || !suffix.empty()) {
            c.Error(-104, "Data type error");
        } else if (!(value >= 0 && value <= 255)) {
            c.Error(-222, "Data out of range");
        } else {
            c.client.ese = static_cast<std::uint8_t>(std::lround(value));
        }
    } else if (header == "*STB?") {
        if (!noArgument()) return true;
        int stb = c.client.errors.empty() ? 0 : 0x04;
        if ((c.client.esr & c.client.ese) != 0) stb |= 0x20;
        c.client.answers.push_back(std::to_string(stb));
    } else {
        return false;
    }
    return true;
}

bool IsHeaderChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '*' || c == '?' ||
           c == '_';
}

void RunUnit(Context& c, std::string_view unit) {
    unit = Trim(unit);
    if (unit.empty()) return;
    std::size_t end = 0;
    while (end < unit.size() && IsHeaderChar(unit[end])) ++end;
    if (end < unit.size() && unit[end] != ' ' && unit[end] != '\t') {
        return c.Error(-102, "Syntax error");
    }
    std::string_view header = unit.substr(0, end);
    c.argument = Trim(unit.substr(end));
    const bool hasArgument = !c.argument.empty();
    if (header.empty()) return c.Error(-102, "Syntax error");
    if (header.front() == '*') {
        if (!RunCommon(c, Upper(header), hasArgument)) c.Error(-113, "Undefined header");
        return;
    }
    c.query = header.back() == '?';
    if (c.query) header.remove_suffix(1);
    if (header.find('?') != std::string_view::npos) return c.Error(-102, "Syntax error");
    const bool absolute = header.front() == ':';
    if (absolute) header.remove_prefix(1);
    std::vector<std::string_view> words;
    for (std::size_t from = 0;;) {
        const std::size_t colon = header.find(':', from);
        words.push_back(header.substr(from, colon - from));
        if (colon == std::string_view::npos) break;
        from = colon + 1;
    }
    for (const auto& w : words) {
        if (w.empty()) return c.Error(-102, "Syntax error");
    }
    // A header without a leading colon continues from the previous command's path.
    std::vector<std::vector<std::string_view>> tries;
    std::vector<std::string_view> prefixed;
    if (!absolute && !c.client.path.empty()) {
        std::string_view path = c.client.path;
        for (std::size_t from = 0;;) {
            const std::size_t colon = path.find(':', from);
            prefixed.push_back(path.substr(from, colon - from));
            if (colon == std::string_view::npos) break;
            from = colon + 1;
        }
        prefixed.insert(prefixed.end(), words.begin(), words.end());
        tries.push_back(prefixed);
    }
    tries.push_back(words);
    for (const auto& attempt : tries) {
        for (const Command& command : Commands()) {
            if (!Matches(command.pattern, 0, attempt, 0)) continue;
            if (c.query ? !command.queryable : !command.settable) {
                return c.Error(-113, "Undefined header");
            }
            if (c.query || command.param == Param::None) {
                if (hasArgument) return c.Error(-108, "Parameter not allowed");
            } else if (command.param == Param::Required && !hasArgument) {
                return c.Error(-109, "Missing parameter");
            }
            std::string path;
            for (std::size_t i = 0; i + 1 < attempt.size(); ++i) {
                path += (path.empty() ? "" : ":") + std::string(attempt[i]);
            }
            c.client.path = path;
            command.run(c);
            return;
        }
    }
    c.Error(-113, "Undefined header");
}

}  // namespace

OutputReport SteadyReport(const ScpiInstrument& instrument) {
    if (instrument.suspended) return BuildPowerSavingReport();
    return instrument.output ? BuildFrequencyReport(instrument.word) : BuildStopReport();
}

void ScpiEngine::Begin(ScpiClient& client, std::string_view line) {
    client.path.clear();  // every line starts at the root
    client.answers.clear();
    client.line.assign(line);
    client.next = 0;
    client.lineOpen = true;
    for (const char ch : line) {
        const auto u = static_cast<unsigned char>(ch);
        if (u >= 0x80 || (u < 0x20 && ch != '\t' && ch != '\r')) {
            client.Push(-100, "Command error");
            client.lineOpen = false;
            return;
        }
    }
}

std::optional<DeviceOrder> ScpiEngine::Step(ScpiClient& client) {
    if (!client.lineOpen || client.pending) return std::nullopt;
    const std::string_view line = client.line;
    std::size_t semicolon = line.find(';', client.next);
    if (semicolon == std::string_view::npos) semicolon = line.size();
    const std::string_view unit = line.substr(client.next, semicolon - client.next);
    client.next = semicolon + 1;
    if (client.next > line.size()) client.lineOpen = false;
    Context c{client, instrument_, version_, sweeps_, std::nullopt, false, {}};
    RunUnit(c, unit);
    return c.order;
}

void ScpiEngine::Finish(ScpiClient& client, const std::optional<ScpiError>& error) {
    if (!client.pending) return;
    const auto then = std::move(client.pending);
    client.pending = nullptr;
    then(instrument_, !error);
    if (error) client.Push(error->code, error->text);
}

std::string ScpiEngine::TakeResponse(ScpiClient& client) {
    std::string response;
    for (std::size_t i = 0; i < client.answers.size(); ++i) {
        response += (i == 0 ? "" : ";") + client.answers[i];
    }
    client.answers.clear();
    return response;
}

void ScpiEngine::SweepEnded(std::uint64_t sweepId) {
    if (instrument_.sweepId != sweepId) return;
    instrument_.sweeping = false;
    instrument_.continuous = false;
}

ScpiOutcome ScpiEngine::Execute(ScpiClient& client, std::string_view line) {
    Begin(client, line);
    while (!LineDone(client)) {
        const auto order = Step(client);
        if (!order) continue;
        Finish(client, device_ != nullptr ? device_->Carry(*order) : std::nullopt);
    }
    return {TakeResponse(client)};
}

}  // namespace tovrik::cli
