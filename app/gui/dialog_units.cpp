#include "app/gui/dialog_units.h"

#include <QFontMetrics>

namespace tovrik::gui {
namespace {

// a * b / c rounded to nearest, halves away from zero; inputs are small template numbers.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int total = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return BaseUnits{(total + 26) / 52, metrics.height()};
}

int HorizontalPixels(int dialogUnits, const BaseUnits& base) {
    return MulDiv(dialogUnits, base.x, 4);
}

int VerticalPixels(int dialogUnits, const BaseUnits& base) {
    return MulDiv(dialogUnits, base.y, 8);
}

QRect ToPixels(const ControlTemplate& control, const BaseUnits& base) {
    return QRect(HorizontalPixels(control.x, base), VerticalPixels(control.y, base),
                 HorizontalPixels(control.w, base), VerticalPixels(control.h, base));
}

QSize ClientSize(const DialogTemplate& dialog, const BaseUnits& base) {
    return QSize(HorizontalPixels(dialog.w, base), VerticalPixels(dialog.h, base));
}

}  // namespace tovrik::gui
