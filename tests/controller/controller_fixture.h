// A controller wired to a fake device platform and a recording window.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controller/frequency_controller.h"
#include "tests/controller/recording_window.h"
#include "tests/support/fake_platform.h"

namespace tovrik::testing {

inline TuningWord WordOf(const OutputReport& report) {
    return static_cast<TuningWord>(report[1]) | static_cast<TuningWord>(report[2]) << 8 |
           static_cast<TuningWord>(report[3]) << 16 | static_cast<TuningWord>(report[4]) << 24;
}

class ControllerTest : public ::testing::Test {
  protected:
    explicit ControllerTest(const std::string& layout = "o,t")
        : platform(FakePlatform::WithLayout(layout)),
          controller(platform, window,
                     [this](const std::string& line) { diagnostics.push_back(line); }) {}

    ControllerState& state() { return controller.state(); }
    std::string Readout() const { return window.Text(control::kReadout); }
    std::string Status() const { return window.Text(control::kStatusLine); }
    std::vector<TuningWord> SentWords() const {
        std::vector<TuningWord> words;
        for (const auto& report : platform.sent()) words.push_back(WordOf(report.bytes));
        return words;
    }
    // Presses the keys of `keys` ('.' = period key, 'K', 'M', digits) in order.
    void Type(const std::string& keys) {
        for (const char key : keys) {
            const int code = key == '.' ? vk::kPeriod : static_cast<int>(key);
            controller.PreviewKey(code);
        }
    }

    FakePlatform platform;
    RecordingWindow window;
    std::vector<std::string> diagnostics;  // what would go to standard error
    FrequencyController controller;
};

}  // namespace tovrik::testing
