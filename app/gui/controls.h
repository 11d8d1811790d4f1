// The few controls whose Windows behaviour the stock Qt widgets lack.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QWidget>
#include <optional>

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
class UpDownControl : public QWidget {
    Q_OBJECT
  public:
    explicit UpDownControl(QWidget* parent = nullptr);
    QToolButton* upArrow() const { return up_; }
    QToolButton* downArrow() const { return down_; }

  signals:
    void deltaProposed(int delta);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QToolButton* up_;
    QToolButton* down_;
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
