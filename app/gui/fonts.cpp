#include "app/gui/fonts.h"

#include <QFontDatabase>
#include <QFontMetrics>

#include "app/ui/templates.h"

namespace tovrik::gui {

using namespace tovrik::ui;

bool HasFixedPitchLatin(const QString& family) {
    if (QFontDatabase::isFixedPitch(family)) return true;
    // Japanese gothic faces with half-width Latin are "dual" width to fontconfig, which Qt
    // does not call fixed; what the readout needs is one advance for every digit and letter.
    QFont font(family);
    font.setPixelSize(48);
    const QFontMetrics metrics(font);
    const int advance = metrics.horizontalAdvance(QLatin1Char('0'));
    for (const QChar c : QStringLiteral("1iWm.,H")) {
        if (metrics.horizontalAdvance(c) != advance) return false;
    }
    return true;
}

QString ResolveFamily(const QStringList& preferred, FaceKind kind) {
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : preferred) {
        if (installed.contains(family, Qt::CaseInsensitive)) return family;
    }
    const bool wantFixed = kind == FaceKind::Fixed;
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese)) {
        if (HasFixedPitchLatin(family) == wantFixed) return family;
    }
    // No Japanese face of that kind: the readout still wants a fixed pitch, and Japanese
    // text then comes from the toolkit's glyph fallback.
    if (wantFixed) return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    return {};
}

namespace {

QFont FamilyFont(const QString& family) {
    QFont font;
    if (!family.isEmpty()) font.setFamily(family);
    return font;
}

QFont FixedFont(int cellHeight, bool bold) {
    QFont font = FamilyFont(ResolveFamily(
        {QString::fromUtf8(kFixedFontFace), QStringLiteral("IPAGothic")}, FaceKind::Fixed));
    font.setFixedPitch(true);
    font.setStyleHint(QFont::Monospace);
    font.setBold(bold);
    font.setPixelSize(cellHeight);
    return FitFont(font, cellHeight, {}, 0, 0);
}

}  // namespace

QFont DialogFont() {
    QFont font =
        FamilyFont(ResolveFamily({QString::fromUtf8(kDialogFontFace), QStringLiteral("IPAPGothic")},
                                 FaceKind::Proportional));
    font.setPointSize(9);
    return font;
}

QFont CaptionFont() {
    return FixedFont(kCaptionFontHeight, false);
}
QFont ReadoutFont() {
    return FixedFont(kReadoutFontHeight, true);
}

QFont FitFont(QFont font, int cellHeight, const QStringList& texts, int width, int height) {
    const auto fits = [&](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        if (metrics.height() > cellHeight) return false;
        if (height > 0 && metrics.height() > height) return false;
        for (const QString& text : texts) {
            if (width > 0 && metrics.horizontalAdvance(text) > width) return false;
        }
        return true;
    };
    int size = font.pixelSize() > 0 ? font.pixelSize() : cellHeight;
    font.setPixelSize(size);
    while (size > 6 && !fits(font)) {
        font.setPixelSize(--size);
    }
    return font;
}

}  // namespace tovrik::gui
