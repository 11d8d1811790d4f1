// The sweep's pacing as tovrikctl.exe runs it, without a device: RunSweep with a sender that
// notes when each report would go out. Writes "median p99 max" of the gaps, in microseconds,
// and the run's length to the file OUT (not to standard output, which Wine shares).
//   sweep_clock_probe.exe OUT [POINTS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/stop_requests.h"
#include "cli/sweep.h"

int main(int argc, char** argv) {
    using namespace tovrik::cli;
    if (argc < 2) return 2;
    const unsigned long points = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1000;
    SweepRequest request{1e6, 2e6, points, {}, 1e-3};
    const auto plan = MakeSweepPlan(request);
    if (!std::holds_alternative<SweepPlan>(plan)) return 2;
    std::vector<std::uint64_t> sent;
    sent.reserve(points + 1);
    const StopRequests stops;
    RunSweep(
        std::get<SweepPlan>(plan),
        [&](const tovrik::OutputReport&) {
            sent.push_back(NowNanoseconds());
            return true;
        },
        stops.flag());
    std::vector<double> gaps;
    for (std::size_t i = 1; i < sent.size(); ++i) gaps.push_back((sent[i] - sent[i - 1]) / 1e3);
    if (gaps.empty()) return 1;
    std::sort(gaps.begin(), gaps.end());
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%.1f %.1f %.1f %.6f\n", gaps[gaps.size() / 2],
                 gaps[gaps.size() * 99 / 100 - 1], gaps.back(), (sent.back() - sent.front()) / 1e9);
    return std::fclose(out) == 0 ? 0 : 1;
}
