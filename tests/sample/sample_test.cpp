#include <dlfcn.h>

#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "sample/form1.h"
#include "sample/library_binding.h"
#include "tests/sample/fake_binding.h"

using tovrik::sample::BindError;
using tovrik::sample::Form1;
using tovrik::sample::RuntimeBinding;
using tovrik::sample::TwipsToPixels;
using tovrik::sample::testing::FakeBinding;
using tovrik::sample::testing::RecordedCall;
using tovrik::sample::testing::RecordingMessages;

class SampleTest : public QObject {
    Q_OBJECT

  private slots:
    void layoutTextsAndFonts();
    void startupMessage_data();
    void startupMessage();
    void command1SendsTheWord_data();
    void command1SendsTheWord();
    void command1RefusesUnusableText_data();
    void command1RefusesUnusableText();
    void command2Suspends();
    void missingEntryPointIsNamedAndNothingSent();
    void dlopenBindingBindsLazilyAndFreesStrings();
    void dlopenBindingReportsAMissingLibrary();
    void decimalCommaLocale();

  private:
    struct Window {
        FakeBinding library;
        RecordingMessages messages;
        Form1 form{library, messages};
        QLineEdit* text1() { return form.findChild<QLineEdit*>("Text1"); }
        QPushButton* button(const char* name) { return form.findChild<QPushButton*>(name); }
        // Found a device at start, then "出力" pressed with `text` in the box.
        void PressCommand1(const QString& text) {
            library.foundPath = "/dev/hidraw3";
            form.Load();
            messages.shown.clear();
            text1()->setText(text);
            QTest::mouseClick(button("Command1"), Qt::LeftButton);
        }
    };
};

void SampleTest::layoutTextsAndFonts() {
    Window w;
    const double dpi = w.form.logicalDpiX();
    QCOMPARE(w.form.objectName(), QString("Form1"));
    QCOMPARE(w.form.windowTitle(), QString("Form1"));
    QCOMPARE(w.form.size(), QSize(TwipsToPixels(4665, dpi), TwipsToPixels(3165, dpi)));

    struct Expected {
        const char* name;
        QRect twips;
        QString text;
    };
    const Expected controls[] = {
        {"Label1", {360, 120, 2055, 375}, QStringLiteral("周波数(Hz)")},
        {"Text1", {720, 600, 3135, 615}, QStringLiteral("12800000")},
        {"Command1", {3480, 2520, 975, 495}, QStringLiteral("出力")},
        {"Command2", {1680, 2520, 1695, 495}, QStringLiteral("省電力モード")},
    };
    for (const Expected& c : controls) {
        auto* widget = w.form.findChild<QWidget*>(c.name);
        QVERIFY2(widget != nullptr, c.name);
        const QRect px(TwipsToPixels(c.twips.x(), dpi), TwipsToPixels(c.twips.y(), dpi),
                       TwipsToPixels(c.twips.width(), dpi), TwipsToPixels(c.twips.height(), dpi));
        QCOMPARE(widget->geometry(), px);
        QString text = widget->property("text").toString();
        QCOMPARE(text, c.text);
    }

    auto* label = w.form.findChild<QLabel*>("Label1");
    QCOMPARE(label->font().families().value(0), QStringLiteral("ＭＳ ゴシック"));
    QCOMPARE(label->font().pointSizeF(), 14.25);
    QCOMPARE(w.text1()->font().pointSizeF(), 24.0);
    QCOMPARE(w.text1()->font().weight(), QFont::Normal);
    // Whatever face is used must be able to draw the label.
    QVERIFY(QFontMetrics(label->font()).inFont(QChar(0x5468)));  // 周

    // Tab order: Text1, Command1, Command2.
    QCOMPARE(w.text1()->nextInFocusChain(), w.button("Command1"));
    QCOMPARE(w.button("Command1")->nextInFocusChain(), w.button("Command2"));
}

void SampleTest::startupMessage_data() {
    QTest::addColumn<QString>("found");
    QTest::addColumn<bool>("libraryMissing");
    QTest::addColumn<QString>("message");
    QTest::newRow("found") << "/dev/hidraw3" << false << QStringLiteral("TOVRIKを検出しました");
    QTest::newRow("not found") << "" << false << QStringLiteral("TOVRIKが検出できません");
    QTest::newRow("no library") << "" << true << QStringLiteral("libtovrik.soが読み込めません");
}

