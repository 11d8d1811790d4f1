// tovrik-sample: shows how a program drives the TOVRIK through libtovrik.
#include <QApplication>

#include "sample/form1.h"
#include "sample/library_binding.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(tovrik::sample::kProgramTitle));

    tovrik::sample::RuntimeBinding library;
    tovrik::sample::QtMessageBoxes messages;
    tovrik::sample::Form1 form(library, messages);
    form.Load();  // its message comes before the window
    form.show();
    return QApplication::exec();
}
