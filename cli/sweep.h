// Frequency sweeps: the points (pure) and the paced run against an exclusively held device.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "cli/units.h"
#include "device/reports.h"

namespace tovrik::cli {

// Limits and defaults of sweeps, for the command line and the SCPI language alike.
inline constexpr std::uint64_t kMinSweepPoints = 2;
inline constexpr std::uint64_t kMaxSweepPoints = 10'000'000;
inline constexpr std::uint64_t kDefaultSweepPoints = 11;
inline constexpr double kMinDwellSeconds = 1e-3;  // one report per USB frame
inline constexpr double kMaxDwellSeconds = 86'400;
inline constexpr double kDefaultDwellSeconds = 0.01;
inline constexpr double kDwellTolerance = 1e-12;  // "1 ms" written in other units
inline constexpr double kDefaultStartHz = 1e6;
inline constexpr double kDefaultStopHz = 10e6;
inline constexpr double kDefaultFrequencyHz = 1e6;
inline constexpr std::size_t kMaxListPoints = 10'000;

struct SweepRequest {
    double startHz = 0;
    double stopHz = 0;
    std::optional<std::uint64_t> points;
    std::optional<double> stepHz;
    double dwellSeconds = 1e-3;
    bool logarithmic = false;
    std::uint64_t repeats = 1;  // 0: until stopped
};

// A sweep's points and when each starts: computed from the request, or a list given point by
// point with a dwell each.
struct SweepPlan {
    SweepRequest request;
    std::uint64_t points = 1;
    std::vector<TuningWord> listWords;      // empty: points computed from `request`
    std::vector<std::uint64_t> listStarts;  // of each list point and of the pass's end
    // The tuning word of point k (0 <= k < points).
    TuningWord WordAt(std::uint64_t k) const;
    // When slot n (pass n / points, point n % points) starts, counted from the first point.
    std::uint64_t SlotStartNanoseconds(std::uint64_t slot) const;
};

std::variant<SweepPlan, ParseError> MakeSweepPlan(const SweepRequest& request);

// A list sweep: the frequencies in order (reversed when `down`), with one dwell for all or
// one per point.
std::variant<SweepPlan, ParseError> MakeListPlan(const std::vector<double>& hz,
                                                 const std::vector<double>& dwellSeconds, bool down,
                                                 std::uint64_t repeats = 1);

struct SweepResult {
    std::uint64_t reportsSent = 0;
    bool interrupted = false;
    bool writeFailed = false;
};

// Sends point k at start + k * dwell on the monotonic clock, so lateness never accumulates;
// one dwell after the last point (or as soon as `stop` is seen) it sends the stop report.
// `send` returns false when a write fails, which ends the run without a stop report.
SweepResult RunSweep(const SweepPlan& plan, const std::function<bool(const OutputReport&)>& send,
                     const volatile std::sig_atomic_t& stop);

}  // namespace tovrik::cli
