#include "app/gui/input_router.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <limits>

#include "app/gui/key_mapping.h"

namespace tovrik::gui {

std::optional<Qt::Key> MnemonicOf(const char* utf8) {
    const QString text = QString::fromUtf8(utf8);
    const qsizetype amp = text.indexOf(QLatin1Char('&'));
    if (amp < 0 || amp + 1 >= text.size()) return std::nullopt;
    const QChar letter = text.at(amp + 1).toUpper();
    if (letter < QLatin1Char('A') || letter > QLatin1Char('Z')) return std::nullopt;
    return static_cast<Qt::Key>(Qt::Key_A + (letter.unicode() - 'A'));
}

InputRouter::InputRouter(QWidget* window, InputTarget target)
    : window_(window), target_(std::move(target)) {
    qApp->installEventFilter(this);
}

InputRouter::~InputRouter() {
    qApp->removeEventFilter(this);
}

void InputRouter::AddMnemonic(Qt::Key key, int commandId, bool needsAlt) {
    mnemonics_.push_back({key, commandId, needsAlt});
}

bool InputRouter::BoundForWindow(QObject* watched) const {
    if (stopped_) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && widget->window() == window_;
}

bool InputRouter::FirstSighting(QObject* watched, const QKeyEvent* event) {
    // An ignored key event travels on to the parent widgets as the same object.
    auto* widget = qobject_cast<QWidget*>(watched);
    auto* lastWidget = qobject_cast<QWidget*>(lastKeyReceiver_);
    const bool propagated = event == lastKey_ && event->timestamp() == lastKeyTimestamp_ &&
                            lastWidget != nullptr && widget != nullptr && widget != lastWidget &&
                            widget->isAncestorOf(lastWidget);
    lastKey_ = event;
    lastKeyTimestamp_ = event->timestamp();
    if (!propagated) lastKeyReceiver_ = watched;
    return !propagated;
}

bool InputRouter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            if (!BoundForWindow(watched)) break;
            // Every key of this window goes through the key filter below, none to a shortcut.
            event->accept();
            return true;
        case QEvent::KeyPress: {
            if (!BoundForWindow(watched)) break;
            auto* key = dynamic_cast<QKeyEvent*>(event);
            if (key == nullptr || !FirstSighting(watched, key)) break;
            return PreTranslateKey(key);
        }
        case QEvent::Wheel: {
            if (!BoundForWindow(watched)) break;
            if (const auto* wheel = dynamic_cast<const QWheelEvent*>(event)) Wheel(wheel);
            return true;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void InputRouter::Wheel(const QWheelEvent* event) {
    int delta = event->angleDelta().y();
    // X11 turns the wheel sideways while Alt is held; the wheel still tunes then.
    if (delta == 0 && event->modifiers().testFlag(Qt::AltModifier)) delta = event->angleDelta().x();
    if (delta == 0) return;  // a sideways scroll is another message
    if (const auto notches = wheelNotches_.Feed(delta)) {
        target_.wheel(static_cast<std::int16_t>(
            std::clamp<int>(*notches, std::numeric_limits<std::int16_t>::min(),
                            std::numeric_limits<std::int16_t>::max())));
    }
}

bool InputRouter::PreTranslateKey(QKeyEvent* event) {
    // With Alt held a key is a system key, which the controller's filter does not see.
    if (!event->modifiers().testFlag(Qt::AltModifier)) {
        const int virtualKey = VirtualKeyFor(*event);
        if (virtualKey != 0 && target_.previewKey(virtualKey) == KeyResult::Consumed) return true;
    }
    return DialogKey(event);
}

bool InputRouter::DialogKey(const QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool alt = modifiers.testFlag(Qt::AltModifier);
    if (alt && event->key() == Qt::Key_F4) {
        window_->close();
        return true;
    }
    if (modifiers.testFlag(Qt::ControlModifier) || modifiers.testFlag(Qt::MetaModifier)) {
        return false;
    }
    for (const Mnemonic& mnemonic : mnemonics_) {
        if (mnemonic.key != event->key() || (mnemonic.needsAlt && !alt)) continue;
        if (auto* button = qobject_cast<QAbstractButton*>(target_.control(mnemonic.commandId))) {
            button->click();
        } else {
            target_.command(mnemonic.commandId);
        }
        return true;
    }
    return false;
}

}  // namespace tovrik::gui
