#include "cli/scpi.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <functional>
#include <vector>

namespace tovrik::cli {
namespace {

struct CodeText {
    ScpiCode code;
    std::string_view text;
};

constexpr std::array<CodeText, 15> kCodeTexts = {{
    {ScpiCode::CommandError, "Command error"},
    {ScpiCode::SyntaxError, "Syntax error"},
    {ScpiCode::DataTypeError, "Data type error"},
    {ScpiCode::ParameterNotAllowed, "Parameter not allowed"},
    {ScpiCode::MissingParameter, "Missing parameter"},
    {ScpiCode::UndefinedHeader, "Undefined header"},
    {ScpiCode::InvalidSuffix, "Invalid suffix"},
    {ScpiCode::InitIgnored, "Init ignored"},
    {ScpiCode::SettingsConflict, "Settings conflict"},
    {ScpiCode::DataOutOfRange, "Data out of range"},
    {ScpiCode::IllegalParameterValue, "Illegal parameter value"},
    {ScpiCode::HardwareError, "Hardware error"},
    {ScpiCode::HardwareMissing, "Hardware missing"},
    {ScpiCode::QueueOverflow, "Queue overflow"},
    {ScpiCode::InputBufferOverrun, "Input buffer overrun"},
}};

}  // namespace

ScpiError MakeError(ScpiCode code, std::string_view detail) {
    std::string text;
    for (const CodeText& entry : kCodeTexts) {
        if (entry.code == code) text = entry.text;
    }
    if (!detail.empty()) text += "; " + std::string(detail);
    return {static_cast<int>(code), std::move(text)};
}

void ScpiClient::Push(ScpiError error) {
    const int code = error.code;
    if (code <= -100 && code > -200)
        esr |= 0x20;  // command error
    else if (code <= -200 && code > -300)
        esr |= 0x10;  // execution error
    else if (code <= -300 && code > -400)
        esr |= 0x08;  // device-specific error
    else if (code <= -400 && code > -500)
        esr |= 0x04;  // query error
    if (errors.size() >= kErrorQueueSize) {
        errors.back() = MakeError(ScpiCode::QueueOverflow);
        return;
    }
    errors.push_back(std::move(error));
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

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// One header keyword: long form with the short form in capitals ("FREQuency").
struct Keyword {
    std::string_view form;
    bool optional = false;
    bool channel = false;  // takes the channel number as its suffix
};

// `suffix` receives a channel keyword's number; a bank has many, one TOVRIK only 1.
bool KeywordMatches(const Keyword& keyword, std::string_view input, bool bank, unsigned& suffix) {
    std::size_t digits = 0;
    while (digits < input.size() && IsDigit(input[input.size() - 1 - digits])) ++digits;
    if (digits > 0) {
        const std::string_view number = input.substr(input.size() - digits);
        if (keyword.channel && bank) {
            if (digits > 2 || number.front() == '0') return false;
            suffix = static_cast<unsigned>(std::stoul(std::string(number)));
        } else if (number != "1") {
            return false;
        } else {
            suffix = 1;
        }
        input.remove_suffix(digits);
    }
    const std::string_view form = keyword.form;
    std::string shortForm;
    for (const char c : form) {
        if (std::isupper(static_cast<unsigned char>(c))) shortForm += c;
    }
    const std::string upper = Upper(input);
    return upper == shortForm || upper == Upper(form);
}

// `suffix` receives the channel suffix of a match (0: none), untouched without a match.
bool Matches(const std::vector<Keyword>& pattern, std::size_t p,
             const std::vector<std::string_view>& words, std::size_t w, bool bank,
             unsigned& suffix) {
    if (p == pattern.size()) return w == words.size();
    if (pattern[p].optional && Matches(pattern, p + 1, words, w, bank, suffix)) return true;
    unsigned mine = 0;
    unsigned rest = 0;
    if (w >= words.size() || !KeywordMatches(pattern[p], words[w], bank, mine) ||
        !Matches(pattern, p + 1, words, w + 1, bank, rest)) {
        return false;
    }
    suffix = pattern[p].channel && mine != 0 ? mine : rest;
    return true;
}

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

// SCPI decimal numeric data: [+-]digits[.digits][E[+-]digits], then an optional suffix.
// Beyond a double's range a value is infinite; below its resolution, zero.
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

enum class Param { Required, Optional, None };

// The named values a numeric parameter may take instead of a number.
enum class Special { None, Min, Max, Def };

struct NamedSpecial {
    std::string_view shortName, longName;
    Special special;
};
constexpr std::array<NamedSpecial, 3> kSpecials = {{
    {"MIN", "MINIMUM", Special::Min},
    {"MAX", "MAXIMUM", Special::Max},
    {"DEF", "DEFAULT", Special::Def},
}};

Special ParseSpecial(std::string_view text) {
    const std::string upper = Upper(text);
    for (const NamedSpecial& s : kSpecials) {
        if (upper == s.shortName || upper == s.longName) return s.special;
    }
    return Special::None;
}

// The range of a numeric setting, which MIN, MAX and DEF name.
struct Range {
    double min, max, def;
    double Pick(Special s) const { return s == Special::Min ? min : s == Special::Max ? max : def; }
};

struct Unit {
    double value = 0;
    Special special = Special::None;
};

using Units = std::vector<std::pair<std::string_view, double>>;

struct Context {
    ScpiClient& client;
    std::vector<ScpiChannel>& channels;
    bool bank;
    std::uint64_t& sweeps;
    std::optional<DeviceOrder> order;
    std::string_view argument;
    unsigned channel = 1;  // the one the command addresses

    ScpiInstrument& in() { return channels.at(channel - 1).instrument; }

    void Error(ScpiCode code, std::string_view detail = {}) {
        client.Push(code, detail);
        // The rest of the line is unparseable.
        const int n = static_cast<int>(code);
        if (n <= -100 && n > -200) client.lineOpen = false;
    }

    void Answer(std::string text) { client.answers.push_back(std::move(text)); }

    // The unit waits until the device took `report`; `then` runs either way.
    void Write(const OutputReport& report,
               std::function<void(ScpiInstrument&, bool ok)> then = nullptr) {
        order = DeviceOrder{DeviceOrder::Kind::Write, report, {}, 0, channel};
        client.pending = then ? std::move(then) : [](ScpiInstrument&, bool) {};
        client.pendingChannel = channel;
    }

    // A numeric parameter with an optional suffix from `units` (name, scale; "" = no suffix).
    std::optional<Unit> Numeric(const Units& units) {
        if (const Special special = ParseSpecial(argument); special != Special::None) {
            return Unit{0, special};
        }
        double value = 0;
        std::string_view suffix;
        if (!SplitDecimal(argument, value, suffix)) {
            Error(ScpiCode::DataTypeError);
            return std::nullopt;
        }
        const std::string unit = Upper(suffix);
        for (const auto& [name, scale] : units) {
            if (unit == name) return Unit{value * scale};
        }
        Error(ScpiCode::InvalidSuffix);
        return std::nullopt;
    }

    // A numeric setting within `range`, MIN/MAX/DEF included; empty after an error.
    std::optional<double> Setting(const Units& units, const Range& range, double tolerance = 0) {
        const auto unit = Numeric(units);
        if (!unit) return std::nullopt;
        if (unit->special != Special::None) return range.Pick(unit->special);
        if (!(unit->value >= range.min - tolerance && unit->value <= range.max)) {
            Error(ScpiCode::DataOutOfRange);
            return std::nullopt;
        }
        return unit->value;
    }

    std::optional<bool> Boolean() {
        const std::string upper = Upper(argument);
        if (upper == "ON") return true;
        if (upper == "OFF") return false;
        double value = 0;
        std::string_view suffix;
        if (SplitDecimal(argument, value, suffix) && suffix.empty()) return std::lround(value) != 0;
        Error(ScpiCode::IllegalParameterValue);
        return std::nullopt;
    }
};

const Units kHzUnits = {{"", 1}, {"HZ", 1}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"MAHZ", 1e6}};
const Units kSecondUnits = {{"", 1}, {"S", 1}, {"MS", 1e-3}, {"US", 1e-6}};
const Units kNoUnits = {{"", 1}};

constexpr Range kCwRange{0, FrequencyLimitHz, kDefaultFrequencyHz};
constexpr Range kStartRange{0, FrequencyLimitHz, kDefaultStartHz};
constexpr Range kStopRange{0, FrequencyLimitHz, kDefaultStopHz};
constexpr Range kPointsRange{static_cast<double>(kMinSweepPoints),
                             static_cast<double>(kMaxSweepPoints),
                             static_cast<double>(kDefaultSweepPoints)};
constexpr Range kDwellRange{kMinDwellSeconds, kMaxDwellSeconds, kDefaultDwellSeconds};

std::string Bool(bool b) {
    return b ? "1" : "0";
}

std::string FrequencyText(TuningWord word) {
    return FormatNumber(TuningWordToHz(word));
}

// Sweeps from the settings now; a conflict among them leaves the instrument as it was.
void StartSweep(Context& c) {
    const auto planned = MakeSweepPlan(c.in().sweep);
    if (const auto* error = std::get_if<ParseError>(&planned)) {
        c.in().continuous = false;
        return c.Error(ScpiCode::SettingsConflict, error->message);
    }
    const std::uint64_t id = ++c.sweeps;
    c.in().sweeping = true;
    c.in().sweepId = id;
    c.order =
        DeviceOrder{DeviceOrder::Kind::Sweep, {}, std::get<SweepPlan>(planned), id, c.channel};
    c.client.pendingChannel = c.channel;
    c.client.pending = [id](ScpiInstrument& i, bool ok) {
        if (!ok && i.sweepId == id) i.sweeping = false, i.continuous = false;
    };
}

// ---------------------------------------------------------------------------------------------
// Set handlers

void SetFrequency(Context& c) {
    const auto hz = c.Setting(kHzUnits, kCwRange);
    if (!hz) return;
    const TuningWord word = ComputeTuningWord(*hz);
    if (c.in().output && !c.in().sweeping) {
        return c.Write(BuildFrequencyReport(word), [word](ScpiInstrument& i, bool ok) {
            if (ok) i.word = word;
        });
    }
    c.in().word = word;
}

void SetStart(Context& c) {
    if (const auto hz = c.Setting(kHzUnits, kStartRange)) c.in().sweep.startHz = *hz;
}

void SetStop(Context& c) {
    if (const auto hz = c.Setting(kHzUnits, kStopRange)) c.in().sweep.stopHz = *hz;
}

void SetPoints(Context& c) {
    const auto unit = c.Numeric(kNoUnits);
    if (!unit) return;
    const double points =
        unit->special != Special::None ? kPointsRange.Pick(unit->special) : std::round(unit->value);
    if (!(points >= kPointsRange.min && points <= kPointsRange.max)) {
        return c.Error(ScpiCode::DataOutOfRange);
    }
    c.in().sweep.points = static_cast<std::uint64_t>(points);
}

void SetDwell(Context& c) {
    if (const auto s = c.Setting(kSecondUnits, kDwellRange, kDwellTolerance)) {
        c.in().sweep.dwellSeconds = *s;
    }
}

void SetSpacing(Context& c) {
    const std::string upper = Upper(c.argument);
    if (upper == "LIN" || upper == "LINEAR") {
        c.in().sweep.logarithmic = false;
    } else if (upper == "LOG" || upper == "LOGARITHMIC") {
        c.in().sweep.logarithmic = true;
    } else {
        c.Error(ScpiCode::IllegalParameterValue);
    }
}

void SetOutput(Context& c) {
    const auto on = c.Boolean();
    if (!on) return;
    if (*on && c.in().sweeping) {
        // The sweep returns to it, out of power saving too.
        c.in().output = true;
        c.in().suspended = false;
    } else if (*on) {
        c.Write(BuildFrequencyReport(c.in().word), [](ScpiInstrument& i, bool ok) {
            if (ok) i.output = true, i.suspended = false;
        });
    } else {
        // Nothing may be sent while OUTP? reads 0: off ends the sweep.
        c.in().continuous = false;
        c.in().sweeping = false;
        c.Write(BuildStopReport(), [](ScpiInstrument& i, bool ok) {
            if (ok) i.output = false, i.suspended = false;
        });
    }
}

void Initiate(Context& c) {
    if (c.in().sweeping) return c.Error(ScpiCode::InitIgnored);
    StartSweep(c);
}

void SetContinuous(Context& c) {
    const auto on = c.Boolean();
    if (!on) return;
    c.in().continuous = *on;
    if (*on && !c.in().sweeping) StartSweep(c);
}

void Abort(Context& c) {
    c.in().continuous = false;
    if (!c.in().sweeping) return;
    c.in().sweeping = false;
    c.Write(SteadyReport(c.in()));
}

void Suspend(Context& c) {
    // The sweep ends first, so that the power-saving report is the last one.
    c.in().continuous = false;
    c.in().sweeping = false;
    c.Write(BuildPowerSavingReport(), [](ScpiInstrument& i, bool ok) {
        if (ok) i.output = false, i.suspended = true;
    });
}

void Reset(Context& c) {
    const bool wasOn = c.in().output || c.in().sweeping || c.in().suspended;
    const std::uint64_t sweepId = c.in().sweepId;
    c.in() = ScpiInstrument{};
    c.in().sweepId = sweepId;
    if (wasOn) c.Write(BuildStopReport());
}

void ClearStatus(Context& c) {
    c.client.errors.clear();
    c.client.esr = 0;
}

void SetEventEnable(Context& c) {
    double value = 0;
    std::string_view suffix;
    if (!SplitDecimal(c.argument, value, suffix) || !suffix.empty()) {
        c.Error(ScpiCode::DataTypeError);
    } else if (!(value >= 0 && value <= 255)) {
        c.Error(ScpiCode::DataOutOfRange);
    } else {
        c.client.ese = static_cast<std::uint8_t>(std::lround(value));
    }
}

// ---------------------------------------------------------------------------------------------
// Query handlers

void QueryFrequency(Context& c) {
    c.Answer(FrequencyText(c.in().word));
}
void QueryStart(Context& c) {
    c.Answer(FormatNumber(c.in().sweep.startHz));
}
void QueryStop(Context& c) {
    c.Answer(FormatNumber(c.in().sweep.stopHz));
}
void QueryPoints(Context& c) {
    c.Answer(std::to_string(c.in().sweep.points.value_or(0)));
}
void QueryDwell(Context& c) {
    c.Answer(FormatNumber(c.in().sweep.dwellSeconds));
}
void QuerySpacing(Context& c) {
    c.Answer(c.in().sweep.logarithmic ? "LOG" : "LIN");
}
// A sweep switches the output on until it ends.
void QueryOutput(Context& c) {
    c.Answer(Bool(c.in().output || c.in().sweeping));
}
void QueryContinuous(Context& c) {
    c.Answer(Bool(c.in().continuous));
}
void QueryError(Context& c) {
    if (c.client.errors.empty()) return c.Answer("0,\"No error\"");
    const ScpiError e = c.client.errors.front();
    c.client.errors.pop_front();
    c.Answer(std::to_string(e.code) + ",\"" + e.text + "\"");
}
void QueryVersion(Context& c) {
    c.Answer("1999.0");
}
void QueryIdentity(Context& c) {
    const ScpiChannel* first = c.channels.empty() ? nullptr : &c.channels.front();
    const std::optional<std::string> version = first ? first->version : std::nullopt;
    const std::string serial = first && !first->name.empty() ? first->name : "0";
    c.Answer("TOVRIK,TOVRIK DDS," + serial + "," + version.value_or("unknown"));
    if (!version) c.Error(ScpiCode::HardwareError, "the firmware version could not be read");
}
void SelectChannel(Context& c) {
    const auto unit = c.Numeric(kNoUnits);
    if (!unit) return;
    const double known =
        c.bank ? static_cast<double>(std::max<std::size_t>(c.channels.size(), 1)) : 1.0;
    const Range range{1, known, 1};
    const double n =
        unit->special != Special::None ? range.Pick(unit->special) : std::round(unit->value);
    if (!(n >= range.min && n <= range.max)) return c.Error(ScpiCode::DataOutOfRange);
    c.client.channel = static_cast<unsigned>(n);
}
void QuerySelected(Context& c) {
    c.Answer(std::to_string(c.client.channel));
}
// "<name>",<n> for every channel whose device is there; "" for none.
void QueryCatalog(Context& c) {
    std::string text;
    for (std::size_t i = 0; i < c.channels.size(); ++i) {
        if (!c.channels[i].present) continue;
        text += (text.empty() ? "\"" : ",\"") + c.channels[i].name + "\"," + std::to_string(i + 1);
    }
    c.Answer(text.empty() ? "\"\"" : text);
}
void QueryOperationComplete(Context& c) {
    c.Answer("1");
}
void QueryEventStatus(Context& c) {
    c.Answer(std::to_string(c.client.esr));
    c.client.esr = 0;
}
void QueryEventEnable(Context& c) {
    c.Answer(std::to_string(c.client.ese));
}
void QueryStatusByte(Context& c) {
    int stb = c.client.errors.empty() ? 0 : 0x04;
    if ((c.client.esr & c.client.ese) != 0) stb |= 0x20;
    c.Answer(std::to_string(stb));
}

using Handler = void (*)(Context&);

struct Command {
    std::vector<Keyword> pattern;  // a common command: one keyword, "*" and its letters
    Param param;                   // of the set form
    Handler set;                   // null: there is no set form
    Handler query;                 // null: there is no query form
    // Where the query takes MIN, MAX or DEF: the range and how its values are answered.
    const Range* range = nullptr;
    std::string (*format)(double) = nullptr;
};

std::string FormatFrequency(double hz) {
    return FrequencyText(ComputeTuningWord(hz));
}
std::string FormatCount(double n) {
    return std::to_string(static_cast<std::uint64_t>(n));
}

const std::vector<Command>& Commands() {
    const Keyword source{"SOURce", true, true};
    static const std::vector<Command> commands = {
        {{source, {"FREQuency"}, {"CW", true}},
         Param::Required,
         SetFrequency,
         QueryFrequency,
         &kCwRange,
         FormatFrequency},
        {{source, {"FREQuency"}, {"STARt"}},
         Param::Required,
         SetStart,
         QueryStart,
         &kStartRange,
         FormatNumber},
        {{source, {"FREQuency"}, {"STOP"}},
         Param::Required,
         SetStop,
         QueryStop,
         &kStopRange,
         FormatNumber},
        {{source, {"SWEep"}, {"POINts"}},
         Param::Required,
         SetPoints,
         QueryPoints,
         &kPointsRange,
         FormatCount},
        {{source, {"SWEep"}, {"DWELl"}},
         Param::Required,
         SetDwell,
         QueryDwell,
         &kDwellRange,
         FormatNumber},
        {{source, {"SWEep"}, {"SPACing"}}, Param::Required, SetSpacing, QuerySpacing},
        {{{"OUTPut", false, true}, {"STATe", true}}, Param::Required, SetOutput, QueryOutput},
        {{{"INITiate", false, true}, {"IMMediate", true}}, Param::None, Initiate, nullptr},
        {{{"INITiate", false, true}, {"CONTinuous"}},
         Param::Required,
         SetContinuous,
         QueryContinuous},
        {{{"ABORt", false, true}}, Param::None, Abort, nullptr},
        {{{"SYSTem"}, {"SUSPend", false, true}}, Param::None, Suspend, nullptr},
        {{{"INSTrument"}, {"NSELect"}}, Param::Required, SelectChannel, QuerySelected},
        {{{"INSTrument"}, {"CATalog"}, {"FULL"}}, Param::None, nullptr, QueryCatalog},
        {{{"SYSTem"}, {"ERRor"}, {"NEXT", true}}, Param::None, nullptr, QueryError},
        {{{"SYSTem"}, {"VERSion"}}, Param::None, nullptr, QueryVersion},
        {{{"*IDN"}}, Param::None, nullptr, QueryIdentity},
        {{{"*RST"}}, Param::None, Reset, nullptr},
        {{{"*CLS"}}, Param::None, ClearStatus, nullptr},
        {{{"*OPC"}}, Param::None, [](Context& c) { c.client.esr |= 0x01; }, QueryOperationComplete},
        {{{"*WAI"}}, Param::None, [](Context&) {}, nullptr},
        {{{"*ESR"}}, Param::None, nullptr, QueryEventStatus},
        // An empty *ESE is a data type error, as it always was, not a missing parameter.
        {{{"*ESE"}}, Param::Optional, SetEventEnable, QueryEventEnable},
        {{{"*STB"}}, Param::None, nullptr, QueryStatusByte},
    };
    return commands;
}

bool IsCommon(const Command& command) {
    return command.pattern.front().form.front() == '*';
}

// Whether the command acts on one channel: those that take its number, and *RST.
bool OnChannel(const Command& command) {
    return command.set == Reset || std::any_of(command.pattern.begin(), command.pattern.end(),
                                               [](const Keyword& k) { return k.channel; });
}

// The channel a command addresses must be there: -241 and nothing else when it is not. A
// query of a channel that is away answers the settings it keeps.
bool ReachChannel(Context& c, const Command& command, unsigned suffix, bool query) {
    if (!OnChannel(command)) return true;
    c.channel = suffix != 0 ? suffix : c.client.channel;
    const bool known = c.channel >= 1 && c.channel <= c.channels.size();
    if (known && (query || c.channels[c.channel - 1].present)) return true;
    // With one TOVRIK there is no channel to name.
    c.Error(ScpiCode::HardwareMissing,
            c.bank ? "no TOVRIK on channel " + std::to_string(c.channel) : std::string());
    return false;
}

// Runs `command` (its header matched) with the unit's argument.
void Run(Context& c, const Command& command, bool query) {
    const bool hasArgument = !c.argument.empty();
    const Handler handler = query ? command.query : command.set;
    if (handler == nullptr) return c.Error(ScpiCode::UndefinedHeader);
    if (query && hasArgument) {
        const Special special = ParseSpecial(c.argument);
        if (command.range == nullptr || special == Special::None) {
            return c.Error(ScpiCode::ParameterNotAllowed);
        }
        return c.Answer(command.format(command.range->Pick(special)));
    }
    if (!query && command.param == Param::None && hasArgument) {
        return c.Error(ScpiCode::ParameterNotAllowed);
    }
    if (!query && command.param == Param::Required && !hasArgument) {
        return c.Error(ScpiCode::MissingParameter);
    }
    handler(c);
}

bool IsHeaderChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '*' || c == '?' ||
           c == '_';
}

