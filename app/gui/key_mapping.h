// Qt key events to the virtual-key codes the controller's key filter is defined over.
#pragma once

#include <QKeyEvent>

namespace tovrik::gui {

// 0 for keys the filter does not know. Modifiers other than the keypad flag are ignored
// (Shift+K is K); keypad digits and the keypad decimal map to 0, keypad + and - to their own
// codes. `nativeScanCode` lets shifted digit-row keys (Shift+1 gives '!') still count as
// their digit when the platform reports xkb key codes; pass 0 when unknown.
int VirtualKeyFor(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0);
// Whether the Qt platform plugin of that name reports xkb key codes as native scan codes.
bool ReportsXkbKeyCodes(const QString& platformName);
int VirtualKeyFor(const QKeyEvent& event);

}  // namespace tovrik::gui
