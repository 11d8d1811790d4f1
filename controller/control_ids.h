// Numeric control ids of the main window and of the settings dialog; handlers, templates and
// tests address controls by them.
#pragma once

namespace tovrik {

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

// They overlap the main window's (1031 is the write button there), so they have a namespace
// of their own.
namespace settings_control {
inline constexpr int kSaveFrequency = 1031;
inline constexpr int kReverseSpin = 1032;
inline constexpr int kReverseWheel = 1033;
inline constexpr int kOutputAtStart = 1034;
inline constexpr int kKeepOutputOnExit = 1035;  // shown, never read: opens unchecked each time
inline constexpr int kLockWhileOutput = 1036;
inline constexpr int kDisplayFormat = 1037;
}  // namespace settings_control

}  // namespace tovrik
