// The fonts TOVRIK.exe gives its caption and readout, as GDI holds them: cell heights scaled
// by the DPI, and weight and pitch that leave GDI's fallback free where they should.
#include "app/windows/label_fonts_win.h"

#include <gtest/gtest.h>

#include <string>

#include "app/ui/templates.h"
#include "win32/text.h"

namespace tovrik::win {
namespace {

LOGFONTW Logical(const UniqueFont& font) {
    LOGFONTW logical{};
    EXPECT_NE(::GetObjectW(font.get(), sizeof logical, &logical), 0);
    return logical;
}

TEST(LabelFonts, CellHeightsFollowTheDpiWeightAndPitchStay) {
    struct Case {
        UINT dpi;
        LONG caption, readout;
    };
    for (const Case& c :
         {Case{96, 24, 48}, Case{120, 30, 60}, Case{144, 36, 72}, Case{192, 48, 96}}) {
        const LOGFONTW caption = Logical(CaptionFont(c.dpi));
        const LOGFONTW readout = Logical(ReadoutFont(c.dpi));
        EXPECT_EQ(caption.lfHeight, c.caption) << c.dpi;
        EXPECT_EQ(readout.lfHeight, c.readout) << c.dpi;
        EXPECT_EQ(caption.lfWeight, FW_DONTCARE);
        EXPECT_EQ(caption.lfPitchAndFamily, DEFAULT_PITCH);
        EXPECT_EQ(readout.lfWeight, FW_BOLD);
        EXPECT_EQ(readout.lfPitchAndFamily, FIXED_PITCH);
        for (const LOGFONTW& font : {caption, readout}) {
            EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
            EXPECT_EQ(std::wstring(font.lfFaceName), Widen(ui::kFixedFontFace));
        }
    }
}

}  // namespace
}  // namespace tovrik::win
