// The status registers beyond *ESR/*ESE, the error queue read whole, and saved states.
#include <charconv>
#include <cmath>
#include <map>
#include <sstream>

#include "cli/scpi_handlers.h"

namespace tovrik::cli::scpi {
namespace {

constexpr Range kSlots{0, 9, 0};

std::optional<unsigned> Slot(Context& c) {
    const auto n = c.Setting(kNoUnits, kSlots);
    if (!n) return std::nullopt;
    if (*n != std::round(*n)) {
        c.Error(ScpiCode::DataOutOfRange);
        return std::nullopt;
    }
    return static_cast<unsigned>(*n);
}

std::string Numbers(const std::vector<double>& values) {
    std::string text;
    for (const double v : values) text += (text.empty() ? "" : ",") + FormatNumber(v);
    return text;
}

// One line of "key=value" words.
std::string Serialize(const ScpiInstrument& i) {
    const SweepRequest& r = i.sweep;
    std::string text = "freq=" + FormatNumber(TuningWordToHz(i.word));
    text += " output=" + std::to_string(i.output ? 1 : 0);
    text += " start=" + FormatNumber(r.startHz) + " stop=" + FormatNumber(r.stopHz);
    text += " points=" + std::to_string(r.points.value_or(kDefaultSweepPoints));
    text += " dwell=" + FormatNumber(r.dwellSeconds);
    text += " log=" + std::to_string(r.logarithmic ? 1 : 0);
    text += " mode=" + std::to_string(static_cast<int>(i.mode));
    text += " down=" + std::to_string(i.down ? 1 : 0);
    text += " listdown=" + std::to_string(i.listDown ? 1 : 0);
    text += " list=" + Numbers(i.listHz) + " listdwell=" + Numbers(i.listDwell);
    return text;
}

bool Number(std::string_view text, double min, double max, double& out) {
    std::string_view suffix;
    return SplitDecimal(text, out, suffix) && suffix.empty() && out >= min - kDwellTolerance &&
           out <= max;
}

bool NumberList(std::string_view text, double min, double max, std::vector<double>& out) {
    out.clear();
    while (!text.empty()) {
        const std::size_t comma = std::min(text.find(','), text.size());
        double v = 0;
        if (!Number(text.substr(0, comma), min, max, v) || out.size() >= kMaxListPoints) {
            return false;
        }
        out.push_back(v);
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return true;
}

// The saved settings over `i`; false (and `i` unspecified) when a word is missing or wrong.
bool Deserialize(std::string_view text, ScpiInstrument& i) {
    std::map<std::string, std::string, std::less<>> words;
    std::istringstream in{std::string(text)};
    for (std::string word; in >> word;) {
        const std::size_t eq = word.find('=');
        if (eq == std::string::npos) return false;
        words[word.substr(0, eq)] = word.substr(eq + 1);
    }
    const auto get = [&](const char* key, double min, double max, double& out) {
        const auto it = words.find(key);
        return it != words.end() && Number(it->second, min, max, out);
    };
    double freq = 0, output = 0, points = 0, log = 0, mode = 0, down = 0, listDown = 0;
    SweepRequest& r = i.sweep;
    const bool ok =
        get("freq", 0, FrequencyLimitHz, freq) && get("output", 0, 1, output) &&
        get("start", 0, FrequencyLimitHz, r.startHz) &&
        get("stop", 0, FrequencyLimitHz, r.stopHz) &&
        get("points", kMinSweepPoints, kMaxSweepPoints, points) &&
        get("dwell", kMinDwellSeconds, kMaxDwellSeconds, r.dwellSeconds) && get("log", 0, 1, log) &&
        get("mode", 0, 2, mode) && get("down", 0, 1, down) && get("listdown", 0, 1, listDown) &&
        words.count("list") == 1 && words.count("listdwell") == 1 &&
        NumberList(words["list"], 0, FrequencyLimitHz, i.listHz) &&
        NumberList(words["listdwell"], kMinDwellSeconds, kMaxDwellSeconds, i.listDwell) &&
        !i.listDwell.empty();
    if (!ok) return false;
    i.word = ComputeTuningWord(freq);
    i.output = output != 0;
    r.points = static_cast<std::uint64_t>(std::round(points));
    r.stepHz.reset();
    r.logarithmic = log != 0;
    i.mode = static_cast<FrequencyMode>(static_cast<int>(mode));
    i.down = down != 0;
    i.listDown = listDown != 0;
    return true;
}

}  // namespace

void SetServiceEnable(Context& c) {
    const auto mask = c.Setting(kNoUnits, {0, 255, 0});
    // Bit 6 (RQS) cannot be enabled.
    if (mask) c.client.sre = static_cast<std::uint8_t>(std::lround(*mask)) & ~0x40;
}

void QueryServiceEnable(Context& c) {
    c.Answer(std::to_string(c.client.sre));
}

void QueryStatusByte(Context& c) {
    c.Answer(std::to_string(StatusByte(c.client)));
}

void QueryOperation(Context& c) {
    c.Answer(std::to_string(c.in().sweeping ? kOperationSweeping : 0U));
}

void QueryErrorCount(Context& c) {
    c.Answer(std::to_string(c.client.errors.size()));
}

void QueryAllErrors(Context& c) {
    std::string text;
    for (const ScpiError& e : c.client.errors) {
        text += (text.empty() ? "" : ",") + std::to_string(e.code) + ",\"" + e.text + "\"";
    }
    c.client.errors.clear();
    c.Answer(text.empty() ? "0,\"No error\"" : text);
}

void Save(Context& c) {
    const auto slot = Slot(c);
    if (!slot) return;
    if (c.store == nullptr) return c.Error(ScpiCode::MassStorageError, "no state directory");
    const std::string& name = c.channels.at(c.channel - 1).name;
    if (const auto error = c.store->Save(name, *slot, Serialize(c.in()))) c.client.Push(*error);
}

// The saved settings replace the channel's; a sweep that runs ends.
void Recall(Context& c) {
    const auto slot = Slot(c);
    if (!slot) return;
    if (c.store == nullptr) return c.Error(ScpiCode::MassStorageError, "no state directory");
    const std::string& name = c.channels.at(c.channel - 1).name;
    auto recalled = c.store->Recall(name, *slot);
    if (auto* error = std::get_if<ScpiError>(&recalled)) return c.client.Push(std::move(*error));
    const auto& text = std::get<std::optional<std::string>>(recalled);
    if (!text) {
        return c.Error(ScpiCode::IllegalParameterValue,
                       "nothing saved as " + std::to_string(*slot));
    }
    ScpiInstrument next = c.in();
    if (!Deserialize(*text, next)) {
        return c.Error(ScpiCode::MassStorageError,
                       "saved state " + std::to_string(*slot) + " is damaged");
    }
    next.sweeping = false;
    next.continuous = false;
    next.suspended = false;
    const bool output = next.output;
    next.output = c.in().output;  // until the device took it
    c.in() = std::move(next);
    c.Write(output ? BuildFrequencyReport(c.in().word) : BuildStopReport(),
            [output](ScpiInstrument& i, bool ok) {
                if (ok) i.output = output;
            });
}

}  // namespace tovrik::cli::scpi
