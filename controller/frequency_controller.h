// The control application's state and everything that changes it: the output cycle
// (change a field, refresh the readout, send while the output is on), step/spin/wheel
// tuning, direct keyboard entry and the presets. No GUI toolkit in here.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "controller/controller_state.h"
#include "controller/readout.h"
#include "controller/step_table.h"
#include "controller/texts.h"
#include "controller/virtual_keys.h"
#include "controller/window.h"
#include "device/platform.h"
#include "device/reconnecting_device.h"
#include "device/reports.h"

namespace tovrik {

enum class KeyResult { Consumed, PassedOn };

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
    const std::string& devicePath() const { return device_.path(); }
    bool deviceOpen() const { return device_.open(); }

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
    // The first TOVRIK found, found anew after a failed write; the window only says "not
    // detected", the reason for each refused one goes to the diagnostics.
    ReconnectingDevice device_;
};

}  // namespace tovrik