void SampleTest::startupMessage() {
    QFETCH(QString, found);
    QFETCH(bool, libraryMissing);
    QFETCH(QString, message);
    Window w;
    w.library.foundPath = found.toStdString();
    w.library.libraryMissing = libraryMissing;
    w.library.findIndexSeen = 99;
    w.form.Load();
    QCOMPARE(w.messages.shown, QStringList{message});
    QVERIFY(!w.form.isVisible());
    QCOMPARE(w.form.devicePath(), found.toStdString());
    if (!libraryMissing) QCOMPARE(w.library.findIndexSeen, 0);

    // The path is looked for once: a second load does nothing.
    w.form.Load();
    QCOMPARE(w.messages.shown.size(), found.isEmpty() ? 2 : 1);
}

void SampleTest::command1SendsTheWord_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("word");
    QTest::newRow("12800000") << "12800000" << 305419897;
    QTest::newRow("80000000") << "80000000" << 1908874354;
    QTest::newRow("1") << "1" << 24;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("85000000") << "85000000" << 2028179001;
    QTest::newRow("-1") << "-1" << -24;
    // The texts follow the system locale, which the user's parser reads them in.
    const QLocale locale = QLocale::system();
    const QString point = locale.decimalPoint();
    const QString group = locale.groupSeparator();
    QTest::newRow("largest") << "89999999" + point + "97" << 2147483647;
    QTest::newRow("lowest") << "-90000000" << std::numeric_limits<qint32>::min();

    // What the locale-aware parser takes besides plain digits.
    QTest::newRow("blanks around") << " 12800000\t" << 305419897;
    QTest::newRow("grouped") << "12" + group + "800" + group + "000" << 305419897;
    QTest::newRow("exponent") << "1e3" << 23861;
    QTest::newRow("minus zero") << "-0" << 0;
    // Exact halves of a word unit settle on the even word (rounding halves up would not).
    QTest::newRow("2.5 units") << "0" + point + "1047737896442413330078125" << 2;
    QTest::newRow("3.5 units") << "0" + point + "1466833055019378662109375" << 4;
    QTest::newRow("-2.5 units") << "-0" + point + "1047737896442413330078125" << -2;
}

void SampleTest::command1SendsTheWord() {
    QFETCH(QString, text);
    QFETCH(qint32, word);
    Window w;
    w.PressCommand1(text);
    QVERIFY(w.messages.shown.isEmpty());
    QCOMPARE(w.library.calls.back(), (RecordedCall{"DDSOut", "/dev/hidraw3", word, 1}));
}

void SampleTest::command1RefusesUnusableText_data() {
    QTest::addColumn<QString>("text");
    for (const char* text : {"", "   ", "abc", "12800000Hz", "90000000", "-90000001", "1e300",
                             "1e400", "-1e400", "nan", "inf", "-inf", "0x10", "1 2", "--1"}) {
        QTest::newRow(*text != 0 ? text : "empty") << QString(text);
    }
    QTest::newRow("full-width digits") << QStringLiteral("１２８０００００");
    QTest::newRow("very long") << QString(100000, QLatin1Char('9'));
}

void SampleTest::command1RefusesUnusableText() {
    QFETCH(QString, text);
    Window w;
    w.PressCommand1(text);
    QCOMPARE(w.messages.shown, QStringList{QStringLiteral("この周波数は使用できません")});
    QCOMPARE(w.library.calls.size(), 1u);  // FindUSB only
}

void SampleTest::command2Suspends() {
    Window w;
    w.library.foundPath = "/dev/hidraw7";
    w.form.Load();
    QTest::mouseClick(w.button("Command2"), Qt::LeftButton);
    QCOMPARE(w.library.calls.back(), (RecordedCall{"DDSSuspend", "/dev/hidraw7", 0, 0}));

    // Not found at start: the empty path goes to the library, which then reaches nothing.
    Window none;
    none.form.Load();
    QTest::mouseClick(none.button("Command2"), Qt::LeftButton);
    QCOMPARE(none.library.calls.back(), (RecordedCall{"DDSSuspend", "", 0, 0}));
}

