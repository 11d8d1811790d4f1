#include "app/ui/templates.h"

#include <array>

namespace tovrik::ui {
namespace {

using K = ControlKind;
namespace c = control;
namespace sc = settings_control;

constexpr std::array kMainControls = {
    ControlTemplate{c::kStatusLine, K::StaticLeft, "TOVRIK:未検出", kGroup, 13, 11, 204, 9},
    ControlTemplate{c::kReadoutCaption, K::StaticCenter, "出力周波数", kGroup | kVCenter, 19, 21,
                    226, 19},
    ControlTemplate{c::kReadout, K::StaticRight, "12,345,678.90Hz",
                    kGroup | kVCenter | kSunken | kBorder | kNotify, 13, 43, 223, 38},
    ControlTemplate{c::kSpin, K::UpDown, "Spin1", kArrowKeys, 235, 43, 11, 38},
    StepButton(0, 13),
    StepButton(1, 38),
    StepButton(2, 63),
    StepButton(3, 87),
    StepButton(4, 111),
    StepButton(5, 136),
    StepButton(6, 161),
    StepButton(7, 186),
    StepButton(8, 211),
    ControlTemplate{c::kFineStepButton, K::PushLikeRadio, "*", kNoStyle, 236, 81, 8, 12},
    ControlTemplate{kNoId, K::StaticCenter, "プリセット", kGroup | kVCenter, 26, 101, 29, 17},
    ControlTemplate{c::kPresetM1, K::PushButton, "M1", kTabStop, 81, 101, 39, 17},
    ControlTemplate{c::kPresetM2, K::PushButton, "M2", kTabStop, 120, 101, 39, 17},
    ControlTemplate{c::kPresetM3, K::PushButton, "M3", kTabStop, 159, 101, 39, 17},
    ControlTemplate{c::kOutputButton, K::PushLikeRadio, "出力(&O)", kGroup, 211, 133, 40, 21},
    ControlTemplate{c::kExitButton, K::PushButton, "終了(&X)", kTabStop, 7, 133, 40, 21},
    ControlTemplate{c::kWriteButton, K::PushLikeRadio, "書込", kGroup, 57, 101, 18, 17},
};

constexpr std::array kSettingsControls = {
    ControlTemplate{command::kOk, K::DefaultPushButton, "OK", kTabStop, 166, 7, 50, 14},
    ControlTemplate{command::kCancel, K::PushButton, "ｷｬﾝｾﾙ", kTabStop, 166, 24, 50, 14},
    ControlTemplate{sc::kSaveFrequency, K::AutoCheckBox, "最後に設定した周波数で起動する", kTabStop,
                    16, 38, 125, 12},
    ControlTemplate{sc::kReverseSpin, K::AutoCheckBox, "スピンボタンの動作を逆にする", kTabStop, 16,
                    55, 125, 12},
    ControlTemplate{sc::kReverseWheel, K::AutoCheckBox, "ホイールの動作を逆にする", kTabStop, 16,
                    72, 125, 12},
    ControlTemplate{sc::kOutputAtStart, K::AutoCheckBox, "起動と同時に出力を開始する", kTabStop, 16,
                    89, 125, 12},
    ControlTemplate{sc::kKeepOutputOnExit, K::AutoCheckBox, "終了時に出力をOFFにしない", kTabStop,
                    16, 106, 125, 12},
    ControlTemplate{sc::kLockWhileOutput, K::AutoCheckBox,
                    "出力をOFFにしないと周波数を変更できないようにする", kTabStop, 16, 123, 169,
                    12},
    ControlTemplate{sc::kDisplayFormat, K::DropDownList, "", kVScroll | kTabStop, 53, 16, 76, 86},
    ControlTemplate{kNoId, K::StaticLeft, "周波数表示", kGroup | kVCenter, 14, 16, 37, 12},
};

constexpr std::array kAboutControls = {
    ControlTemplate{kNoId, K::StaticIcon, "", kNoStyle, 11, 17, 20, 20},
    ControlTemplate{kNoId, K::StaticLeft, "TOVRIK Version 1.0", kNoPrefix | kGroup, 40, 10, 119, 8},
    ControlTemplate{kNoId, K::StaticLeft, kAboutSecondLine, kGroup, 40, 25, 119, 8},
    ControlTemplate{command::kOk, K::DefaultPushButton, "OK", kTabStop | kGroup, 178, 7, 50, 14},
};

constexpr std::array kMenu = {
    MenuItem{"設定(&S)", command::kSettings},
    MenuItem{"TOVRIKのﾊﾞｰｼﾞｮﾝ(&V)", command::kFirmwareVersion},
};

constexpr MenuItem kAboutItem{"TOVRIK のﾊﾞｰｼﾞｮﾝ情報(&A)...", command::kAbout};

constexpr std::array<const char*, 4> kDisplayModes = {
    "小数点以下(２桁)",
    "小数点以下非表示",
    "自動単位調整",
    "バイナリ値",
};

constexpr DialogTemplate kMain{kMainDialogId,   "TOVRIK", 258,          161,
                               kDialogFontFace, 9,        kMainControls};
constexpr DialogTemplate kSettings{0, "初期設定", 223, 187, kDialogFontFace, 9, kSettingsControls};
constexpr DialogTemplate kAbout{kAboutDialogId, "TOVRIKのﾊﾞｰｼﾞｮﾝ情報", 235, 55, kDialogFontFace, 9,
                                kAboutControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() {
    return kMain;
}
const DialogTemplate& SettingsDialogTemplate() {
    return kSettings;
}
const DialogTemplate& AboutDialogTemplate() {
    return kAbout;
}
std::span<const MenuItem> MainMenu() {
    return kMenu;
}
const MenuItem& AboutMenuItem() {
    return kAboutItem;
}
std::string PlainControlText(const DialogTemplate& dialog, int id) {
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id != id || control.text == nullptr) continue;
        std::string text = control.text;
        // Japanese labels carry the mnemonic as a suffix "(&X)"; others mark a letter.
        if (const auto open = text.find("(&"); open != std::string::npos && text.back() == ')') {
            text.erase(open);
        }
        std::string plain;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '&' && i + 1 < text.size()) ++i;  // "&&" keeps one '&'
            plain += text[i];
        }
        return plain;
    }
    return {};
}

std::span<const char* const> DisplayModeEntries() {
    return kDisplayModes;
}

}  // namespace tovrik::ui
