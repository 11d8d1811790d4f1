// Texts the controller shows the user (UTF-8). The window's own captions live in its
// templates (app/ui/templates.cpp).
#pragma once

namespace tovrik::text {

inline constexpr const char* kDeviceNotFound = "TOVRIKが見つかりません。";
inline constexpr const char* kStatusDetected = "TOVRIK 検出しました";
inline constexpr const char* kStatusNotDetected = "TOVRIK 未検出";
inline constexpr const char* kVersionUnavailable = "TOVRIKが未検出です";
// printf format; %s is the version text.
inline constexpr const char* kVersionFormat = "TOVRIKﾌｧｰﾑｳｪｱのﾊﾞｰｼﾞｮﾝは%sです。";

}  // namespace tovrik::text
