#include "app/gui/dialog_builder.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/gui/controls.h"
#include "app/gui/fonts.h"

namespace tovrik::gui {
namespace {

Qt::Alignment LabelAlignment(const ControlTemplate& control) {
    Qt::Alignment vertical = (control.style & kVCenter) != 0 ? Qt::AlignVCenter : Qt::AlignTop;
    switch (control.kind) {
        case ControlKind::StaticCenter:
            return Qt::AlignHCenter | vertical;
        case ControlKind::StaticRight:
            return Qt::AlignRight | vertical;
        default:
            return Qt::AlignLeft | vertical;
    }
}

QWidget* Create(const ControlTemplate& control, QWidget* parent) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
        case ControlKind::PushLikeRadio: {
            auto* button = new QPushButton(text, parent);
            button->setAutoDefault(false);
            button->setDefault(control.kind == ControlKind::DefaultPushButton);
            button->setCheckable(control.kind == ControlKind::PushLikeRadio);
            return button;
        }
        case ControlKind::AutoCheckBox:
            return new TwoStateCheckBox(text, parent);
        case ControlKind::StaticLeft:
        case ControlKind::StaticCenter:
        case ControlKind::StaticRight:
        case ControlKind::StaticIcon: {
            QLabel* label =
                (control.style & kNotify) != 0 ? new ClickableLabel(parent) : new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setText(text);
            label->setAlignment(control.kind == ControlKind::StaticIcon ? Qt::AlignCenter
                                                                        : LabelAlignment(control));
            if ((control.style & (kSunken | kBorder)) != 0) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setLineWidth(2);
            }
            return label;
        }
        case ControlKind::UpDown:
            return new UpDownControl(parent);
        case ControlKind::DropDownList: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(false);
            return combo;
        }
    }
    return new QWidget(parent);
}

}  // namespace

BuiltControls BuildControls(const DialogTemplate& dialog, QWidget* client, const BaseUnits& base) {
    client->setFixedSize(ClientSize(dialog, base));
    BuiltControls built;
    QWidget* previousTabStop = nullptr;
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = Create(control, client);
        QRect rect = ToPixels(control, base);
        if (control.kind == ControlKind::DropDownList) {
            // The template height includes the dropped list; the closed box keeps Qt's height.
            rect.setHeight(widget->sizeHint().height());
        }
        widget->setGeometry(rect);
        if ((control.style & kTabStop) != 0) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop != nullptr) QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else if (widget->focusPolicy() != Qt::NoFocus) {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
        if (control.id != kNoId) {
            widget->setObjectName(QString::number(control.id));
            built.byId[control.id] = widget;
        }
        built.inOrder.append(widget);
    }
    return built;
}

void ApplyDialogFrame(QWidget* window, const DialogTemplate& dialog, bool applicationWindow) {
    window->setWindowTitle(QString::fromUtf8(dialog.caption));
    window->setWindowFlags((applicationWindow ? Qt::Window : Qt::Dialog) | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint);
}

BuiltControls BuildModalDialog(QWidget* dialog, const DialogTemplate& dialogTemplate) {
    ApplyDialogFrame(dialog, dialogTemplate);
    dialog->setFont(DialogFont());
    dialog->setWindowModality(Qt::ApplicationModal);
    auto* client = new QWidget(dialog);
    BuiltControls controls = BuildControls(dialogTemplate, client, BaseUnitsOf(dialog->font()));
    // Enter presses the push button that has the focus, and the template's default button
    // only when no push button has it, as in any dialog of the system this comes from.
    for (QWidget* widget : controls.inOrder) {
        if (auto* button = qobject_cast<QPushButton*>(widget); button && !button->isCheckable()) {
            button->setAutoDefault(true);
        }
    }
    dialog->setFixedSize(client->size());
    return controls;
}

}  // namespace tovrik::gui
