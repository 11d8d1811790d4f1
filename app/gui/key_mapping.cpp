#include "app/gui/key_mapping.h"

#include <QGuiApplication>

#include "controller/frequency_controller.h"

namespace tovrik::gui {
namespace {

// xkb key codes (evdev + 8, as X11 and Wayland report them) of the main keyboard's digit row, 1..9
// then 0, and its period.
constexpr quint32 kX11DigitOne = 10;
constexpr quint32 kX11DigitZero = 19;
constexpr quint32 kX11Period = 60;

int FromScanCode(quint32 scanCode) {
    if (scanCode >= kX11DigitOne && scanCode < kX11DigitZero) {
        return vk::k0 + 1 + static_cast<int>(scanCode - kX11DigitOne);
    }
    if (scanCode == kX11DigitZero) return vk::k0;
    if (scanCode == kX11Period) return vk::kPeriod;
    return 0;
}

}  // namespace

int VirtualKeyFor(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode) {
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    switch (qtKey) {
        case Qt::Key_Backspace:
            return vk::kBack;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return vk::kReturn;
        case Qt::Key_Escape:
            return vk::kEscape;
        case Qt::Key_Delete:
            return vk::kDelete;
        case Qt::Key_F2:
            return vk::kF2;
        case Qt::Key_K:
            return vk::kK;
        case Qt::Key_M:
            return vk::kM;
        case Qt::Key_Plus:
            return keypad ? vk::kNumpadAdd : 0;
        case Qt::Key_Minus:
            return keypad ? vk::kNumpadSubtract : 0;
        case Qt::Key_Period:
            return keypad ? 0 : vk::kPeriod;
        default:
            break;
    }
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        return keypad ? 0 : vk::k0 + (qtKey - Qt::Key_0);
    }
    if (!keypad && modifiers.testFlag(Qt::ShiftModifier)) return FromScanCode(nativeScanCode);
    return 0;
}

bool ReportsXkbKeyCodes(const QString& platformName) {
    // X11 and every Wayland flavour ("wayland", "wayland-egl", ...) both go through xkb, whose
    // key codes are the evdev codes + 8; other backends report codes of their own.
    return platformName == QLatin1String("xcb") ||
           platformName.startsWith(QLatin1String("wayland"));
}

int VirtualKeyFor(const QKeyEvent& event) {
    const bool xkb = ReportsXkbKeyCodes(QGuiApplication::platformName());
    return VirtualKeyFor(event.key(), event.modifiers(), xkb ? event.nativeScanCode() : 0);
}

}  // namespace tovrik::gui
