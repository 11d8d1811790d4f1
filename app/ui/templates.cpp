#include "app/gui/templates.h"

#include <array>

namespace tovrik::gui {
namespace {

using K = ControlKind;

constexpr std::array kMainControls = {
    ControlTemplate{1030, K::StaticLeft, "TOVRIK:未検出", kGroup, 13, 11, 204, 9},
    ControlTemplate{1005, K::StaticCenter, "出力周波数", kGroup | kVCenter, 19, 21, 226, 19},
    ControlTemplate{1006, K::StaticRight, "12,345,678.90Hz",
                    kGroup | kVCenter | kSunken | kBorder | kNotify, 13, 43, 223, 38},
    ControlTemplate{1000, K::UpDown, "Spin1", kArrowKeys, 235, 43, 11, 38},
    ControlTemplate{1016, K::PushLikeRadio, "10M", kNoStyle, 13, 81, 25, 12},
    ControlTemplate{1017, K::PushLikeRadio, "1M", kNoStyle, 38, 81, 25, 12},
    ControlTemplate{1018, K::PushLikeRadio, "100k", kNoStyle, 63, 81, 25, 12},
    ControlTemplate{1019, K::PushLikeRadio, "10k", kNoStyle, 87, 81, 25, 12},
    ControlTemplate{1020, K::PushLikeRadio, "1k", kNoStyle, 111, 81, 25, 12},
    ControlTemplate{1021, K::PushLikeRadio, "100Hz", kNoStyle, 136, 81, 25, 12},
    ControlTemplate{1022, K::PushLikeRadio, "10Hz", kNoStyle, 161, 81, 25, 12},
    ControlTemplate{1023, K::PushLikeRadio, "1Hz", kNoStyle, 186, 81, 25, 12},
    ControlTemplate{1024, K::PushLikeRadio, "0.1Hz", kNoStyle, 211, 81, 25, 12},
    ControlTemplate{1025, K::PushLikeRadio, "*", kNoStyle, 236, 81, 8, 12},
    ControlTemplate{kNoId, K::StaticCenter, "プリセット", kGroup | kVCenter, 26, 101, 29, 17},
    ControlTemplate{1002, K::PushButton, "M1", kTabStop, 81, 101, 39, 17},
    ControlTemplate{1003, K::PushButton, "M2", kTabStop, 120, 101, 39, 17},
    ControlTemplate{1004, K::PushButton, "M3", kTabStop, 159, 101, 39, 17},
    ControlTemplate{1029, K::PushLikeRadio, "出力(&O)", kGroup, 211, 133, 40, 21},
    ControlTemplate{1027, K::PushButton, "終了(&X)", kTabStop, 7, 133, 40, 21},
    ControlTemplate{1031, K::PushLikeRadio, "書込", kGroup, 57, 101, 18, 17},
};

constexpr std::array kSettingsControls = {
    ControlTemplate{command::kOk, K::DefaultPushButton, "OK", kTabStop, 166, 7, 50, 14},
    ControlTemplate{command::kCancel, K::PushButton, "ｷｬﾝｾﾙ", kTabStop, 166, 24, 50, 14},
    ControlTemplate{1031, K::AutoCheckBox, "最後に設定した周波数で起動する", kTabStop, 16, 38, 125,
                    12},
    ControlTemplate{1032, K::AutoCheckBox, "スピンボタンの動作を逆にする", kTabStop, 16, 55, 125,
                    12},
    ControlTemplate{1033, K::AutoCheckBox, "ホイールの動作を逆にする", kTabStop, 16, 72, 125, 12},
    ControlTemplate{1034, K::AutoCheckBox, "起動と同時に出力を開始する", kTabStop, 16, 89, 125, 12},
    ControlTemplate{1035, K::AutoCheckBox, "終了時に出力をOFFにしない", kTabStop, 16, 106, 125, 12},
    ControlTemplate{1036, K::AutoCheckBox, "出力をOFFにしないと周波数を変更できないようにする",
                    kTabStop, 16, 123, 169, 12},
    ControlTemplate{1037, K::DropDownList, "", kVScroll | kTabStop, 53, 16, 76, 86},
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
std::span<const char* const> DisplayModeEntries() {
    return kDisplayModes;
}

}  // namespace tovrik::gui
