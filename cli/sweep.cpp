#include "cli/sweep.h"

#include <cmath>
#include <csignal>

#include "cli/stop_requests.h"

namespace tovrik::cli {

TuningWord SweepPlan::WordAt(std::uint64_t k) const {
    if (!listWords.empty()) return listWords[k];
    const SweepRequest& r = request;
    const double x = points > 1 ? static_cast<double>(k) / static_cast<double>(points - 1) : 0.0;
    double hz = 0;
    if (r.stepHz) {
        const double direction = r.stopHz >= r.startHz ? 1.0 : -1.0;
        hz = r.startHz + direction * static_cast<double>(k) * *r.stepHz;
    } else if (r.logarithmic) {
        hz = r.startHz * std::pow(r.stopHz / r.startHz, x);
    } else {
        hz = r.startHz + (r.stopHz - r.startHz) * x;
    }
    // Rounding at the ends must not step outside the range the user gave.
    hz = std::fmin(std::fmax(hz, std::fmin(r.startHz, r.stopHz)), std::fmax(r.startHz, r.stopHz));
    return ComputeTuningWord(hz);
}

namespace {

// The plans keep every dwell within 1 ms .. 1 day, far inside 64 bits.
std::uint64_t Nanoseconds(double seconds) {
    return static_cast<std::uint64_t>(std::llround(seconds * 1e9));
}

bool DwellInRange(double seconds) {
    return seconds >= kMinDwellSeconds - kDwellTolerance && seconds <= kMaxDwellSeconds;
}

}  // namespace

// Unsigned: a sweep that runs for centuries wraps, never overflows.
std::uint64_t SweepPlan::SlotStartNanoseconds(std::uint64_t slot) const {
    if (listStarts.empty()) return slot * Nanoseconds(request.dwellSeconds);
    return (slot / points) * listStarts.back() + listStarts[slot % points];
}

std::variant<SweepPlan, ParseError> MakeListPlan(const std::vector<double>& hz,
                                                 const std::vector<double>& dwellSeconds, bool down,
                                                 std::uint64_t repeats) {
    if (hz.empty()) return ParseError{"the list has no frequencies"};
    if (hz.size() > kMaxListPoints) return ParseError{"the list has more than 10,000 points"};
    if (dwellSeconds.size() != 1 && dwellSeconds.size() != hz.size()) {
        return ParseError{"the list needs one dwell, or one per frequency"};
    }
    SweepPlan plan;
    plan.request.repeats = repeats;
    plan.points = hz.size();
    plan.listStarts.push_back(0);
    for (std::size_t i = 0; i < hz.size(); ++i) {
        const std::size_t k = down ? hz.size() - 1 - i : i;
        const double dwell = dwellSeconds.size() == 1 ? dwellSeconds.front() : dwellSeconds[k];
        if (!(hz[k] >= 0 && hz[k] <= FrequencyLimitHz)) {
            return ParseError{"list frequencies must lie within 0 .. 80 MHz"};
        }
        if (!DwellInRange(dwell)) return ParseError{"the dwell must lie between 1 ms and one day"};
        plan.listWords.push_back(ComputeTuningWord(hz[k]));
        plan.listStarts.push_back(plan.listStarts.back() + Nanoseconds(dwell));
    }
    return plan;
}

std::variant<SweepPlan, ParseError> MakeSweepPlan(const SweepRequest& request) {
    const SweepRequest& r = request;
    if (r.points.has_value() == r.stepHz.has_value()) {
        return ParseError{"give either --points or --step"};
    }
    if (!DwellInRange(r.dwellSeconds)) {
        return ParseError{"the dwell must lie between 1 ms and one day"};
    }
    for (const double hz : {r.startHz, r.stopHz}) {
        if (!(hz >= 0 && hz <= FrequencyLimitHz)) {
            return ParseError{"sweep limits must lie within 0 .. 80 MHz"};
        }
    }
    if (r.logarithmic && !(r.startHz > 0 && r.stopHz > 0)) {
        return ParseError{"a logarithmic sweep needs start and stop above 0 Hz"};
    }
    SweepPlan plan;
    plan.request = request;
    plan.points = 0;
    if (r.stepHz) {
        if (r.logarithmic) return ParseError{"--step and --log-spacing do not go together"};
        if (!(*r.stepHz > 0)) return ParseError{"the step must be above 0 Hz"};
        const double count = std::floor(std::fabs(r.stopHz - r.startHz) / *r.stepHz + 1e-9) + 1;
        if (!(count <= static_cast<double>(kMaxSweepPoints))) {
            return ParseError{"the step gives more than 10,000,000 points"};
        }
        plan.points = static_cast<std::uint64_t>(count);
    } else {
        if (*r.points < kMinSweepPoints || *r.points > kMaxSweepPoints) {
            return ParseError{"--points must lie between 2 and 10,000,000"};
        }
        plan.points = *r.points;
    }
    return plan;
}

SweepResult RunSweep(const SweepPlan& plan, const std::function<bool(const OutputReport&)>& send,
                     const volatile std::sig_atomic_t& stop) {
    SweepResult result;
    const std::uint64_t start = NowNanoseconds();
    std::uint64_t slot = 0;
    for (std::uint64_t pass = 0; plan.request.repeats == 0 || pass < plan.request.repeats; ++pass) {
        for (std::uint64_t k = 0; k < plan.points; ++k, ++slot) {
            if (!SleepUntil(start + plan.SlotStartNanoseconds(slot), stop)) {
                result.interrupted = true;
                break;
            }
            if (!send(BuildFrequencyReport(plan.WordAt(k)))) {
                result.writeFailed = true;
                return result;
            }
            ++result.reportsSent;
        }
        if (result.interrupted) break;
    }
    if (!result.interrupted)
        result.interrupted = !SleepUntil(start + plan.SlotStartNanoseconds(slot), stop);
    if (!send(BuildStopReport())) result.writeFailed = true;
    return result;
}

}  // namespace tovrik::cli
