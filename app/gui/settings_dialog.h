// "初期設定": the readout format and five behaviour flags, edited on a copy. Which controls
// show which fields is SettingsTable's business (app/settings/settings_table.h).
#pragma once

#include <QDialog>

#include "app/gui/dialog_builder.h"
#include "controller/controller_state.h"

namespace tovrik::gui {

// The dialog exchanges the rows of SettingsTable; other fields are left alone.
using SettingsValues = ControllerState;

class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SettingsDialog(QWidget* parent = nullptr);

    // Into the controls: a format outside 0..3 selects nothing; a flag outside 0..2 shows
    // unchecked; 2 shows the third state and stays 2 unless the box is clicked.
    void ExchangeIn(const SettingsValues& values);
    // Out of the controls: -1 without a selection; checked 1, unchecked 0, third state 2.
    SettingsValues ExchangeOut() const;

    QWidget* Control(int id) const;
    template <class T>
    T* ControlAs(int id) const {
        return controls_.As<T>(id);
    }

  private:
    BuiltControls controls_;
};

}  // namespace tovrik::gui
