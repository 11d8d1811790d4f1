// The SCPI engine: matches headers against the command table, runs a line one unit at a time,
// keeps each client's error queue and status.
#include "cli/scpi.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "cli/scpi_commands.h"
#include "cli/scpi_language.h"
#include "cli/sdg_dialect.h"

namespace tovrik::cli {

ScpiError MakeError(ScpiCode code, std::string_view detail) {
    std::string text(StandardText(code));
    if (!detail.empty()) text += "; " + std::string(detail);
    return {static_cast<int>(code), std::move(text)};
}

void ScpiClient::Push(ScpiError error) {
    if (const auto klass = ClassOf(error.code)) esr |= klass->esrBit;
    if (errors.size() >= kErrorQueueSize) {
        errors.back() = MakeError(ScpiCode::QueueOverflow);
        return;
    }
    errors.push_back(std::move(error));
}

namespace scpi {

void Context::Error(ScpiCode code, std::string_view detail) {
    failed = true;
    client.Push(code, detail);
    // After a command error the rest of the line is unparseable.
    const auto klass = ClassOf(static_cast<int>(code));
    if (klass && klass->id == ScpiClass::Command) client.lineOpen = false;
}

void Context::Write(const OutputReport& report,
                    std::function<void(ScpiInstrument&, bool ok)> then) {
    order = DeviceOrder{DeviceOrder::Kind::Write, report, {}, 0, channel};
    client.pending = then ? std::move(then) : [](ScpiInstrument&, bool) {};
    client.pendingChannel = channel;
}

std::optional<Unit> Context::Numeric(Units units) {
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

std::optional<double> Context::Setting(Units units, const Range& range, double tolerance) {
    const auto unit = Numeric(units);
    if (!unit) return std::nullopt;
    if (unit->special != Special::None) return range.Pick(unit->special);
    if (!(unit->value >= range.min - tolerance && unit->value <= range.max)) {
        Error(ScpiCode::DataOutOfRange);
        return std::nullopt;
    }
    return unit->value;
}

std::optional<bool> Context::Boolean() {
    const std::string upper = Upper(argument);
    if (upper == "ON") return true;
    if (upper == "OFF") return false;
    double value = 0;
    std::string_view suffix;
    // Rounded as a double: lround of a huge value has no defined result.
    if (SplitDecimal(argument, value, suffix) && suffix.empty()) return std::round(value) != 0;
    Error(ScpiCode::IllegalParameterValue);
    return std::nullopt;
}

namespace {

// A keyword's long form with its short form in capitals, against upper-case text.
bool FormMatches(std::string_view form, const std::string& upper) {
    std::string shortForm;
    for (const char c : form) {
        if (std::isupper(static_cast<unsigned char>(c))) shortForm += c;
    }
    return upper == shortForm || upper == Upper(form);
}

}  // namespace

std::optional<std::size_t> Context::Choice(std::initializer_list<std::string_view> choices) {
    const std::string upper = Upper(argument);
    std::size_t i = 0;
    for (const std::string_view form : choices) {
        if (FormMatches(form, upper)) return i;
        ++i;
    }
    Error(ScpiCode::IllegalParameterValue);
    return std::nullopt;
}

namespace {

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
    return FormMatches(keyword.form, Upper(input));
}

// `suffix` receives the channel suffix of a match (0: none), untouched without a match.
bool Matches(const Pattern& pattern, std::size_t p, const std::vector<std::string_view>& words,
             std::size_t w, bool bank, unsigned& suffix) {
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

// The channel a command addresses must be there: -241 and nothing else when it is not. A
// query of a channel that is away answers the settings it keeps.
bool ReachChannel(Context& c, const Command& command, unsigned suffix, bool query) {
    if (!command.OnChannel()) return true;
    return Reach(c, suffix != 0 ? suffix : c.client.channel, query);
}

}  // namespace

bool Reach(Context& c, unsigned channel, bool query) {
    c.channel = channel;
    const bool known = c.channel >= 1 && c.channel <= c.channels.size();
    if (known && (query || c.channels[c.channel - 1].present)) return true;
    // With one TOVRIK there is no channel to name.
    c.Error(ScpiCode::HardwareMissing,
            c.bank ? "no TOVRIK on channel " + std::to_string(c.channel) : std::string());
    return false;
}

namespace {

// Runs `command` (its header matched) with the unit's argument.
void Run(Context& c, const Command& command, bool query) {
    const bool hasArgument = !c.argument.empty();
    const Handler handler = query ? command.query : command.set;
    if (handler == nullptr) return c.Error(ScpiCode::UndefinedHeader);
    if (query && hasArgument) {
        const Special special = ParseSpecial(c.argument);
        if (command.limits == nullptr || special == Special::None) {
            return c.Error(ScpiCode::ParameterNotAllowed);
        }
        return c.Answer(command.limits->format(command.limits->range.Pick(special)));
    }
    if (!query && command.param == Param::None && hasArgument) {
        return c.Error(ScpiCode::ParameterNotAllowed);
    }
    if (!query && command.param == Param::Required && !hasArgument) {
        return c.Error(ScpiCode::MissingParameter);
    }
    handler(c);
}

// A common command: its header exactly, never relative to a path, which it leaves alone.
void RunCommon(Context& c, std::string_view header) {
    std::string upper = Upper(header);
    const bool query = !upper.empty() && upper.back() == '?';
    if (query) upper.pop_back();
    for (const Command& command : Commands()) {
        if (command.IsCommon() && command.pattern.front().form == upper) {
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
            if (command.IsCommon() || !Matches(command.pattern, 0, attempt, 0, c.bank, suffix)) {
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
}  // namespace scpi

using scpi::Context;

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
    if (!client.lineOpen || client.pending || client.waitFor) return std::nullopt;
    const std::string_view line = client.line;
    std::size_t semicolon = line.find(';', client.next);
    if (semicolon == std::string_view::npos) semicolon = line.size();
    const std::string_view unit = line.substr(client.next, semicolon - client.next);
    client.next = semicolon + 1;
    if (client.next > line.size()) client.lineOpen = false;
    Context c{client, channels_, bank_, sweeps_, std::nullopt, {}};
    c.store = store_;
    if (client.dialect != Dialect::Sdg || !sdg::RunUnit(c, unit)) scpi::RunUnit(c, unit);
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

bool ScpiEngine::ReleaseWait(ScpiClient& client) {
    if (!client.waitFor) return false;
    const auto [channel, id] = *client.waitFor;
    const ScpiInstrument& i = instrument(channel);
    if (i.sweeping && i.sweepId == id) return false;
    client.waitFor.reset();
    return true;
}

std::uint8_t StatusByte(const ScpiClient& client) {
    std::uint8_t stb = client.errors.empty() ? 0 : 0x04;
    if (!client.answers.empty()) stb |= 0x10;  // MAV: this line has answers waiting
    if ((client.esr & client.ese) != 0) stb |= 0x20;
    if ((stb & client.sre) != 0) stb |= 0x40;
    return stb;
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
        client.waitFor.reset();  // no sweep ends while this line runs
        const auto order = Step(client);
        if (!order) continue;
        Finish(client, device_ != nullptr ? device_->Carry(*order) : std::nullopt);
    }
    return {TakeResponse(client)};
}

}  // namespace tovrik::cli
