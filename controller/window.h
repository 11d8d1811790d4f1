// The few things the frequency controller needs of its window. The Qt shell implements them;
// tests record them.
#pragma once

#include <string>

namespace tovrik {

// Numeric control ids of the main window; handlers and tests address controls by them.
namespace control {
inline constexpr int kSpin = 1000;
inline constexpr int kPresetM1 = 1002;
inline constexpr int kPresetM2 = 1003;
inline constexpr int kPresetM3 = 1004;
inline constexpr int kReadoutCaption = 1005;
inline constexpr int kReadout = 1006;
inline constexpr int kFirstStepButton = 1016;  // 1016..1024: the step table, in order
inline constexpr int kFineStepButton = 1025;
inline constexpr int kExitButton = 1027;
inline constexpr int kOutputButton = 1029;
inline constexpr int kStatusLine = 1030;
inline constexpr int kWriteButton = 1031;
}  // namespace control

// Control ids of the settings dialog. They overlap the main window's (1031 is the write
// button there), so they have a namespace of their own.
namespace settings_control {
inline constexpr int kSaveFrequency = 1031;
inline constexpr int kReverseSpin = 1032;
inline constexpr int kReverseWheel = 1033;
inline constexpr int kOutputAtStart = 1034;
inline constexpr int kKeepOutputOnExit = 1035;  // shown, never read: opens unchecked each time
inline constexpr int kLockWhileOutput = 1036;
inline constexpr int kDisplayFormat = 1037;
}  // namespace settings_control

enum class MessageIcon {
    Exclamation = 48,  // failures
    Information = 64,  // results
};

class ControllerWindow {
  public:
    virtual ~ControllerWindow() = default;
    // Texts are UTF-8.
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    virtual void SetButtonChecked(int controlId, bool checked) = 0;
    // Modal, OK button only, owned by the main window, captioned with the application name.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    virtual void Beep() = 0;
    virtual void DestroyWindow() = 0;
};

}  // namespace tovrik
