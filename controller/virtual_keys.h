// Windows virtual-key codes: the controller's key filter is defined over them, so every
// shell maps its own key events to these (Qt in app/gui/key_mapping.cpp); Win32 key-downs
// carry them already.
#pragma once

namespace tovrik::vk {

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

}  // namespace tovrik::vk
