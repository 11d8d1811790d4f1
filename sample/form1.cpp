#include "sample/form1.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <cmath>

#include "device/reports.h"

namespace tovrik::sample {
namespace {

// Positions and sizes in twips: left, top, width, height.
struct TwipRect {
    int left, top, width, height;
};
constexpr int kClientWidth = 4665;
constexpr int kClientHeight = 3165;
constexpr TwipRect kLabel1{360, 120, 2055, 375};
constexpr TwipRect kText1{720, 600, 3135, 615};
constexpr TwipRect kCommand1{3480, 2520, 975, 495};
constexpr TwipRect kCommand2{1680, 2520, 1695, 495};

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

int TwipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QFont JapaneseFont(double pointSize) {
    QStringList families{QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")};
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
    const QString library = QString::fromStdString(error.library);
    if (error.kind == BindError::Kind::Library) {
        return QStringLiteral("%1が読み込めません").arg(library);
    }
    return QStringLiteral("%1に%2が見つかりません")
        .arg(library, QString::fromStdString(error.name));
}

Form1::Form1(LibraryBinding& library, MessageBoxes& messages, QWidget* parent)
    : QWidget(parent),
      library_(library),
      messages_(messages),
      label1_(new QLabel(QStringLiteral("周波数(Hz)"), this)),
      text1_(new QLineEdit(QStringLiteral("12800000"), this)),
      command1_(new QPushButton(QStringLiteral("出力"), this)),
      command2_(new QPushButton(QStringLiteral("省電力モード"), this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    label1_->setObjectName(QStringLiteral("Label1"));
    text1_->setObjectName(QStringLiteral("Text1"));
    command1_->setObjectName(QStringLiteral("Command1"));
    command2_->setObjectName(QStringLiteral("Command2"));

    label1_->setFont(JapaneseFont(14.25));
    text1_->setFont(JapaneseFont(24));

    const double dpi = logicalDpiX();
    resize(TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi));
    label1_->setGeometry(ToPixels(kLabel1, dpi));
    text1_->setGeometry(ToPixels(kText1, dpi));
    command1_->setGeometry(ToPixels(kCommand1, dpi));
    command2_->setGeometry(ToPixels(kCommand2, dpi));

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
    if (!devicePath_.empty()) return;
    std::int32_t index = 0;  // the index handed back is not needed
    const Bound<std::string> found = library_.FindUSB(index);
    if (!found) {
        ShowMessage(BindFailureText(found.error));
        return;
    }
    if (found.value->empty()) {
        ShowMessage(QStringLiteral("TOVRIKが検出できません"));
        return;
    }
    devicePath_ = *found.value;
    ShowMessage(QStringLiteral("TOVRIKを検出しました"));
}

void Form1::Command1Click() {
    bool isNumber = false;
    const double hz = QLocale::system().toDouble(text1_->text(), &isNumber);
    const std::optional<std::int32_t> word = isNumber ? SampleClientTuningWord(hz) : std::nullopt;
    if (!word) {
        ShowMessage(QStringLiteral("この周波数は使用できません"));
        return;
    }
    const Bound<std::int32_t> sent = library_.DDSOut(devicePath_, *word, 1);
    if (!sent) ShowMessage(BindFailureText(sent.error));
}

void Form1::Command2Click() {
    const Bound<std::int32_t> sent = library_.DDSSuspend(devicePath_);
    if (!sent) ShowMessage(BindFailureText(sent.error));
}

}  // namespace tovrik::sample
