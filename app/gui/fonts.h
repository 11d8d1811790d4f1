// The application's fonts. The Windows faces are rarely installed here, so each has a chain
// of substitutes: the IPA face of the same kind, then any Japanese-capable face of that kind.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace tovrik::gui {

enum class FaceKind { Proportional, Fixed };

// The first installed of `preferred`, then any Japanese-capable family of `kind`, then for
// `Fixed` the system's fixed-pitch family; empty when nothing fits (the toolkit's default
// then applies).
QString ResolveFamily(const QStringList& preferred, FaceKind kind);
// Whether the family's digits and Latin letters share one advance (CJK gothic faces with
// half-width Latin count, though fontconfig calls them dual width).
bool HasFixedPitchLatin(const QString& family);

QFont DialogFont();   // 9 pt proportional
QFont CaptionFont();  // 24 px cell height, fixed pitch
QFont ReadoutFont();  // 48 px cell height, bold, fixed pitch

// `font` shrunk until every text fits `width` x `height` pixels and its cell height is at
// most `cellHeight` (a pixel-sized font's em is not its cell height).
QFont FitFont(QFont font, int cellHeight, const QStringList& texts, int width, int height);

}  // namespace tovrik::gui
