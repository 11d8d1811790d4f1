#include "app/windows/dialog_template_win.h"

#include <commctrl.h>

#include <cstring>
#include <string>

#include "win32/text.h"

namespace tovrik::win {
namespace {

using ui::ControlKind;

// Predefined class atoms of the dialog template format.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kComboBoxAtom = 0x0085;

class TemplateWriter {
  public:
    void Word(WORD w) { bytes_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const std::wstring& text) {
        for (wchar_t c : text) Word(static_cast<WORD>(c));
        Word(0);
    }
    void Ordinal(WORD atom) {
        Word(0xFFFF);
        Word(atom);
    }
    void AlignDword() {
        if (bytes_.size() % 2 != 0) Word(0);
    }
    std::vector<std::uint32_t> Finish() const {
        std::vector<std::uint32_t> out((bytes_.size() + 1) / 2, 0);
        std::memcpy(out.data(), bytes_.data(), bytes_.size() * sizeof(WORD));
        return out;
    }

  private:
    std::vector<WORD> bytes_;
};

}  // namespace

DWORD ControlStyle(const ui::ControlTemplate& control) {
    DWORD style = WS_CHILD | WS_VISIBLE;
    const unsigned s = control.style;
    if (s & ui::kTabStop) style |= WS_TABSTOP;
    if (s & ui::kGroup) style |= WS_GROUP;
    if (s & ui::kBorder) style |= WS_BORDER;
    if (s & ui::kVScroll) style |= WS_VSCROLL;
    switch (control.kind) {
        case ControlKind::PushButton:
            return style | BS_PUSHBUTTON;
        case ControlKind::DefaultPushButton:
            return style | BS_DEFPUSHBUTTON;
        case ControlKind::PushLikeRadio:
            return style | BS_AUTORADIOBUTTON | BS_PUSHLIKE;
        // BS_AUTOCHECKBOX and SS_ICON happen to be the same number.
        case ControlKind::AutoCheckBox:  // NOLINT(bugprone-branch-clone)
            return style | BS_AUTOCHECKBOX;
        case ControlKind::StaticIcon:
            return style | SS_ICON;
        case ControlKind::UpDown:
            return style | (s & ui::kArrowKeys ? UDS_ARROWKEYS : 0);
        case ControlKind::DropDownList:
            return style | CBS_DROPDOWNLIST;
        case ControlKind::StaticLeft:
        case ControlKind::StaticCenter:
        case ControlKind::StaticRight:
            break;
    }
    style |= control.kind == ControlKind::StaticLeft     ? SS_LEFT
             : control.kind == ControlKind::StaticCenter ? SS_CENTER
                                                         : SS_RIGHT;
    if (s & ui::kSunken) style |= SS_SUNKEN;
    if (s & ui::kNotify) style |= SS_NOTIFY;
    if (s & ui::kVCenter) style |= SS_CENTERIMAGE;
    if (s & ui::kNoPrefix) style |= SS_NOPREFIX;
    return style;
}

std::vector<std::uint32_t> BuildDialogTemplate(const ui::DialogTemplate& dialog,
                                               DWORD dialogStyle) {
    TemplateWriter w;
    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature: extended template
    w.Dword(0);      // helpID
    w.Dword(0);      // exStyle
    w.Dword(dialogStyle | DS_SETFONT);
    w.Word(static_cast<WORD>(dialog.controls.size()));
    w.Word(0);
    w.Word(0);
    w.Word(static_cast<WORD>(dialog.w));
    w.Word(static_cast<WORD>(dialog.h));
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.Text(Widen(dialog.caption));
    w.Word(static_cast<WORD>(dialog.fontPointSize));
    w.Word(FW_NORMAL);
    w.Word(MAKEWORD(0, SHIFTJIS_CHARSET));  // italic, charset
    w.Text(Widen(dialog.fontFace));

    for (const ui::ControlTemplate& control : dialog.controls) {
        w.AlignDword();
        w.Dword(0);  // helpID
        w.Dword(0);  // exStyle
        w.Dword(ControlStyle(control));
        w.Word(static_cast<WORD>(control.x));
        w.Word(static_cast<WORD>(control.y));
        w.Word(static_cast<WORD>(control.w));
        w.Word(static_cast<WORD>(control.h));
        // Controls without an id get the static id (-1), as a resource compiler gives them.
        w.Dword(static_cast<DWORD>(control.id));
        switch (control.kind) {
            case ControlKind::UpDown:
                w.Text(UPDOWN_CLASSW);
                break;
            case ControlKind::DropDownList:
                w.Ordinal(kComboBoxAtom);
                break;
            case ControlKind::StaticLeft:
            case ControlKind::StaticCenter:
            case ControlKind::StaticRight:
            case ControlKind::StaticIcon:
                w.Ordinal(kStaticAtom);
                break;
            default:
                w.Ordinal(kButtonAtom);
                break;
        }
        if (control.kind == ControlKind::StaticIcon) {
            w.Ordinal(static_cast<WORD>(ui::kIconId));  // loaded from the module's resources
        } else {
            w.Text(Widen(control.text));
        }
        w.Word(0);  // no creation data
    }
    return w.Finish();
}

}  // namespace tovrik::win
