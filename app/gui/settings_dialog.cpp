#include "app/gui/settings_dialog.h"

#include <QComboBox>
#include <QPushButton>

#include "app/gui/controls.h"
#include "app/gui/fonts.h"
#include "app/settings/settings_table.h"

namespace tovrik::gui {
namespace {

int CheckValue(Qt::CheckState state) {
    return state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
}

}  // namespace

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
    const DialogTemplate& dialog = SettingsDialogTemplate();
    controls_ = BuildModalDialog(this, dialog);

    auto* list = ControlAs<QComboBox>(settings_control::kDisplayFormat);
    for (const char* entry : DisplayModeEntries()) list->addItem(QString::fromUtf8(entry));
    list->setCurrentIndex(-1);

    connect(ControlAs<QPushButton>(command::kOk), &QPushButton::clicked, this, &QDialog::accept);
    connect(ControlAs<QPushButton>(command::kCancel), &QPushButton::clicked, this,
            &QDialog::reject);
    Control(command::kOk)->setFocus();
}

QWidget* SettingsDialog::Control(int id) const {
    return controls_.Find(id);
}

void SettingsDialog::ExchangeIn(const SettingsValues& values) {
    for (const StoredSetting& row : SettingsTable) {
        const int value = values.*row.field;
        if (row.edit == SettingEdit::List) {
            auto* list = ControlAs<QComboBox>(row.controlId);
            list->setCurrentIndex(ShownListIndex(value, list->count()));
            continue;
        }
        const int shown = ShownCheckValue(value);
        auto* box = ControlAs<TwoStateCheckBox>(row.controlId);
        box->setTristate(shown == 2);
        box->setCheckState(shown == 2   ? Qt::PartiallyChecked
                           : shown == 1 ? Qt::Checked
                                        : Qt::Unchecked);
    }
    // Not a setting: dropped on close and unchecked every time the dialog opens.
    ControlAs<TwoStateCheckBox>(settings_control::kKeepOutputOnExit)->setCheckState(Qt::Unchecked);
}

SettingsValues SettingsDialog::ExchangeOut() const {
    SettingsValues values;
    for (const StoredSetting& row : SettingsTable) {
        values.*row.field =
            row.edit == SettingEdit::List
                ? ControlAs<QComboBox>(row.controlId)->currentIndex()
                : CheckValue(ControlAs<TwoStateCheckBox>(row.controlId)->checkState());
    }
    return values;
}

}  // namespace tovrik::gui
