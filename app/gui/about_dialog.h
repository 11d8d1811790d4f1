// The About box: icon, version line and a description line.
#pragma once

#include <QDialog>
#include <QIcon>

#include "app/gui/dialog_builder.h"

namespace tovrik::gui {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);

  private:
    BuiltControls controls_;
};

// Icon 128, loaded from the program's resources.
QIcon ApplicationIcon();
// The 16 x 16 image drawn at `size` pixels without smoothing, so it stays crisp.
QPixmap ApplicationIconPixmap(int size);

}  // namespace tovrik::gui
