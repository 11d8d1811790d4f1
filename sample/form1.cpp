#include "sample/form1.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

namespace tovrik::sample {
namespace {

QRect ToPixels(const TwipRect& r, double dpi) {
    return {TwipsToPixels(r.left, dpi), TwipsToPixels(r.top, dpi), TwipsToPixels(r.width, dpi),
            TwipsToPixels(r.height, dpi)};
}

}  // namespace

void QtMessageBoxes::Show(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

QFont JapaneseFont(double pointSize) {
    QStringList families{QString::fromUtf8(kJapaneseFace), QStringLiteral("IPAGothic")};
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese)) {
        if (QFontDatabase::isFixedPitch(family) && !families.contains(family)) {
            families << family;
        }
    }
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

QString BindFailureText(const BindError& error) {
    return QString::fromStdString(BindFailureMessage(error));
}

Form1::Form1(LibraryBinding& library, MessageBoxes& messages, QWidget* parent)
    : QWidget(parent),
      messages_(messages),
      client_(library,
              [this](const std::string& text) { ShowMessage(QString::fromStdString(text)); }),
      label1_(new QLabel(QString::fromUtf8(text::kLabel1), this)),
      text1_(new QLineEdit(QString::fromUtf8(text::kText1), this)),
      command1_(new QPushButton(QString::fromUtf8(text::kCommand1), this)),
      command2_(new QPushButton(QString::fromUtf8(text::kCommand2), this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(text::kWindowTitle));
    label1_->setObjectName(QStringLiteral("Label1"));
    text1_->setObjectName(QStringLiteral("Text1"));
    command1_->setObjectName(QStringLiteral("Command1"));
    command2_->setObjectName(QStringLiteral("Command2"));

    label1_->setFont(JapaneseFont(kLabel1PointSize));
    text1_->setFont(JapaneseFont(kText1PointSize));

    const double dpi = logicalDpiX();
    resize(TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi));
    label1_->setGeometry(ToPixels(kLabel1Rect, dpi));
    text1_->setGeometry(ToPixels(kText1Rect, dpi));
    command1_->setGeometry(ToPixels(kCommand1Rect, dpi));
    command2_->setGeometry(ToPixels(kCommand2Rect, dpi));

    setTabOrder(text1_, command1_);
    setTabOrder(command1_, command2_);
    text1_->setFocus();

    connect(command1_, &QPushButton::clicked, this, &Form1::Command1Click);
    connect(command2_, &QPushButton::clicked, this, &Form1::Command2Click);
}

void Form1::ShowMessage(const QString& text) {
    messages_.Show(this, text);
}

void Form1::Load() {
    client_.Load();
}

void Form1::Command1Click() {
    bool isNumber = false;
    const double hz = QLocale::system().toDouble(text1_->text(), &isNumber);
    client_.SendFrequency(isNumber ? std::optional<double>(hz) : std::nullopt);
}

void Form1::Command2Click() {
    client_.Suspend();
}

}  // namespace tovrik::sample