void SampleTest::missingEntryPointIsNamedAndNothingSent() {
    Window w;
    w.library.foundPath = "/dev/hidraw0";
    w.library.missing = {"DDSOut", "DDSSuspend"};
    w.form.Load();
    w.messages.shown.clear();
    QTest::mouseClick(w.button("Command1"), Qt::LeftButton);
    QTest::mouseClick(w.button("Command2"), Qt::LeftButton);
    QCOMPARE(w.messages.shown,
             (QStringList{QStringLiteral("libtovrik.soにDDSOutが見つかりません"),
                          QStringLiteral("libtovrik.soにDDSSuspendが見つかりません")}));
    QCOMPARE(w.library.calls.size(), 1u);
}

void SampleTest::dlopenBindingBindsLazilyAndFreesStrings() {
    const char* stub = TOVRIK_STUB_LIBRARY;
    QVERIFY2(dlopen(stub, RTLD_NOW | RTLD_NOLOAD) == nullptr, "loaded before the first call");
    {
        RuntimeBinding binding(stub);
        std::int32_t index = 0;
        const auto found = binding.FindUSB(index);
        QVERIFY(found);
        QCOMPARE(*found.value, std::string("/dev/stub0"));
        QCOMPARE(index, 1);

        void* library = dlopen(stub, RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(library != nullptr);
        auto counter = [library](const char* name) {
            return reinterpret_cast<int (*)()>(dlsym(library, name))();
        };
        QCOMPARE(*binding.GetVers("/dev/stub0").value, std::string("09/08/07"));
        QCOMPARE(*binding.GetVers("").value, std::string());
        QCOMPARE(counter("StubStringsFreed"), counter("StubStringsMade"));
        QCOMPARE(counter("StubStringsMade"), 3);

        QCOMPARE(*binding.DDSSuspend("/dev/stub0").value, 0);
        QCOMPARE(*binding.DDSSuspend("/dev/stub0").value, 0);
        QCOMPARE(counter("StubSuspends"), 2);

        const auto out = binding.DDSOut("/dev/stub0", 1, 1);
        QVERIFY(!out);
        QCOMPARE(out.error.kind, BindError::Kind::EntryPoint);
        QCOMPARE(out.error.name, std::string("DDSOut"));
        QCOMPARE(tovrik::sample::BindFailureText(out.error),
                 QString(stub) + QStringLiteral("にDDSOutが見つかりません"));
        dlclose(library);
    }
    QVERIFY2(dlopen(stub, RTLD_NOW | RTLD_NOLOAD) == nullptr, "still loaded after the binding");
}

void SampleTest::dlopenBindingReportsAMissingLibrary() {
    RuntimeBinding binding("libtovrik-not-installed.so");
    RecordingMessages messages;
    Form1 form(binding, messages);
    form.Load();
    QCOMPARE(messages.shown,
             QStringList{QStringLiteral("libtovrik-not-installed.soが読み込めません")});
    std::int32_t index = 0;
    QCOMPARE(binding.FindUSB(index).error.kind, BindError::Kind::Library);
}

// Run with LC_ALL=de_DE.UTF-8 by its own CTest entry; skipped elsewhere.
void SampleTest::decimalCommaLocale() {
    if (QLocale::system().decimalPoint() != QStringLiteral(",")) {
        QSKIP("the system locale does not use a decimal comma");
    }
    const QString group = QLocale::system().groupSeparator();
    const struct {
        QString text;
        std::optional<qint32> word;
    } cases[] = {
        {"0,5", 12},  // 11.93 words
        {"12" + group + "800" + group + "000", 305419897},
        {"12" + group + "800" + group + "000,01", 305419897},
        {"0.5", std::nullopt},  // a point is no decimal separator here
    };
    for (const auto& c : cases) {
        Window w;
        w.library.foundPath = "/dev/hidraw0";
        w.form.Load();
        w.messages.shown.clear();
        w.text1()->setText(c.text);
        QTest::mouseClick(w.button("Command1"), Qt::LeftButton);
        if (c.word) {
            QVERIFY2(w.messages.shown.isEmpty(), qPrintable(c.text));
            QCOMPARE(w.library.calls.back().word, *c.word);
        } else {
            QCOMPARE(w.messages.shown, QStringList{QStringLiteral("この周波数は使用できません")});
            QCOMPARE(w.library.calls.size(), 1u);
        }
    }
}

QTEST_MAIN(SampleTest)
#include "sample_test.moc"
