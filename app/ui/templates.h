// The dialog templates, menu and strings of the control application, kept as data in dialog
// units so the widgets are built from the same tables the layout was designed with. No GUI
// toolkit in here: every shell (Qt, Win32) builds its windows from these tables.
#pragma once

#include <span>
#include <string>

#include "controller/control_ids.h"
#include "controller/step_table.h"

namespace tovrik::ui {

enum class ControlKind {
    PushButton,
    DefaultPushButton,
    PushLikeRadio,  // checkable push button
    AutoCheckBox,
    StaticLeft,
    StaticCenter,
    StaticRight,
    StaticIcon,
    UpDown,
    DropDownList,
};

// Style bits that matter on this toolkit.
enum Style : unsigned {
    kNoStyle = 0,
    kTabStop = 1u << 0,
    kGroup = 1u << 1,
    kSunken = 1u << 2,
    kBorder = 1u << 3,
    kNotify = 1u << 4,
    kVCenter = 1u << 5,
    kNoPrefix = 1u << 6,
    kVScroll = 1u << 7,
    kArrowKeys = 1u << 8,
};

inline constexpr int kNoId = -1;

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;  // UTF-8; '&' marks a mnemonic
    unsigned style;
    int x, y, w, h;  // dialog units
};

// Step button `index` of the step table at column `x`: id and label come from the table, so
// a new step is one row there and one call here.
constexpr ControlTemplate StepButton(std::size_t index, int x) {
    return {StepTable[index].buttonId,
            ControlKind::PushLikeRadio,
            StepTable[index].label,
            kNoStyle,
            x,
            81,
            25,
            12};
}

struct DialogTemplate {
    int id;
    const char* caption;
    int w, h;  // client size in dialog units
    const char* fontFace;
    int fontPointSize;
    std::span<const ControlTemplate> controls;  // template order = tab order
};

struct MenuItem {
    const char* text;
    int commandId;
};

// Command ids that are not control ids.
namespace command {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kAbout = 16;
inline constexpr int kFirmwareVersion = 32772;
inline constexpr int kSettings = 65535;
}  // namespace command

inline constexpr int kMainDialogId = 102;
inline constexpr int kAboutDialogId = 100;
inline constexpr int kMenuId = 132;
inline constexpr int kIconId = 128;

inline constexpr const char* kDialogFontFace = "ＭＳ Ｐゴシック";
inline constexpr const char* kFixedFontFace = "ＭＳゴシック";
inline constexpr int kCaptionFontHeight = 24;  // cell height in pixels
inline constexpr int kReadoutFontHeight = 48;

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& SettingsDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
std::span<const MenuItem> MainMenu();
// The About entry; on X11 it goes into the main window's context menu.
const MenuItem& AboutMenuItem();

// A control's text as words elsewhere show it: without its mnemonic ("出力(&O)" gives "出力",
// "&Yes" gives "Yes"); empty when the dialog has no such control.
std::string PlainControlText(const DialogTemplate& dialog, int id);

// Entries of the settings dialog's format list; the index is the display mode.
std::span<const char* const> DisplayModeEntries();

// The About box's second line.
inline constexpr const char* kAboutSecondLine = "DDS信号発生器 制御ソフト";

}  // namespace tovrik::ui
