// The main window's key and wheel path. An application-wide event filter sees every key
// press bound for the window before any widget does: the controller's key filter first
// (virtual-key codes, no Alt), then the dialog keys (Alt+F4, mnemonics). Wheel turns over
// any control tune. Kept apart from the window so synthetic events can drive it.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/gui/controls.h"
#include "controller/frequency_controller.h"

class QKeyEvent;
class QWheelEvent;
class QWidget;

namespace tovrik::gui {

// The letter after '&' in a caption, if any.
std::optional<Qt::Key> MnemonicOf(const char* utf8);

// What the router hands the keys and wheel turns to.
struct InputTarget {
    std::function<KeyResult(int virtualKey)> previewKey;
    std::function<void(std::int16_t delta)> wheel;  // whole notches, as a wheel message
    std::function<void(int commandId)> command;     // a mnemonic without a button
    std::function<QWidget*(int id)> control;        // a mnemonic's button, if it has one
};

class InputRouter : public QObject {
    Q_OBJECT
  public:
    // Filters the application's events from now until Stop() or destruction.
    InputRouter(QWidget* window, InputTarget target);
    ~InputRouter() override;
    InputRouter(const InputRouter&) = delete;
    InputRouter& operator=(const InputRouter&) = delete;

    // A menu mnemonic needs Alt; a button's works with and without it, as in a dialog.
    void AddMnemonic(Qt::Key key, int commandId, bool needsAlt);
    // The window went away: its keys and wheel turns are no longer taken.
    void Stop() { stopped_ = true; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Mnemonic {
        Qt::Key key;
        int commandId;
        bool needsAlt;
    };
    bool BoundForWindow(QObject* watched) const;
    bool FirstSighting(QObject* watched, const QKeyEvent* event);
    bool PreTranslateKey(QKeyEvent* event);
    bool DialogKey(const QKeyEvent* event);
    void Wheel(const QWheelEvent* event);

    QWidget* window_;
    InputTarget target_;
    std::vector<Mnemonic> mnemonics_;
    WheelNotches wheelNotches_;
    bool stopped_ = false;
    // The key event last seen, to tell its propagation to parent widgets from a new event.
    const QEvent* lastKey_ = nullptr;
    QObject* lastKeyReceiver_ = nullptr;
    quint64 lastKeyTimestamp_ = 0;
};

}  // namespace tovrik::gui
