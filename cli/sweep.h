// Frequency sweeps: the points (pure) and the paced run against an exclusively held device.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>

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

struct SweepRequest {
    double startHz = 0;
    double stopHz = 0;
    std::optional<std::uint64_t> points;
    std::optional<double> stepHz;
    double dwellSeconds = 1e-3;
    bool logarithmic = false;
    std::uint64_t repeats = 1;  // 0: until stopped
};

struct SweepPlan {
    SweepRequest request;
    std::uint64_t points = 1;
    // The tuning word of point k (0 <= k < points).
    TuningWord WordAt(std::uint64_t k) const;
    std::uint64_t DwellNanoseconds() const;
};

std::variant<SweepPlan, ParseError> MakeSweepPlan(const SweepRequest& request);

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
