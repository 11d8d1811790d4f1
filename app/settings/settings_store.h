// The control application's settings: an INI profile read once at start and written once
// when the main window goes away. The profile itself is app/settings/ini_profile.h.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "app/settings/ini_profile.h"
#include "app/settings/settings_table.h"
#include "controller/controller_state.h"
#include "controller/step_table.h"

namespace tovrik {

// TOVRIK.INI (the executable's base name + ".INI") in $XDG_CONFIG_HOME, else ~/.config.
// A relative or empty XDG_CONFIG_HOME is ignored; without HOME the password database's home
// folder is used. On Windows: %APPDATA%\TOVRIK\TOVRIK.INI.
std::filesystem::path DefaultProfilePath(const std::string& executableBaseName);

// The file to read the settings from at start: `profile`, or on Windows, while `profile` does
// not exist, the copy a save could not move into place (kept under its temporary name), else
// the TOVRIK.INI an older installation kept in the Windows folder (or its VirtualStore copy),
// so that its settings carry over.
std::filesystem::path ProfileToRead(const std::filesystem::path& profile,
                                    const std::string& executableBaseName);

// A decimal number in the C locale, whatever the process locale: leading white space, an
// optional sign, digits, an optional point and fraction, an optional exponent; the rest of
// the text is ignored. Text that does not start with a number (hex, "inf" and "nan" among
// it) gives 0.0, and so does a value too large for a double: the result is always finite.
// Stops at an embedded NUL.
double ParseProfileDouble(const std::string& text);

// printf("%.*f") in the C locale. Written in full however long ("%f" of 1e300 has over 300
// characters): cut to a fixed buffer, the number would read back as a different value.
// inf and nan come out as strtod reads them.
std::string FormatFixed(double value, int decimals);

// Reads every key into `state` (the rows of SettingsTable, then Freq when SaveFreq is set,
// Step and the presets) and returns the step index to mark
// pressed (a stored index outside 0..8 falls back to the default). Sets outputOn when
// OutStart is set. Does not refresh: the caller marks the step button, the output button and
// then calls Refresh().
int LoadSettings(const IniProfile& profile, ControllerState& state);

// Writes every key from `state`: Freq, Step, the rows of SettingsTable, the presets.
// `pressedStepIndex` is the pressed step button's index 0..8, or empty while the fine step is
// selected (Step then keeps its stored value).
void SaveSettings(IniProfile& profile, const ControllerState& state,
                  std::optional<int> pressedStepIndex);

}  // namespace tovrik
