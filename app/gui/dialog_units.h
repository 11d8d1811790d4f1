// Dialog units to pixels, from the dialog font's base units.
#pragma once

#include <QFont>
#include <QRect>

#include "app/ui/templates.h"

namespace tovrik::gui {

// The templates are toolkit-free data; the Qt shell uses their names as its own.
using namespace tovrik::ui;

struct BaseUnits {
    int x = 0;  // average advance of the 52 letters A-Z a-z, rounded
    int y = 0;  // font height
};

BaseUnits BaseUnitsOf(const QFont& font);

// x px = x * baseX / 4, y px = y * baseY / 8, each rounded to nearest.
int HorizontalPixels(int dialogUnits, const BaseUnits& base);
int VerticalPixels(int dialogUnits, const BaseUnits& base);
QRect ToPixels(const ControlTemplate& control, const BaseUnits& base);
QSize ClientSize(const DialogTemplate& dialog, const BaseUnits& base);

}  // namespace tovrik::gui
