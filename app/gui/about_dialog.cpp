#include "app/gui/about_dialog.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "app/gui/fonts.h"

namespace tovrik::gui {

QPixmap ApplicationIconPixmap(int size) {
    const QPixmap image(QStringLiteral(":/icons/tovrik.xpm"));
    if (image.isNull() || size == image.width()) return image;
    return image.scaled(size, size, Qt::KeepAspectRatio, Qt::FastTransformation);
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) icon.addPixmap(ApplicationIconPixmap(size));
    return icon;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    const DialogTemplate& dialog = AboutDialogTemplate();
    controls_ = BuildModalDialog(this, dialog);
    for (qsizetype i = 0; i < controls_.inOrder.size(); ++i) {
        if (dialog.controls[static_cast<std::size_t>(i)].kind == ControlKind::StaticIcon) {
            // Drawn at the system's large-icon size, as a static icon control does.
            BuiltControls::Checked<QLabel>(controls_.inOrder[i], kNoId)
                ->setPixmap(ApplicationIconPixmap(32));
        }
    }
    auto* ok = controls_.As<QPushButton>(command::kOk);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

}  // namespace tovrik::gui
