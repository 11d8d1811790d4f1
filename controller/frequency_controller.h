// The control application's state and everything that changes it: the output cycle
// (change a field, refresh the readout, send while the output is on), step/spin/wheel
// tuning, direct keyboard entry and the presets. No GUI toolkit in here.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "controller/readout.h"
#include "controller/window.h"
#include "device/platform.h"
#include "device/reports.h"
#include "device/transport.h"

namespace tovrik {

struct StepEntry {
    int buttonId;
    const char* label;
    double hz;
};

inline constexpr std::array<StepEntry, 9> StepTable = {{
    {1016, "10M", 10'000'000.0},
    {1017, "1M", 1'000'000.0},
    {1018, "100k", 100'000.0},
    {1019, "10k", 10'000.0},
    {1020, "1k", 1'000.0},
    {1021, "100Hz", 100.0},
    {1022, "10Hz", 10.0},
    {1023, "1Hz", 1.0},
    {1024, "0.1Hz", 0.1},
}};
inline constexpr int kDefaultStepIndex = 2;
// One tuning-word unit; selectable on its own button, never stored.
inline constexpr double FineStepHz = kWordToHzFactor;

inline constexpr std::size_t kMaxEntryLength = 255;
inline constexpr int kPresetCount = 3;

// Windows virtual-key codes, which the key filter is defined over.
namespace vk {
inline constexpr int kBack = 8;
inline constexpr int kReturn = 13;
inline constexpr int kEscape = 27;
inline constexpr int kDelete = 46;
inline constexpr int k0 = 48;
inline constexpr int k9 = 57;
inline constexpr int kK = 75;
inline constexpr int kM = 77;
inline constexpr int kNumpadAdd = 107;
inline constexpr int kNumpadSubtract = 109;
inline constexpr int kF2 = 113;
inline constexpr int kPeriod = 190;
}  // namespace vk

enum class KeyResult { Consumed, PassedOn };

// Texts shown to the user (UTF-8).
namespace text {
inline constexpr const char* kDeviceNotFound = "TOVRIKが見つかりません。";
inline constexpr const char* kStatusDetected = "TOVRIK 検出しました";
inline constexpr const char* kStatusNotDetected = "TOVRIK 未検出";
inline constexpr const char* kVersionUnavailable = "TOVRIKが未検出です";
// printf format; %s is the version text.
inline constexpr const char* kVersionFormat = "TOVRIKﾌｧｰﾑｳｪｱのﾊﾞｰｼﾞｮﾝは%sです。";
}  // namespace text

// Plain fields. Flags are ints in which any non-zero value counts as set, because the
// settings file stores them that way and hand-edited values must survive a round trip.
struct ControllerState {
    int saveFrequency = 0;
    int reverseWheel = 0;
    int reverseSpin = 0;
    int lockWhileOutput = 0;
    DisplayMode displayMode = kDisplayHundredths;
    int outputOn = 0;
    double stepHz = 100'000.0;
    double frequencyHz = 10'000'000.0;
    std::string entryText;  // at most kMaxEntryLength characters
    int entryHasPoint = 0;
    int entryActive = 0;
    int writeMode = 0;
    int outputAtStart = 0;
    std::array<double, kPresetCount> presets{0.0, 0.0, 0.0};
};

// Where the controller says why a TOVRIK it found could not be used (one line each).
using Diagnostics = std::function<void(const std::string& line)>;
void WriteToStandardError(const std::string& line);

class FrequencyController {
public:
    // Without `diagnostics`, the lines go to standard error.
    FrequencyController(DevicePlatform& platform, ControllerWindow& window,
                        Diagnostics diagnostics = {});

    ControllerState& state() { return state_; }
    const ControllerState& state() const { return state_; }
    const std::string& devicePath() const { return devicePath_; }
    bool deviceOpen() const { return static_cast<bool>(device_); }

    // Start-up device part: find the first TOVRIK, open it exclusively, show the status.
    void ConnectAtStartup();

    // Output cycle.
    void Refresh();
    void SendFrequency(int on);
    void ToggleOutput();
    void UpdateStatusLine();
    // Exit button: stop report when the output is on, close the device, destroy the window.
    void ExitProgram();
    // Version menu command: an information or a failure message; touches nothing else.
    void ShowFirmwareVersion();

    // Tuning inputs.
    void SelectStep(double stepHz);
    // The spin control's proposed change; returns the value to hand back to the control (0).
    int ApplySpinDelta(std::int32_t count);
    void ApplyWheelDelta(std::int16_t delta);

    // Direct keyboard entry. PreviewKey sees every key-down before the dialog does.
    void ToggleEntry();
    KeyResult PreviewKey(int virtualKey);

    // Presets.
    void ToggleWriteMode();
    void PressPreset(int slot);

private:
    // Discovery from index 0 and the exclusive open; names each TOVRIK that was refused.
    bool FindAndOpen();
    bool LockApplies() const;
    std::string ReadoutText() const;
    KeyResult PointKey();
    void AppendToEntry(char c);
    void ApplyUnit(double factor);
    void EndEntry();

    DevicePlatform& platform_;
    ControllerWindow& window_;
    Diagnostics diagnostics_;
    ControllerState state_;
    std::string devicePath_;
    DeviceHandle device_;
};

}  // namespace tovrik
