// Cost of the controller per handled input event, with the device and the window taken out:
// what remains is the arithmetic, the readout text, the report and the call into the platform.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "controller/frequency_controller.h"
#include "controller/readout.h"

namespace tovrik {
namespace {

// One always-present TOVRIK whose writes go nowhere.
class NullPlatform : public DevicePlatform {
  public:
    std::vector<std::string> EnumerateHidInterfaces() override { return {"/dev/null-tovrik"}; }
    OpenResult Open(const std::string&, ShareMode) override { return {3, 0}; }
    std::optional<HidIds> GetIds(NativeHandle) override { return HidIds{0x1774, 0x9851}; }
    std::optional<HidIds> PeekIds(const std::string&) override { return HidIds{0x1774, 0x9851}; }
    SystemError WriteReport(NativeHandle, const OutputReport& report) override {
        benchmark::DoNotOptimize(report.data());
        return 0;
    }
    SystemError GetFeature(NativeHandle, VersionFeature&) override { return 5; }
    void Close(NativeHandle) override {}
    FailureReason Describe(SystemError) const override { return {}; }
};

class NullWindow : public ControllerWindow {
  public:
    void SetControlText(int, const std::string& text) override {
        benchmark::DoNotOptimize(text.data());
    }
    void SetButtonChecked(int, bool) override {}
    void ShowMessage(const std::string&, MessageIcon) override {}
    void Beep() override {}
    void DestroyWindow() override {}
};

// One wheel notch with the output on, end to end. Alternating directions keeps the frequency
// in range, so every event takes the full path: arithmetic, Refresh, readout, report, write.
void BM_WheelNotchOutputOn(benchmark::State& state) {
    NullPlatform platform;
    NullWindow window;
    FrequencyController controller(platform, window);
    controller.ConnectAtStartup();
    controller.state().displayMode = static_cast<DisplayMode>(state.range(0));
    controller.SelectStep(1'000.0);
    controller.ToggleOutput();
    std::int16_t delta = 120;
    for (auto _ : state) {
        controller.ApplyWheelDelta(delta);
        delta = static_cast<std::int16_t>(-delta);
    }
    // One event per iteration; printed with an SI prefix, "52n" meaning 52 ns.
    state.counters["sec_per_event"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WheelNotchOutputOn)->ArgName("mode")->DenseRange(0, 3);

void BM_FormatReadout(benchmark::State& state) {
    const auto mode = static_cast<DisplayMode>(state.range(0));
    // Quantized values across the range, as Refresh passes them.
    const double values[] = {TuningWordToHz(238609294), TuningWordToHz(1908874354),
                             TuningWordToHz(29456), TuningWordToHz(24)};
    std::size_t i = 0;
    for (auto _ : state) {
        std::string text = FormatReadout(values[i++ & 3u], mode);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatReadout)->ArgName("mode")->DenseRange(0, 3);

}  // namespace
}  // namespace tovrik
