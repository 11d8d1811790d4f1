// The stored settings that are plain integers, one row each: the settings file, the settings
// dialog (Qt and Win32 alike) and the copy back into the controller all walk this table, so
// a new flag is one row here, its field in ControllerState and its check box in the
// settings dialog's template. No GUI toolkit in here.
#pragma once

#include <array>

#include "controller/control_ids.h"
#include "controller/controller_state.h"

namespace tovrik {

inline constexpr const char* kProfileSection = "Profile";
inline constexpr const char* kPresetSection = "Preset";

// How the settings dialog shows a row.
enum class SettingEdit {
    List,      // a drop-down list whose index is the value
    CheckBox,  // 0 unchecked, 1 checked, 2 the third state
};

struct StoredSetting {
    const char* key;
    const char* section;
    int defaultValue;  // when the file lacks the key or its value is empty
    int controlId;     // in the settings dialog: settings_control::
    SettingEdit edit;
    int ControllerState::*field;
};

// Save order is table order; it follows Freq and Step and comes before the presets.
inline constexpr auto SettingsTable = std::to_array<StoredSetting>({
    {"Display", kProfileSection, kDisplayHundredths, settings_control::kDisplayFormat,
     SettingEdit::List, &ControllerState::displayMode},
    {"SaveFreq", kProfileSection, 0, settings_control::kSaveFrequency, SettingEdit::CheckBox,
     &ControllerState::saveFrequency},
    {"RevSpin", kProfileSection, 0, settings_control::kReverseSpin, SettingEdit::CheckBox,
     &ControllerState::reverseSpin},
    {"RevWheel", kProfileSection, 0, settings_control::kReverseWheel, SettingEdit::CheckBox,
     &ControllerState::reverseWheel},
    {"Lock", kProfileSection, 0, settings_control::kLockWhileOutput, SettingEdit::CheckBox,
     &ControllerState::lockWhileOutput},
    {"OutStart", kProfileSection, 0, settings_control::kOutputAtStart, SettingEdit::CheckBox,
     &ControllerState::outputAtStart},
});

// The settings dialog's rules, the same in every shell. Into the controls: a list value
// outside 0..count-1 selects nothing (-1); a check box value outside 0..2 becomes 0.
constexpr int ShownListIndex(int value, int count) {
    return value >= 0 && value < count ? value : -1;
}
constexpr int ShownCheckValue(int value) {
    return value < 0 || value > 2 ? 0 : value;
}

// An accepted settings dialog: every row's field from `from` into `to`, nothing else.
inline void CopySettings(const ControllerState& from, ControllerState& to) {
    for (const StoredSetting& row : SettingsTable) to.*row.field = from.*row.field;
}

}  // namespace tovrik
