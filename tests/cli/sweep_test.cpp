// Sweep points and the paced run (with a short dwell; the pacing figures are benchmarks).
#include "cli/sweep.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace tovrik;
using namespace tovrik::cli;

SweepPlan Plan(const SweepRequest& request) {
    const auto planned = MakeSweepPlan(request);
    EXPECT_TRUE(std::holds_alternative<SweepPlan>(planned));
    return std::get<SweepPlan>(planned);
}

TEST(SweepPlan, LinearLogAndStepPointsHitTheEnds) {
    SweepRequest linear{1e6, 2e6, 5, std::nullopt, 1e-3, false, 1};
    const SweepPlan a = Plan(linear);
    EXPECT_EQ(a.points, 5u);
    EXPECT_EQ(a.WordAt(0), ComputeTuningWord(1e6));
    EXPECT_EQ(a.WordAt(2), ComputeTuningWord(1.5e6));
    EXPECT_EQ(a.WordAt(4), ComputeTuningWord(2e6));

    SweepRequest log{1e3, 1e6, 4, std::nullopt, 1e-3, true, 1};
    const SweepPlan b = Plan(log);
    EXPECT_EQ(b.WordAt(1), ComputeTuningWord(1e4));
    EXPECT_EQ(b.WordAt(3), ComputeTuningWord(1e6));

    SweepRequest down{80e6, 79.9e6, std::nullopt, 30e3, 1e-3, false, 1};
    const SweepPlan c = Plan(down);
    EXPECT_EQ(c.points, 4u);  // 80, 79.97, 79.94, 79.91 MHz
    EXPECT_EQ(c.WordAt(3), ComputeTuningWord(79.91e6));
    EXPECT_EQ(c.WordAt(0), ComputeTuningWord(80e6));
}

TEST(SweepPlan, RefusesWhatCannotBeSwept) {
    const std::vector<SweepRequest> bad = {
        {1e6, 2e6, std::nullopt, std::nullopt, 1e-3, false, 1},  // neither points nor step
        {1e6, 2e6, 5, 1e3, 1e-3, false, 1},                      // both
        {1e6, 2e6, 1, std::nullopt, 1e-3, false, 1},             // one point
        {1e6, 2e6, 5, std::nullopt, 0.5e-3, false, 1},           // dwell below 1 ms
        {0, 2e6, 5, std::nullopt, 1e-3, true, 1},                // log from 0 Hz
        {1e6, 81e6, 5, std::nullopt, 1e-3, false, 1},            // above the limit
        {0, 80e6, std::nullopt, 1, 1e-3, false, 1},              // 80 million points
        {1e6, 2e6, std::nullopt, 0, 1e-3, false, 1},             // zero step
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_TRUE(std::holds_alternative<ParseError>(MakeSweepPlan(bad[i]))) << i;
    }
}

TEST(SweepRun, SendsEveryPointOfEveryPassThenStops) {
    const SweepPlan plan = Plan({1e6, 3e6, 3, std::nullopt, 1e-3, false, 2});
    std::vector<OutputReport> sent;
    volatile std::sig_atomic_t stop = 0;
    const SweepResult result = RunSweep(
        plan, [&](const OutputReport& r) { return sent.push_back(r), true; }, stop);
    EXPECT_EQ(result.reportsSent, 6u);
    EXPECT_FALSE(result.interrupted);
    ASSERT_EQ(sent.size(), 7u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(sent[i], BuildFrequencyReport(plan.WordAt(i % 3))) << i;
    }
    EXPECT_EQ(sent.back(), BuildStopReport());
}

TEST(SweepRun, StopRequestAndWriteFailureEndIt) {
    const SweepPlan plan = Plan({1e6, 3e6, 3, std::nullopt, 1e-3, false, 0});
    volatile std::sig_atomic_t stop = 0;
    std::vector<OutputReport> sent;
    const SweepResult stopped = RunSweep(
        plan,
        [&](const OutputReport& r) {
            sent.push_back(r);
            if (sent.size() == 5) stop = 1;
            return true;
        },
        stop);
    EXPECT_TRUE(stopped.interrupted);
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent.back(), BuildStopReport());

    stop = 0;
    int writes = 0;
    const SweepResult failed = RunSweep(
        plan, [&](const OutputReport&) { return ++writes < 2; }, stop);
    EXPECT_TRUE(failed.writeFailed);
    EXPECT_EQ(writes, 2);
}

}  // namespace
