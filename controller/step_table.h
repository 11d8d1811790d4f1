// The step buttons: one row per button, in the order they stand in the window. The template,
// the settings file (by index) and the controller all read this table.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "controller/control_ids.h"
#include "device/reports.h"

namespace tovrik {

struct StepEntry {
    int buttonId;
    const char* label;
    double hz;
};

inline constexpr std::array<StepEntry, 9> StepTable = {{
    {control::kFirstStepButton + 0, "10M", 10'000'000.0},
    {control::kFirstStepButton + 1, "1M", 1'000'000.0},
    {control::kFirstStepButton + 2, "100k", 100'000.0},
    {control::kFirstStepButton + 3, "10k", 10'000.0},
    {control::kFirstStepButton + 4, "1k", 1'000.0},
    {control::kFirstStepButton + 5, "100Hz", 100.0},
    {control::kFirstStepButton + 6, "10Hz", 10.0},
    {control::kFirstStepButton + 7, "1Hz", 1.0},
    {control::kFirstStepButton + 8, "0.1Hz", 0.1},
}};
// The settings file stores the index, so a new button goes at the end.
inline constexpr int kDefaultStepIndex = 2;
static_assert(control::kFirstStepButton + static_cast<int>(StepTable.size()) ==
                  control::kFineStepButton,
              "the fine step button follows the last step button");

// One tuning-word unit; selectable on its own button, never stored.
inline constexpr double FineStepHz = kWordToHzFactor;

// The step a step button selects, for the window's command handler; empty for other ids.
constexpr std::optional<double> StepOfButton(int buttonId) {
    if (buttonId == control::kFineStepButton) return FineStepHz;
    for (const StepEntry& entry : StepTable) {
        if (entry.buttonId == buttonId) return entry.hz;
    }
    return std::nullopt;
}

}  // namespace tovrik
