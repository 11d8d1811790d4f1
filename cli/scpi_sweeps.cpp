// Frequency modes, sweeps, lists and triggers as bench generators' drivers send them.
#include <algorithm>
#include <cmath>
#include <variant>

#include "cli/scpi_handlers.h"

namespace tovrik::cli::scpi {
namespace {

constexpr Range kFrequencyRange{0, FrequencyLimitHz, kDefaultFrequencyHz};
constexpr Range kDwellRange{kMinDwellSeconds, kMaxDwellSeconds, kDefaultDwellSeconds};

std::string JoinNumbers(const std::vector<double>& values) {
    std::string text;
    for (const double v : values) text += (text.empty() ? "" : ",") + FormatNumber(v);
    return text;
}

// "a,b,c", each value a setting within `range`; empty after an error (nothing changes).
std::optional<std::vector<double>> NumberList(Context& c, Units units, const Range& range,
                                              double tolerance) {
    const std::string_view whole = c.argument;
    std::vector<double> values;
    for (const std::string_view item : SplitList(whole)) {
        if (values.size() == kMaxListPoints) {
            c.argument = whole;
            c.Error(ScpiCode::DataOutOfRange, "at most 10,000 points");
            return std::nullopt;
        }
        c.argument = item;
        const auto value = c.Setting(units, range, tolerance);
        if (!value) return std::nullopt;
        values.push_back(*value);
    }
    c.argument = whole;
    return values;
}

// The sweep request as the plan wants it: DOWN runs from stop to start.
SweepRequest Directed(const ScpiInstrument& i) {
    SweepRequest r = i.sweep;
    if (i.down) std::swap(r.startHz, r.stopHz);
    r.repeats = 1;  // the worker repeats a continuous sweep itself
    return r;
}

// Center and span move start and stop together, clipped so that both stay in range.
void SetCenterSpan(ScpiInstrument& i, double center, double span) {
    const double half = std::min(std::fabs(span) / 2, std::min(center, FrequencyLimitHz - center));
    const double sign = span < 0 ? -1 : 1;
    i.sweep.startHz = center - sign * half;
    i.sweep.stopHz = center + sign * half;
}

}  // namespace

void StartSweep(Context& c) {
    ScpiInstrument& i = c.in();
    const auto planned = i.mode == FrequencyMode::List
                             ? MakeListPlan(i.listHz, i.listDwell, i.listDown)
                             : MakeSweepPlan(Directed(i));
    if (const auto* error = std::get_if<ParseError>(&planned)) {
        i.continuous = false;
        return c.Error(ScpiCode::SettingsConflict, error->message);
    }
    const std::uint64_t id = ++c.sweeps;
    i.sweeping = true;
    i.sweepId = id;
    c.order =
        DeviceOrder{DeviceOrder::Kind::Sweep, {}, std::get<SweepPlan>(planned), id, c.channel};
    c.client.pendingChannel = c.channel;
    c.client.pending = [id](ScpiInstrument& in, bool ok) {
        if (!ok && in.sweepId == id) in.sweeping = false, in.continuous = false;
    };
}

void Initiate(Context& c) {
    if (c.in().sweeping) return c.Error(ScpiCode::InitIgnored);
    if (c.in().busTrigger) return;  // armed: *TRG starts it
    StartSweep(c);
}

void SetContinuous(Context& c) {
    const auto on = c.Boolean();
    if (!on) return;
    c.in().continuous = *on;
    if (*on && !c.in().sweeping && !c.in().busTrigger) StartSweep(c);
}

void Trigger(Context& c) {
    if (!c.in().busTrigger) return c.Error(ScpiCode::TriggerIgnored, "TRIG:SOUR is not BUS");
    if (c.in().sweeping) return c.Error(ScpiCode::TriggerIgnored, "a sweep runs");
    StartSweep(c);
}

// Completes once the selected channel's single sweep has ended; a continuous one never does.
void Wait(Context& c) {
    const unsigned channel = c.client.channel;
    if (channel < 1 || channel > c.channels.size()) return;
    const ScpiInstrument& i = c.channels[channel - 1].instrument;
    if (i.sweeping && !i.continuous) c.client.waitFor = ScpiClient::SweepWait{channel, i.sweepId};
}

void QueryOperationComplete(Context& c) {
    Wait(c);
    c.Answer("1");
}

void SetMode(Context& c) {
    static constexpr FrequencyMode kModes[] = {FrequencyMode::Cw, FrequencyMode::Cw,
                                               FrequencyMode::Sweep, FrequencyMode::List};
    if (const auto k = c.Choice({"CW", "FIXed", "SWEep", "LIST"})) c.in().mode = kModes[*k];
}

void QueryMode(Context& c) {
    static constexpr const char* kNames[] = {"CW", "SWE", "LIST"};
    c.Answer(kNames[static_cast<int>(c.in().mode)]);
}

void SetCenter(Context& c) {
    const SweepRequest& r = c.in().sweep;
    if (const auto hz = c.Setting(kHzUnits, kFrequencyRange)) {
        SetCenterSpan(c.in(), *hz, r.stopHz - r.startHz);
    }
}

void QueryCenter(Context& c) {
    c.Answer(FormatNumber((c.in().sweep.startHz + c.in().sweep.stopHz) / 2));
}

void SetSpan(Context& c) {
    const SweepRequest& r = c.in().sweep;
    const Range range{-FrequencyLimitHz, FrequencyLimitHz, kDefaultStopHz - kDefaultStartHz};
    if (const auto hz = c.Setting(kHzUnits, range)) {
        SetCenterSpan(c.in(), (r.startHz + r.stopHz) / 2, *hz);
    }
}

void QuerySpan(Context& c) {
    c.Answer(FormatNumber(c.in().sweep.stopHz - c.in().sweep.startHz));
}

void SetGeneration(Context& c) {
    const auto k = c.Choice({"STEPped", "ANALog"});
    if (k == 1u) c.Error(ScpiCode::SettingsConflict, "the TOVRIK steps; only STEPped sweeps");
}

void QueryGeneration(Context& c) {
    c.Answer("STEP");
}

void SetSweepMode(Context& c) {
    if (const auto k = c.Choice({"AUTO", "MANual"})) c.in().manual = *k == 1;
}

void QuerySweepMode(Context& c) {
    c.Answer(c.in().manual ? "MAN" : "AUTO");
}

// SWEep:POINT n: the frequency of point n (1 = start) of the set sweep, as FREQ sets it.
void SetManualPoint(Context& c) {
    if (!c.in().manual) return c.Error(ScpiCode::SettingsConflict, "SWE:MODE is not MANual");
    const auto planned = MakeSweepPlan(Directed(c.in()));
    if (const auto* error = std::get_if<ParseError>(&planned)) {
        return c.Error(ScpiCode::SettingsConflict, error->message);
    }
    const SweepPlan& plan = std::get<SweepPlan>(planned);
    const auto n = c.Setting(kNoUnits, {1, static_cast<double>(plan.points), 1});
    if (!n) return;
    const TuningWord word = plan.WordAt(static_cast<std::uint64_t>(std::round(*n)) - 1);
    if (c.in().output && !c.in().sweeping) {
        return c.Write(BuildFrequencyReport(word), [word](ScpiInstrument& i, bool ok) {
            if (ok) i.word = word;
        });
    }
    c.in().word = word;
}

void SetDirection(Context& c) {
    if (const auto k = c.Choice({"UP", "DOWN"})) c.in().down = *k == 1;
}

void QueryDirection(Context& c) {
    c.Answer(c.in().down ? "DOWN" : "UP");
}

void SetListFrequencies(Context& c) {
    if (auto hz = NumberList(c, kHzUnits, kFrequencyRange, 0)) c.in().listHz = std::move(*hz);
}

// An empty list answers SCPI's not-a-number: an empty answer would leave the client waiting.
void QueryListFrequencies(Context& c) {
    c.Answer(c.in().listHz.empty() ? "9.91E+37" : JoinNumbers(c.in().listHz));
}

void SetListDwells(Context& c) {
    if (auto s = NumberList(c, kSecondUnits, kDwellRange, kDwellTolerance)) {
        c.in().listDwell = std::move(*s);
    }
}

void QueryListDwells(Context& c) {
    c.Answer(JoinNumbers(c.in().listDwell));
}

void QueryListPoints(Context& c) {
    c.Answer(std::to_string(c.in().listHz.size()));
}

void SetListDirection(Context& c) {
    if (const auto k = c.Choice({"UP", "DOWN"})) c.in().listDown = *k == 1;
}

void QueryListDirection(Context& c) {
    c.Answer(c.in().listDown ? "DOWN" : "UP");
}

void SetTriggerSource(Context& c) {
    const auto k = c.Choice({"IMMediate", "BUS", "EXTernal"});
    if (!k) return;
    if (*k == 2) return c.Error(ScpiCode::IllegalParameterValue, "the TOVRIK has no trigger input");
    c.in().busTrigger = *k == 1;
}

void QueryTriggerSource(Context& c) {
    c.Answer(c.in().busTrigger ? "BUS" : "IMM");
}

void SetSlope(Context& c) {
    if (const auto k = c.Choice({"POSitive", "NEGative"})) c.in().negativeSlope = *k == 1;
}

void QuerySlope(Context& c) {
    c.Answer(c.in().negativeSlope ? "NEG" : "POS");
}

}  // namespace tovrik::cli::scpi
