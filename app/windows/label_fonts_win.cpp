#include "app/windows/label_fonts_win.h"

#include <string>

#include "app/ui/templates.h"
#include "win32/dpi.h"
#include "win32/text.h"

namespace tovrik::win {
namespace {

// Weight and pitch matter when the face is missing: they steer GDI's choice of a fallback.
UniqueFont LabelFont(int cellHeight, int weight, BYTE pitchAndFamily) {
    const std::wstring face = Widen(ui::kFixedFontFace);
    return UniqueFont(::CreateFontW(cellHeight, 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                    SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, pitchAndFamily, face.c_str()));
}

}  // namespace

UniqueFont CaptionFont(UINT dpi) {
    return LabelFont(ScaleToDpi(ui::kCaptionFontHeight, dpi), FW_DONTCARE, DEFAULT_PITCH);
}

UniqueFont ReadoutFont(UINT dpi) {
    return LabelFont(ScaleToDpi(ui::kReadoutFontHeight, dpi), FW_BOLD, FIXED_PITCH);
}

}  // namespace tovrik::win
