// TOVRIK: the control application's entry point.
#include <QApplication>
#include <QFileInfo>

#include "app/gui/main_dialog.h"
#include "app/settings/settings_store.h"
#include "device/platform.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application name is the executable's base name: message box caption and INI name.
    QString name =
        argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName() : QString();
    if (name.isEmpty()) name = QStringLiteral("TOVRIK");
    QApplication::setApplicationName(name);
    QApplication::setQuitOnLastWindowClosed(false);

    tovrik::gui::MainDialog window(tovrik::SystemPlatform(),
                                   tovrik::DefaultProfilePath(name.toStdString()));
    QObject::connect(&window, &tovrik::gui::MainDialog::windowDestroyed, &app,
                     &QCoreApplication::quit, Qt::QueuedConnection);
    window.InitMainWindow();
    window.ShowCentred();
    app.exec();
    return 0;
}
