// The sample's window with the real library binding, driven line by line from stdin so that
// an end-to-end test can run it under tovrik-emu. Message boxes are printed instead of shown.
//   load | text <text> | click1 | click2 | path   ->  "ok", "message <text>" or "path <path>"
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <iostream>
#include <string>

#include "sample/form1.h"
#include "sample/library_binding.h"

namespace {

class PrintedMessages : public tovrik::sample::MessageBoxes {
  public:
    void Show(QWidget*, const QString& text) override { pending_ = text.toStdString(); }
    std::string Take() {
        std::string line = pending_.empty() ? "ok" : "message " + pending_;
        pending_.clear();
        return line;
    }

  private:
    std::string pending_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    tovrik::sample::RuntimeBinding library;
    PrintedMessages messages;
    tovrik::sample::Form1 form(library, messages);

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "load") {
            form.Load();
        } else if (line.rfind("text ", 0) == 0) {
            form.findChild<QLineEdit*>("Text1")->setText(QString::fromStdString(line.substr(5)));
        } else if (line == "click1" || line == "click2") {
            form.findChild<QPushButton*>(line == "click1" ? "Command1" : "Command2")->click();
        } else if (line == "path") {
            std::cout << "path " << form.devicePath() << std::endl;
            continue;
        } else if (line == "quit") {
            break;
        }
        std::cout << messages.Take() << std::endl;
    }
    return 0;
}
