// The few controls whose Windows behaviour the stock Qt widgets lack.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QWidget>
#include <optional>

class QTimer;
class QToolButton;

namespace tovrik::gui {

// A static text that reports single clicks. The second click of a double-click is not a
// click of its own.
class ClickableLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
    bool inDoubleClick_ = false;
};

// An up-down control with no buddy: two stacked arrows, repeating while held. Each press
// and each repeat proposes a change of the position, -1 for the upper arrow and +1 for the
// lower one (the sense of a control left at its default range).
//
// A repeat needs the user's finger on the button: the arrows let go as soon as their window
// is blocked by a modal box (which a proposed change may open) or is hidden, and a repeat
// that finds no mouse button held stops instead of stepping.
class UpDownControl : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRepeatDelayMs = 300;
    static constexpr int kRepeatIntervalMs = 100;

    explicit UpDownControl(QWidget* parent = nullptr);
    QToolButton* upArrow() const { return up_; }
    QToolButton* downArrow() const { return down_; }

  signals:
    void deltaProposed(int delta);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void Press(int delta);
    void Repeat();
    void LetGo();

    QToolButton* up_;
    QToolButton* down_;
    QTimer* repeat_;
    int heldDelta_ = 0;  // 0 while no arrow is held
    QWidget* watchedWindow_ = nullptr;
};

// An automatic check box that can show the third state for a value it was handed, but that
// the user toggles only between checked and unchecked (from the third state to checked).
class TwoStateCheckBox : public QCheckBox {
    Q_OBJECT
  public:
    using QCheckBox::QCheckBox;

  protected:
    void nextCheckState() override;
};

// Turns Qt's wheel events into the deltas of wheel messages. A whole notch (120 or more)
// passes as it comes; the fragments of a high-resolution wheel or a touchpad are added up
// until they make whole notches, which pass together, so such devices tune too.
class WheelNotches {
  public:
    std::optional<int> Feed(int delta);

  private:
    int pending_ = 0;
};

}  // namespace tovrik::gui
