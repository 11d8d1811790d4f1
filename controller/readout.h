#pragma once

#include <string>

namespace tovrik {

// 0: "9,999,999.99Hz", 1: "9,999,999Hz", 2: automatic unit ("9.99999999MHz"), 3: "0x0E38E38E".
// Any other mode formats like 1.
using DisplayMode = int;
inline constexpr DisplayMode kDisplayHundredths = 0;
inline constexpr DisplayMode kDisplayWholeHertz = 1;
inline constexpr DisplayMode kDisplayAutoUnit = 2;
inline constexpr DisplayMode kDisplayTuningWord = 3;

// `valueHz` is the quantized frequency the synthesizer produces, 0 <= value < 180 MHz.
std::string FormatReadout(double valueHz, DisplayMode mode);

}  // namespace tovrik