std::vector<std::string_view> SplitPath(std::string_view header) {
    std::vector<std::string_view> words;
    for (std::size_t from = 0;;) {
        const std::size_t colon = header.find(':', from);
        words.push_back(header.substr(from, colon - from));
        if (colon == std::string_view::npos) return words;
        from = colon + 1;
    }
}

// A common command: its header exactly, never relative to a path, which it leaves alone.
void RunCommon(Context& c, std::string_view header) {
    std::string upper = Upper(header);
    const bool query = !upper.empty() && upper.back() == '?';
    if (query) upper.pop_back();
    for (const Command& command : Commands()) {
        if (IsCommon(command) && command.pattern.front().form == upper) {
            if (!ReachChannel(c, command, 0, query)) return;
            return Run(c, command, query);
        }
    }
    c.Error(ScpiCode::UndefinedHeader);
}

void RunUnit(Context& c, std::string_view unit) {
    unit = Trim(unit);
    if (unit.empty()) return;
    std::size_t end = 0;
    while (end < unit.size() && IsHeaderChar(unit[end])) ++end;
    if (end < unit.size() && unit[end] != ' ' && unit[end] != '\t') {
        return c.Error(ScpiCode::SyntaxError);
    }
    std::string_view header = unit.substr(0, end);
    c.argument = Trim(unit.substr(end));
    if (header.empty()) return c.Error(ScpiCode::SyntaxError);
    if (header.front() == '*') return RunCommon(c, header);
    const bool query = header.back() == '?';
    if (query) header.remove_suffix(1);
    if (header.find('?') != std::string_view::npos) return c.Error(ScpiCode::SyntaxError);
    const bool absolute = header.front() == ':';
    if (absolute) header.remove_prefix(1);
    const std::vector<std::string_view> words = SplitPath(header);
    for (const auto& w : words) {
        if (w.empty()) return c.Error(ScpiCode::SyntaxError);
    }
    // A header without a leading colon continues from the previous command's path.
    std::vector<std::vector<std::string_view>> tries;
    if (!absolute && !c.client.path.empty()) {
        std::vector<std::string_view> prefixed = SplitPath(c.client.path);
        prefixed.insert(prefixed.end(), words.begin(), words.end());
        tries.push_back(std::move(prefixed));
    }
    tries.push_back(words);
    for (const auto& attempt : tries) {
        for (const Command& command : Commands()) {
            unsigned suffix = 0;
            if (IsCommon(command) || !Matches(command.pattern, 0, attempt, 0, c.bank, suffix)) {
                continue;
            }
            if ((query ? command.query : command.set) == nullptr) {
                return c.Error(ScpiCode::UndefinedHeader);
            }
            std::string path;
            for (std::size_t i = 0; i + 1 < attempt.size(); ++i) {
                path += (path.empty() ? "" : ":") + std::string(attempt[i]);
            }
            c.client.path = path;
            if (!ReachChannel(c, command, suffix, query)) return;
            return Run(c, command, query);
        }
    }
    c.Error(ScpiCode::UndefinedHeader);
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
            client.Push(ScpiCode::CommandError);
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
    Context c{client, channels_, bank_, sweeps_, std::nullopt, {}};
    RunUnit(c, unit);
    return c.order;
}

void ScpiEngine::Finish(ScpiClient& client, const std::optional<ScpiError>& error) {
    if (!client.pending) return;
    const auto then = std::move(client.pending);
    client.pending = nullptr;
    then(instrument(client.pendingChannel), !error);
    if (error) client.Push(*error);
}

std::string ScpiEngine::TakeResponse(ScpiClient& client) {
    std::string response;
    for (std::size_t i = 0; i < client.answers.size(); ++i) {
        response += (i == 0 ? "" : ";") + client.answers[i];
    }
    client.answers.clear();
    return response;
}

void ScpiEngine::SweepEnded(std::uint64_t sweepId, unsigned channel) {
    ScpiInstrument& i = instrument(channel);
    if (i.sweepId != sweepId) return;
    i.sweeping = false;
    i.continuous = false;
}

unsigned ScpiEngine::Arrive(const std::string& name, std::optional<std::string> version) {
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        if (channels_[i].name != name) continue;
        channels_[i].present = true;
        if (version) channels_[i].version = std::move(version);
        return static_cast<unsigned>(i + 1);
    }
    ScpiChannel channel;
    channel.name = name;
    channel.version = std::move(version);
    channels_.push_back(std::move(channel));
    return static_cast<unsigned>(channels_.size());
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
