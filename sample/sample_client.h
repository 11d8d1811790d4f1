// What the sample's window does, without a GUI toolkit: the Qt window and the Win32 window
// both drive this, so texts, conversion and the order of calls exist once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sample/library_binding.h"

namespace tovrik::sample {

inline constexpr const char* kProgramTitle = "tovrik-sample";

// Texts shown to the user (UTF-8).
namespace text {
inline constexpr const char* kWindowTitle = "Form1";
inline constexpr const char* kLabel1 = "周波数(Hz)";
inline constexpr const char* kText1 = "12800000";
inline constexpr const char* kCommand1 = "出力";
inline constexpr const char* kCommand2 = "省電力モード";
inline constexpr const char* kDetected = "TOVRIKを検出しました";
inline constexpr const char* kNotDetected = "TOVRIKが検出できません";
inline constexpr const char* kUnusableFrequency = "この周波数は使用できません";
}  // namespace text

// The window's layout in twips (1/1440 inch): left, top, width, height.
struct TwipRect {
    int left, top, width, height;
};
inline constexpr int kClientWidthTwips = 4665;
inline constexpr int kClientHeightTwips = 3165;
inline constexpr TwipRect kLabel1Rect{360, 120, 2055, 375};
inline constexpr TwipRect kText1Rect{720, 600, 3135, 615};
inline constexpr TwipRect kCommand1Rect{3480, 2520, 975, 495};
inline constexpr TwipRect kCommand2Rect{1680, 2520, 1695, 495};
inline constexpr const char* kJapaneseFace = "ＭＳ ゴシック";
inline constexpr double kLabel1PointSize = 14.25;
inline constexpr double kText1PointSize = 24.0;

// Twips to pixels at `dpi` logical dots per inch.
int TwipsToPixels(int twips, double dpi);

// The message for an operation that could not be bound.
std::string BindFailureMessage(const BindError& error);

// A number as typed, with `decimalPoint` as the user's decimal separator: blanks around it,
// an optional sign, digits with at most one separator, an optional exponent; nothing else.
std::optional<double> ParseTypedNumber(std::string_view text, char decimalPoint);

class SampleClient {
  public:
    using ShowMessage = std::function<void(const std::string& text)>;
    SampleClient(LibraryBinding& library, ShowMessage showMessage);

    // The window's load: looks for the first TOVRIK once and says whether it found one.
    void Load();
    // Command1: the typed frequency (empty when the text is no number) to the TOVRIK.
    void SendFrequency(std::optional<double> hz);
    // Command2: the power-saving report.
    void Suspend();

    const std::string& devicePath() const { return devicePath_; }

  private:
    LibraryBinding& library_;
    ShowMessage showMessage_;
    std::string devicePath_;  // set once, at load
};

}  // namespace tovrik::sample
