// Bytes as a stream of user actions against the controller on the in-process fake platform,
// with device faults switched on and off in between. Holds: the entry stays within its bound;
// every report is 8 bytes with bytes 6 and 7 zero and goes to a TOVRIK; no tuning word above
// the 80 MHz one unless an out-of-range frequency was injected through the settings.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "app/settings/settings_store.h"
#include "controller/frequency_controller.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/fake_platform.h"

namespace {

using namespace tovrik;
using tovrik::testing::FakePlatform;

constexpr TuningWord kMaxWord = 1'908'874'354;  // 80 MHz

class NullWindow : public ControllerWindow {
  public:
    void SetControlText(int, const std::string& text) override {
        FUZZ_CHECK(text.size() < 64);  // the readout's buffer
    }
    void SetButtonChecked(int, bool) override {}
    void ShowMessage(const std::string&, MessageIcon) override {}
    void Beep() override {}
    void DestroyWindow() override {}
};

bool InRange(double hz) {
    return hz >= 0.0 && hz <= FrequencyLimitHz;
}

constexpr int kKeys[] = {vk::kBack, vk::kReturn, vk::kEscape, vk::kDelete,    vk::kPeriod,
                         vk::kK,    vk::kM,      vk::kF2,     vk::kNumpadAdd, vk::kNumpadSubtract,
                         vk::k0,    vk::k0 + 1,  vk::k0 + 5,  vk::k9,         vk::k9 + 1};

// A value as someone might have typed it into the settings file.
std::string HandEdited(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return std::to_string(in.ConsumeIntegralInRange(0, 80'000'000));
        case 1:
            return FormatFixed(in.ConsumeFloatingPoint<double>(), 6);
        case 2:
            return "80000000.0" + std::to_string(in.ConsumeIntegral<std::uint8_t>());
        default:
            return in.ConsumeRandomLengthString(40);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    static const char* const kLayouts[] = {"t", "o,t", "t,t", "o", "", "o,t,o,t"};
    FakePlatform platform = FakePlatform::WithLayout(
        kLayouts[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kLayouts) - 1)]);
    const std::size_t interfaces = platform.EnumerateHidInterfaces().size();
    NullWindow window;
    FrequencyController controller(platform, window, [](const std::string&) {});
    bool injected = false;  // an out-of-range value came in through the settings

    auto checkReports = [&] {
        FUZZ_CHECK(controller.state().entryText.size() <= kMaxEntryLength);
        for (const auto& report : platform.sent()) {
            const OutputReport& b = report.bytes;
            FUZZ_CHECK(b.size() == 8 && b[6] == 0 && b[7] == 0);
            const TuningWord word =
                b[1] | b[2] << 8 | b[3] << 16 | static_cast<TuningWord>(b[4]) << 24;
            FUZZ_CHECK(word <= kMaxWord || injected);
            const auto ids = platform.PeekIds(report.path);
            FUZZ_CHECK(ids && ids->vendorId == kTovrikVendorId &&
                       ids->productId == kTovrikProductId);
        }
        platform.ClearSent();
    };

    if (in.ConsumeBool()) controller.ConnectAtStartup();
    for (int steps = 0; steps < 400 && in.remaining_bytes() > 0; ++steps) {
        switch (in.ConsumeIntegralInRange(0, 15)) {
            case 0:
            case 1:
                controller.PreviewKey(
                    kKeys[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)]);
                break;
            case 2:
                controller.PreviewKey(in.ConsumeIntegral<int>());
                break;
            case 3:
                controller.ToggleEntry();
                break;
            case 4:
                controller.ApplySpinDelta(in.ConsumeIntegral<std::int32_t>());
                break;
            case 5:
                controller.ApplyWheelDelta(in.ConsumeIntegral<std::int16_t>());
                break;
            case 6: {
                const auto i = in.ConsumeIntegralInRange<std::size_t>(0, StepTable.size());
                controller.SelectStep(i == StepTable.size() ? FineStepHz : StepTable[i].hz);
                break;
            }
            case 7:
                controller.PressPreset(in.ConsumeIntegralInRange(-1, kPresetCount));
                break;
            case 8:
                controller.ToggleWriteMode();
                break;
            case 9:
                controller.ToggleOutput();
                break;
            case 10: {
                // The settings file's values, through the loader TOVRIK uses.
                IniProfile profile;
                profile.WriteText("Profile", "SaveFreq", in.ConsumeBool() ? "1" : "0");
                profile.WriteText("Profile", "Freq", HandEdited(in));
                for (const char* key : {"RevSpin", "RevWheel", "Lock", "Display", "Step"}) {
                    if (in.ConsumeBool())
                        profile.WriteInt("Profile", key, in.ConsumeIntegral<int>());
                }
                for (const char* key : {"0", "1", "2"})
                    profile.WriteText("Preset", key, HandEdited(in));
                ControllerState& s = controller.state();
                const double before = s.frequencyHz;
                LoadSettings(profile, s);
                bool outside = s.frequencyHz != before && !InRange(s.frequencyHz);
                for (const double p : s.presets) outside = outside || !InRange(p);
                if (outside) {
                    injected = true;
                } else if (InRange(s.frequencyHz)) {
                    injected = false;  // nothing out of range is left in the state
                }
                controller.Refresh();
                break;
            }
            case 11: {
                if (interfaces == 0) break;
                auto& iface =
                    platform.At(in.ConsumeIntegralInRange<std::size_t>(0, interfaces - 1));
                switch (in.ConsumeIntegralInRange(0, 5)) {
                    case 0:
                        iface.present = !iface.present;
                        break;
                    case 1:
                        iface.writeError = iface.writeError ? 0 : EIO;
                        break;
                    case 2:
                        iface.openError = iface.openError ? 0 : EACCES;
                        break;
                    case 3:
                        iface.heldByOtherProgram = !iface.heldByOtherProgram;
                        break;
                    case 4:
                        iface.identifiable = !iface.identifiable;
                        break;
                    default:
                        iface.refuseFeature = !iface.refuseFeature;
                        break;
                }
                break;
            }
            case 12:
                controller.ShowFirmwareVersion();
                break;
            case 13:
                controller.ConnectAtStartup();
                break;
            case 14:
                controller.Refresh();
                break;
            default:
                controller.ExitProgram();
                break;
        }
        checkReports();
    }
    return 0;
}
