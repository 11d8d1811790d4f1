#include "cli/scpi_commands.h"

#include <algorithm>
#include <cmath>
#include <variant>

#include "cli/scpi_handlers.h"

namespace tovrik::cli::scpi {
namespace {

std::string Bool(bool b) {
    return b ? "1" : "0";
}

std::string FrequencyText(TuningWord word) {
    return FormatNumber(TuningWordToHz(word));
}

std::string FormatFrequency(double hz) {
    return FrequencyText(ComputeTuningWord(hz));
}

std::string FormatCount(double n) {
    return std::to_string(static_cast<std::uint64_t>(n));
}

constexpr Limits kCw{{0, FrequencyLimitHz, kDefaultFrequencyHz}, FormatFrequency};
constexpr Limits kStart{{0, FrequencyLimitHz, kDefaultStartHz}, FormatNumber};
constexpr Limits kStop{{0, FrequencyLimitHz, kDefaultStopHz}, FormatNumber};
constexpr Limits kPoints{
    {static_cast<double>(kMinSweepPoints), static_cast<double>(kMaxSweepPoints),
     static_cast<double>(kDefaultSweepPoints)},
    FormatCount};
constexpr Limits kDwell{{kMinDwellSeconds, kMaxDwellSeconds, kDefaultDwellSeconds}, FormatNumber};

// ---------------------------------------------------------------------------------------------
// Set handlers

void SetStart(Context& c) {
    if (const auto hz = c.Setting(kHzUnits, kStart.range)) c.in().sweep.startHz = *hz;
}

void SetStop(Context& c) {
    if (const auto hz = c.Setting(kHzUnits, kStop.range)) c.in().sweep.stopHz = *hz;
}

void SetPoints(Context& c) {
    const auto unit = c.Numeric(kNoUnits);
    if (!unit) return;
    const double points = unit->special != Special::None ? kPoints.range.Pick(unit->special)
                                                         : std::round(unit->value);
    if (!(points >= kPoints.range.min && points <= kPoints.range.max)) {
        return c.Error(ScpiCode::DataOutOfRange);
    }
    c.in().sweep.points = static_cast<std::uint64_t>(points);
}

void SetDwell(Context& c) {
    if (const auto s = c.Setting(kSecondUnits, kDwell.range, kDwellTolerance)) {
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
        return c.Error(ScpiCode::DataTypeError);
    }
    // A decimal mask is rounded to an integer first, then checked: 255.4 is 255.
    const double mask = std::round(value);
    if (!(mask >= 0 && mask <= 255)) return c.Error(ScpiCode::DataOutOfRange);
    c.client.ese = static_cast<std::uint8_t>(mask);
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
    c.Answer(std::string(kManufacturer) + "," + std::string(kModel) + "," + serial + "," +
             version.value_or("unknown"));
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
void QueryEventStatus(Context& c) {
    c.Answer(std::to_string(c.client.esr));
    c.client.esr = 0;
}
void QueryEventEnable(Context& c) {
    c.Answer(std::to_string(c.client.ese));
}
void SetOperationComplete(Context& c) {
    c.client.esr |= 0x01;
}

using enum Param;

// The notation, read as the matcher expects it.
constexpr Pattern kNotation("[SOURce#]:FREQuency[:CW]");
static_assert(kNotation.size() == 3 && kNotation[0].optional && kNotation[0].channel &&
              !kNotation[1].optional && !kNotation[1].channel && kNotation[2].optional);

// clang-format off
constexpr auto kCommands = std::to_array<Command>({
//   header                        set form  set handler     query handler    MIN/MAX/DEF
    {"[SOURce#]:FREQuency[:CW]",   Required, SetFrequency,   QueryFrequency,  &kCw},
    {"[SOURce#]:FREQuency:STARt",  Required, SetStart,       QueryStart,      &kStart},
    {"[SOURce#]:FREQuency:STOP",   Required, SetStop,        QueryStop,       &kStop},
    {"[SOURce#]:SWEep:POINts",     Required, SetPoints,      QueryPoints,     &kPoints},
    {"[SOURce#]:SWEep:DWELl",      Required, SetDwell,       QueryDwell,      &kDwell},
    {"[SOURce#]:SWEep:SPACing",    Required, SetSpacing,     QuerySpacing},
    {"[SOURce#]:FREQuency:MODE",   Required, SetMode,        QueryMode},
    {"[SOURce#]:FREQuency:CENTer", Required, SetCenter,      QueryCenter},
    {"[SOURce#]:FREQuency:SPAN",   Required, SetSpan,        QuerySpan},
    {"[SOURce#]:SWEep:GENeration", Required, SetGeneration,  QueryGeneration},
    {"[SOURce#]:SWEep:MODE",       Required, SetSweepMode,   QuerySweepMode},
    // POINT in full: POIN is POINts.
    {"[SOURce#]:SWEep:POINT",      Required, SetManualPoint, nullptr},
    {"[SOURce#]:SWEep:CPOint",     Required, SetManualPoint, nullptr},
    {"[SOURce#]:SWEep:DIRection",  Required, SetDirection,   QueryDirection},
    {"[SOURce#]:SWEep:CONTinuous[:STATe]", Required, SetContinuous, QueryContinuous},
    {"[SOURce#]:TSWeep",           None,     Initiate,       nullptr},
    {"[SOURce#]:LIST:FREQuency",   Required, SetListFrequencies, QueryListFrequencies},
    {"[SOURce#]:LIST:DWELl",       Required, SetListDwells,  QueryListDwells},
    {"[SOURce#]:LIST:POINts",      None,     nullptr,        QueryListPoints},
    {"[SOURce#]:LIST:DIRection",   Required, SetListDirection, QueryListDirection},
    {"TRIGger#[:SEQuence]:SOURce", Required, SetTriggerSource, QueryTriggerSource},
    {"TRIGger#[:SEQuence]:SLOPe",  Required, SetSlope,       QuerySlope},
    {"OUTPut#[:STATe]",            Required, SetOutput,      QueryOutput},
    {"INITiate#[:IMMediate]",      None,     Initiate,       nullptr},
    {"INITiate#:CONTinuous",       Required, SetContinuous,  QueryContinuous},
    {"ABORt#",                     None,     Abort,          nullptr},
    {"SYSTem:SUSPend#",            None,     Suspend,        nullptr},
    {"INSTrument:NSELect",         Required, SelectChannel,  QuerySelected},
    {"INSTrument:CATalog:FULL",    None,     nullptr,        QueryCatalog},
    {"SYSTem:ERRor[:NEXT]",        None,     nullptr,        QueryError},
    {"SYSTem:ERRor:COUNt",         None,     nullptr,        QueryErrorCount},
    {"SYSTem:ERRor:ALL",           None,     nullptr,        QueryAllErrors},
    {"STATus#:OPERation:CONDition", None,    nullptr,        QueryOperation},
    {"SYSTem:VERSion",             None,     nullptr,        QueryVersion},
    {"*IDN",                       None,     nullptr,        QueryIdentity},
    {"*RST",                       None,     Reset,          nullptr,         nullptr, true},
    {"*CLS",                       None,     ClearStatus,    nullptr},
    {"*OPC",                       None,     SetOperationComplete, QueryOperationComplete},
    {"*WAI",                       None,     Wait,           nullptr},
    {"*TRG",                       None,     Trigger,        nullptr,         nullptr, true},
    {"*SAV",                       Required, Save,           nullptr,         nullptr, true},
    {"*RCL",                       Required, Recall,         nullptr,         nullptr, true},
    {"*SRE",                       Required, SetServiceEnable, QueryServiceEnable},
    {"*ESR",                       None,     nullptr,        QueryEventStatus},
    // An empty *ESE is a data type error, as it always was, not a missing parameter.
    {"*ESE",                       Optional, SetEventEnable, QueryEventEnable},
    {"*STB",                       None,     nullptr,        QueryStatusByte},
});
// clang-format on

}  // namespace

void SetFrequency(Context& c) {
    const auto hz = c.Setting(kHzUnits, kCw.range);
    if (!hz) return;
    const TuningWord word = ComputeTuningWord(*hz);
    if (c.in().output && !c.in().sweeping) {
        return c.Write(BuildFrequencyReport(word), [word](ScpiInstrument& i, bool ok) {
            if (ok) i.word = word;
        });
    }
    c.in().word = word;
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

bool Command::OnChannel() const {
    return onChannel ||
           std::any_of(pattern.begin(), pattern.end(), [](const Keyword& k) { return k.channel; });
}

std::span<const Command> Commands() {
    return kCommands;
}

}  // namespace tovrik::cli::scpi
