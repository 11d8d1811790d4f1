// "初期設定": the readout format and five behaviour flags, edited on a copy.
#pragma once

#include <QDialog>

#include "app/gui/dialog_builder.h"

namespace tovrik::gui {

// The dialog's own copy; -1 and zeros at construction.
struct SettingsValues {
    int displayMode = -1;
    int saveFrequency = 0;
    int reverseSpin = 0;
    int reverseWheel = 0;
    int lockWhileOutput = 0;
    int outputAtStart = 0;
};

class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SettingsDialog(QWidget* parent = nullptr);

    // Into the controls: a format outside 0..3 selects nothing; a flag outside 0..2 becomes 0
    // (in the copy too); 2 shows the third state and stays 2 unless the box is clicked.
    void ExchangeIn(const SettingsValues& values);
    // Out of the controls: -1 without a selection; checked 1, unchecked 0, third state 2.
    SettingsValues ExchangeOut() const;

    QWidget* Control(int id) const;

  private:
    BuiltControls controls_;
};

}  // namespace tovrik::gui
