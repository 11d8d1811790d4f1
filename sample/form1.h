// The sample's one window: finds the TOVRIK at start, sends the typed frequency, suspends.
#pragma once

#include <QWidget>
#include <string>

#include "sample/library_binding.h"
#include "sample/sample_client.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tovrik::sample {

// Where the window's messages go: modal boxes in the program, a record in tests.
class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual void Show(QWidget* parent, const QString& text) = 0;
};

// OK button, no icon, the program's title as caption.
class QtMessageBoxes final : public MessageBoxes {
  public:
    void Show(QWidget* parent, const QString& text) override;
};

// "ＭＳ ゴシック" at `pointSize`, falling back to IPAGothic and then to any monospace face
// that can show Japanese.
QFont JapaneseFont(double pointSize);

// The message for an operation that could not be bound.
QString BindFailureText(const BindError& error);

class Form1 : public QWidget {
    Q_OBJECT
  public:
    Form1(LibraryBinding& library, MessageBoxes& messages, QWidget* parent = nullptr);

    // The window's load: looks for the first TOVRIK and tells the user whether it found one.
    // Runs before the window is shown.
    void Load();

    const std::string& devicePath() const { return client_.devicePath(); }

  private:
    void Command1Click();
    void Command2Click();
    void ShowMessage(const QString& text);

    MessageBoxes& messages_;
    SampleClient client_;
    QLabel* label1_;
    QLineEdit* text1_;
    QPushButton* command1_;
    QPushButton* command2_;
};

}  // namespace tovrik::sample
