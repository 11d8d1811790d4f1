#include "app/gui/controls.h"

#include <QMouseEvent>
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
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    for (QToolButton* arrow : {up_, down_}) {
        arrow->setAutoRepeat(true);
        arrow->setFocusPolicy(Qt::NoFocus);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    // An up-down control steps as the arrow goes down, then on every repeat while held; an
    // auto-repeating button signals pressed for both, and only clicked on the release.
    connect(up_, &QToolButton::pressed, this, [this] { emit deltaProposed(-1); });
    connect(down_, &QToolButton::pressed, this, [this] { emit deltaProposed(+1); });
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
