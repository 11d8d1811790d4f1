#include "app/gui/settings_dialog.h"

#include <QComboBox>
#include <QPushButton>

#include "app/gui/controls.h"
#include "app/gui/fonts.h"

namespace tovrik::gui {
namespace {

// The flag boxes in exchange order with the value each shows.
constexpr int kFlagBoxes[] = {1031, 1032, 1033, 1036, 1034};
constexpr int kFormatList = 1037;

int* FlagSlot(SettingsValues& values, int id) {
    switch (id) {
        case 1031:
            return &values.saveFrequency;
        case 1032:
            return &values.reverseSpin;
        case 1033:
            return &values.reverseWheel;
        case 1036:
            return &values.lockWhileOutput;
        case 1034:
            return &values.outputAtStart;
        default:
            return nullptr;
    }
}

}  // namespace

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
    const DialogTemplate& dialog = SettingsDialogTemplate();
    controls_ = BuildModalDialog(this, dialog);

    auto* list = static_cast<QComboBox*>(Control(kFormatList));
    for (const char* entry : DisplayModeEntries()) list->addItem(QString::fromUtf8(entry));
    list->setCurrentIndex(-1);

    connect(static_cast<QPushButton*>(Control(1)), &QPushButton::clicked, this, &QDialog::accept);
    connect(static_cast<QPushButton*>(Control(2)), &QPushButton::clicked, this, &QDialog::reject);
    Control(1)->setFocus();
}

QWidget* SettingsDialog::Control(int id) const {
    return controls_.Find(id);
}

void SettingsDialog::ExchangeIn(const SettingsValues& values) {
    SettingsValues copy = values;
    auto* list = static_cast<QComboBox*>(Control(kFormatList));
    list->setCurrentIndex(
        copy.displayMode >= 0 && copy.displayMode < list->count() ? copy.displayMode : -1);
    for (int id : kFlagBoxes) {
        int& value = *FlagSlot(copy, id);
        if (value < 0 || value > 2) value = 0;
        auto* box = static_cast<TwoStateCheckBox*>(Control(id));
        box->setTristate(value == 2);
        box->setCheckState(value == 2   ? Qt::PartiallyChecked
                           : value == 1 ? Qt::Checked
                                        : Qt::Unchecked);
    }
    // 1035 is dropped on close and opens unchecked every time.
    static_cast<TwoStateCheckBox*>(Control(1035))->setCheckState(Qt::Unchecked);
}

SettingsValues SettingsDialog::ExchangeOut() const {
    SettingsValues values;
    values.displayMode = static_cast<QComboBox*>(Control(kFormatList))->currentIndex();
    for (int id : kFlagBoxes) {
        const Qt::CheckState state = static_cast<TwoStateCheckBox*>(Control(id))->checkState();
        *FlagSlot(values, id) = state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
    }
    return values;
}

}  // namespace tovrik::gui
