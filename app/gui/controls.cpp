#include "app/gui/controls.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>

namespace tovrik::gui {

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pressed_ = true;
    QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt delivers press, release, press, double-click, release; the release that ends the
    // double-click is not another click.
    if (event->button() == Qt::LeftButton) inDoubleClick_ = true;
    QLabel::mouseDoubleClickEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const bool click = pressed_ && !inDoubleClick_;
        pressed_ = false;
        inDoubleClick_ = false;
        if (click) emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

UpDownControl::UpDownControl(QWidget* parent)
    : QWidget(parent),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)),
      repeat_(new QTimer(this)) {
    for (QToolButton* arrow : {up_, down_}) arrow->setFocusPolicy(Qt::NoFocus);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    // An up-down control steps as the arrow goes down, then on every repeat while held. The
    // repeat is ours, not the button's: a button's own repeat runs on inside a message box's
    // event loop, which swallows the release that would stop it.
    connect(up_, &QToolButton::pressed, this, [this] { Press(-1); });
    connect(down_, &QToolButton::pressed, this, [this] { Press(+1); });
    for (QToolButton* arrow : {up_, down_}) {
        connect(arrow, &QToolButton::released, this, &UpDownControl::LetGo);
    }
    connect(repeat_, &QTimer::timeout, this, &UpDownControl::Repeat);
}

void UpDownControl::Press(int delta) {
    // Armed before the change: a modal box the change opens lets go again through LetGo.
    heldDelta_ = delta;
    repeat_->start(kRepeatDelayMs);
    emit deltaProposed(delta);
}

void UpDownControl::Repeat() {
    if (heldDelta_ == 0 || !QGuiApplication::mouseButtons().testFlag(Qt::LeftButton)) {
        LetGo();
        return;
    }
    repeat_->start(kRepeatIntervalMs);
    emit deltaProposed(heldDelta_);
}

void UpDownControl::LetGo() {
    heldDelta_ = 0;
    repeat_->stop();
    for (QToolButton* arrow : {up_, down_}) {
        if (arrow->isDown()) arrow->setDown(false);
    }
}

bool UpDownControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ &&
        (event->type() == QEvent::WindowBlocked || event->type() == QEvent::WindowDeactivate)) {
        LetGo();
    }
    return QWidget::eventFilter(watched, event);
}

void UpDownControl::showEvent(QShowEvent* event) {
    // The window is known only once the control sits in it.
    if (watchedWindow_ != window()) {
        if (watchedWindow_ != nullptr) watchedWindow_->removeEventFilter(this);
        watchedWindow_ = window();
        watchedWindow_->installEventFilter(this);
    }
    QWidget::showEvent(event);
}

void UpDownControl::hideEvent(QHideEvent* event) {
    LetGo();
    QWidget::hideEvent(event);
}

void UpDownControl::resizeEvent(QResizeEvent* event) {
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
    QWidget::resizeEvent(event);
}

void TwoStateCheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

std::optional<int> WheelNotches::Feed(int delta) {
    constexpr int kNotch = 120;
    if (delta <= -kNotch || delta >= kNotch) {
        pending_ = 0;
        return delta;
    }
    // Turning back discards what was gathered the other way.
    if ((delta < 0 && pending_ > 0) || (delta > 0 && pending_ < 0)) pending_ = 0;
    pending_ += delta;  // |pending_| stays below 2 * kNotch
    const int whole = pending_ / kNotch * kNotch;
    if (whole == 0) return std::nullopt;
    pending_ -= whole;
    return whole;
}

}  // namespace tovrik::gui
