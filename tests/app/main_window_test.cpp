// The main window driven through its widgets: ids, clicks, keys, wheel, dialogs, lifecycle.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/gui/controls.h"
#include "app/gui/main_dialog.h"
#include "tests/support/fake_platform.h"

using namespace tovrik;
using tovrik::gui::MainDialog;
using tovrik::testing::FakePlatform;

namespace {

struct Message {
    QString text;
    MessageIcon icon;
    bool windowVisible;
};

QString Hex(const OutputReport& report) {
    QStringList bytes;
    for (std::uint8_t b : report)
        bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(QLatin1Char(' '));
}

QString ReadoutOf(double hz, DisplayMode mode = kDisplayHundredths) {
    return QString::fromStdString(FormatReadout(TuningWordToHz(ComputeTuningWord(hz)), mode));
}

// Runs `action` on the modal dialog that the next nested event loop shows.
void OnNextModal(std::function<void(QWidget*)> action) {
    QTimer::singleShot(0, qApp, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        action(modal);
    });
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<FakePlatform> platform_;
    std::unique_ptr<MainDialog> window_;
    QList<Message> messages_;
    int beeps_ = 0;

    QString ProfilePath() const { return dir_->filePath(QStringLiteral("TOVRIK.INI")); }

    void WriteProfile(const QByteArray& text) {
        QFile file(ProfilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QByteArray ReadProfile() const {
        QFile file(ProfilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Builds, initialises and shows the window with the given device layout.
    void Start(const std::string& layout, bool show = true) {
        platform_ = std::make_unique<FakePlatform>(FakePlatform::WithLayout(layout));
        gui::GuiHooks hooks;
        hooks.showMessage = [this](const QString& text, MessageIcon icon) {
            messages_.append({text, icon, window_ != nullptr && window_->isVisible()});
        };
        hooks.beep = [this] { ++beeps_; };
        window_ = std::make_unique<MainDialog>(*platform_, ProfilePath().toStdString(), hooks);
        window_->InitMainWindow();
        if (show) {
            window_->ShowCentred();
            window_->activateWindow();
            QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        }
    }

    template <typename T = QWidget>
    T* Ctl(int id) const {
        auto* widget = window_->findChild<T*>(QString::number(id));
        if (widget == nullptr) qFatal("no control %d", id);
        return widget;
    }
    QString Text(int id) const { return Ctl<QLabel>(id)->text(); }
    bool Checked(int id) const { return Ctl<QAbstractButton>(id)->isChecked(); }
    QStringList Sent() const {
        QStringList out;
        for (const auto& report : platform_->sent()) out << Hex(report.bytes);
        return out;
    }

    QWidget* KeyTarget() const {
        QWidget* focus = QApplication::focusWidget();
        return focus != nullptr && focus->window() == window_.get() ? focus : window_.get();
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(KeyTarget(), key, modifiers);
    }
    void Type(const QString& keys) {
        for (QChar c : keys) {
            if (c == QLatin1Char('.'))
                Key(Qt::Key_Period);
            else
                Key(static_cast<Qt::Key>(Qt::Key_0 + c.digitValue()));
        }
    }
    void Wheel(QWidget* over, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        // X11 delivers the wheel sideways while Alt is held.
        const QPoint angle =
            modifiers.testFlag(Qt::AltModifier) ? QPoint(delta, 0) : QPoint(0, delta);
        QWheelEvent event(QPointF(2, 2), over->mapToGlobal(QPointF(2, 2)), QPoint(), angle,
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(over, &event);
    }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        messages_.clear();
        beeps_ = 0;
    }
    void cleanup() {
        window_.reset();
        platform_.reset();
        dir_.reset();
    }

    void startsWithDeviceFromTemplates() {
        Start("o,t");
        QCOMPARE(window_->windowTitle(), QStringLiteral("TOVRIK"));
        QVERIFY(!window_->windowIcon().isNull());
        QCOMPARE(Text(1030), QStringLiteral("TOVRIK 検出しました"));
        QCOMPARE(Text(1005), QStringLiteral("出力周波数"));
        QCOMPARE(Text(1006), QStringLiteral("9,999,999.99Hz"));
        QVERIFY(Checked(1018));
        QVERIFY(!Checked(1029));
        QCOMPARE(Ctl<QPushButton>(1029)->text(), QStringLiteral("出力(&O)"));
        QCOMPARE(QApplication::focusWidget(), Ctl(1002));
        QVERIFY(messages_.isEmpty());
        QVERIFY(Sent().isEmpty());
        // Fixed size, no minimize or maximize box.
        QCOMPARE(window_->minimumSize(), window_->maximumSize());
        QVERIFY(!window_->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!window_->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        // Menu bar items carry their command ids.
        const auto actions = window_->menuBar()->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions[0]->text(), QStringLiteral("設定(&S)"));
        QCOMPARE(actions[0]->data().toInt(), 65535);
        QCOMPARE(actions[1]->text(), QStringLiteral("TOVRIKのﾊﾞｰｼﾞｮﾝ(&V)"));
        QCOMPARE(actions[1]->data().toInt(), 32772);
        std::unique_ptr<QMenu> context(window_->CreateContextMenu());
        QCOMPARE(context->actions().at(0)->text(), QStringLiteral("TOVRIK のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
        QCOMPARE(context->actions().at(0)->data().toInt(), 16);
        // The longest readouts fit the readout.
        auto* readout = Ctl<QLabel>(1006);
        const QFontMetrics metrics(readout->font());
        QVERIFY(metrics.horizontalAdvance(QStringLiteral("179,999,999.95Hz")) <=
                readout->contentsRect().width());
        QVERIFY(metrics.height() <= readout->contentsRect().height());
        QCOMPARE(readout->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    }

    void startsWithoutDeviceQuietly() {
        Start("o");
        QCOMPARE(Text(1030), QStringLiteral("TOVRIK 未検出"));
        QVERIFY(messages_.isEmpty());
        Key(Qt::Key_V, Qt::AltModifier);
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_[0].text, QStringLiteral("TOVRIKが未検出です"));
        QCOMPARE(messages_[0].icon, MessageIcon::Exclamation);
    }

    void outputAtStartWithoutDeviceWarnsBeforeTheWindowShows() {
        WriteProfile("[Profile]\nOutStart=1\n");
        Start("", false);
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_[0].text, QStringLiteral("TOVRIKが見つかりません。"));
        QCOMPARE(messages_[0].icon, MessageIcon::Exclamation);
        QVERIFY(!messages_[0].windowVisible);
        QVERIFY(Checked(1029));
        QCOMPARE(Text(1030), QStringLiteral("TOVRIK 未検出"));
    }

    void outputAtStartSendsTheStoredFrequency() {
        WriteProfile("[Profile]\nSaveFreq=1\nFreq=12.5\nStep=7\nOutStart=1\n");
        Start("t");
        QCOMPARE(Sent(), QStringList{QStringLiteral("00 2A 01 00 00 01 00 00")});
        QVERIFY(Checked(1029));
        QVERIFY(Checked(1023));
        QVERIFY(!Checked(1018));
    }

    void outputButtonShowsTheFlag() {
        Start("t");
        QTest::mouseClick(Ctl(1029), Qt::LeftButton);
        QVERIFY(Checked(1029));
        QTest::mouseClick(Ctl(1029), Qt::LeftButton);
        QVERIFY(!Checked(1029));
        QCOMPARE(Sent(), (QStringList{QStringLiteral("00 8E E3 38 0E 01 00 00"),
                                      QStringLiteral("00 00 00 00 00 01 00 00")}));
        // Unplugged: the button still follows the flag, the user hears about the device.
        platform_->Unplug(0);
        QTest::mouseClick(Ctl(1029), Qt::LeftButton);
        QVERIFY(Checked(1029));
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(Text(1030), QStringLiteral("TOVRIK 未検出"));
    }

    void entryByClickAndF2() {
        Start("t");
        QTest::mouseClick(Ctl(1006), Qt::LeftButton);
        QCOMPARE(Text(1006), QStringLiteral("_Hz"));
        Type(QStringLiteral("12.5"));
        QCOMPARE(Text(1006), QStringLiteral("12.5_Hz"));
        Key(Qt::Key_Return);
        QCOMPARE(window_->controller().state().frequencyHz, 12.5);
        QCOMPARE(Text(1006), ReadoutOf(12.5));

        Key(Qt::Key_F2);
        QCOMPARE(Text(1006), QStringLiteral("_Hz"));
        Type(QStringLiteral("3"));
        Key(Qt::Key_K, Qt::ShiftModifier);
        QCOMPARE(Text(1006), QStringLiteral("3000_Hz"));
        Key(Qt::Key_1, Qt::KeypadModifier);  // keypad digits are not entry keys
        Key(Qt::Key_Period, Qt::KeypadModifier);
        QCOMPARE(Text(1006), QStringLiteral("3000_Hz"));
        Key(Qt::Key_Plus, Qt::KeypadModifier);  // keypad + is K
        QCOMPARE(Text(1006), QStringLiteral("3000000_Hz"));
        Key(Qt::Key_Backspace);
        Key(Qt::Key_Enter, Qt::KeypadModifier);  // keypad Enter ends it too
        QCOMPARE(window_->controller().state().frequencyHz, 300000.0);

        // A double-click is one click: the entry opens and stays open.
        QTest::mouseClick(Ctl(1006), Qt::LeftButton);
        QTest::mousePress(Ctl(1006), Qt::LeftButton);
        QTest::mouseDClick(Ctl(1006), Qt::LeftButton);
        QTest::mouseRelease(Ctl(1006), Qt::LeftButton);
        QCOMPARE(Text(1006), QStringLiteral("_Hz"));
        QVERIFY(Sent().isEmpty());
    }

    void mnemonicsWorkDuringAnEntry() {
        Start("t");
        Key(Qt::Key_F2);
        Type(QStringLiteral("1"));
        Key(Qt::Key_O);  // no Alt, as in a dialog
        QVERIFY(Checked(1029));
        QVERIFY(Sent().isEmpty());  // the entry holds the report back
        QCOMPARE(Text(1006), QStringLiteral("1_Hz"));
        Key(Qt::Key_Return);
        QCOMPARE(Sent(), QStringList{QStringLiteral("00 18 00 00 00 01 00 00")});
        Key(Qt::Key_O, Qt::AltModifier);
        QVERIFY(!Checked(1029));
        // Alt keys are system keys: Alt+digit starts nothing, Alt+K is no unit.
        Key(Qt::Key_F2);
        Key(Qt::Key_5, Qt::AltModifier);
        QCOMPARE(Text(1006), QStringLiteral("_Hz"));
        // Menu letters need Alt.
        Key(Qt::Key_V);
        QVERIFY(messages_.isEmpty());
        Key(Qt::Key_V, Qt::AltModifier);
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_[0].icon, MessageIcon::Information);
        QCOMPARE(messages_[0].text,
                 QStringLiteral("TOVRIKﾌｧｰﾑｳｪｱのﾊﾞｰｼﾞｮﾝは%1です。")
                     .arg(QString::fromStdString(FormatVersionText(platform_->At(0).feature))));
    }

    void enterAndEscapeNeverClose() {
        Start("t");
        QSignalSpy destroyed(window_.get(), &MainDialog::windowDestroyed);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Enter}) {
            Key(key);
            Key(key, Qt::AltModifier);
        }
        Key(Qt::Key_F2);
        Key(Qt::Key_Escape);
        QCOMPARE(Text(1006), QStringLiteral("_Hz"));  // Escape leaves the entry open
        QVERIFY(window_->isVisible());
        QCOMPARE(destroyed.count(), 0);
        QCOMPARE(beeps_, 0);
    }

    // A key passed on travels up to the focused button's parents; the filter must count it once.
    void aKeyPassedOnIsFilteredOnce() {
        Start("t");
        Key(Qt::Key_Period);  // outside an entry: passed on, marks the point
        QCOMPARE(beeps_, 0);
        Key(Qt::Key_Period);
        QCOMPARE(beeps_, 1);
        Key(Qt::Key_F2);  // toggles once: the entry is open
        QCOMPARE(Text(1006), QStringLiteral("_Hz"));
    }

    void tabMovesAmongTheTabStops() {
        Start("t");
        QCOMPARE(QApplication::focusWidget(), Ctl(1002));
        QList<QWidget*> visited;
        for (int i = 0; i < 4; ++i) {
            Key(Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(visited, (QList<QWidget*>{Ctl(1003), Ctl(1004), Ctl(1027), Ctl(1002)}));
        Key(Qt::Key_Space);  // Space presses the focused button: M1 recalls 0 Hz
        QCOMPARE(window_->controller().state().frequencyHz, 0.0);
    }

    void spinWheelAndSteps() {
        Start("t");
        auto* spin = Ctl<gui::UpDownControl>(1000);
        QTest::mouseClick(spin->upArrow(), Qt::LeftButton);
        QCOMPARE(window_->controller().state().frequencyHz, 9'900'000.0);
        QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
        QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
        QCOMPARE(window_->controller().state().frequencyHz, 10'100'000.0);
        QCOMPARE(Text(1006), ReadoutOf(10'100'000.0));
        // An arrow steps as it goes down and keeps stepping while held; the release adds none.
        QTest::mousePress(spin->downArrow(), Qt::LeftButton);
        QCOMPARE(window_->controller().state().frequencyHz, 10'200'000.0);
        QTRY_VERIFY_WITH_TIMEOUT(window_->controller().state().frequencyHz >= 10'400'000.0, 10000);
        QTest::mouseRelease(spin->downArrow(), Qt::LeftButton);
        const double held = window_->controller().state().frequencyHz;
        QTest::qWait(400);
        QCOMPARE(window_->controller().state().frequencyHz, held);
        window_->controller().state().frequencyHz = 10'100'000.0;

        QTest::mouseClick(Ctl(1020), Qt::LeftButton);
        QVERIFY(Checked(1020));
        QVERIFY(!Checked(1018));
        Wheel(Ctl(1003), -120);  // backward raises, over any control
        QCOMPARE(window_->controller().state().frequencyHz, 10'101'000.0);
        Wheel(Ctl(1006), 240);
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0);
        Wheel(window_.get(), 60);  // half a notch of a touchpad: nothing yet ...
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0);
        Wheel(window_.get(), 60);  // ... the other half makes one notch forward
        QCOMPARE(window_->controller().state().frequencyHz, 10'098'000.0);
        window_->controller().state().frequencyHz = 10'099'000.0;
        Wheel(Ctl(1006), 120 * 300);  // more than 16 bits can hold: narrowed, not wrapped
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0 - 273 * 1000.0);
        Wheel(Ctl(1006), -120, Qt::AltModifier);  // modifiers do not matter
        Wheel(Ctl(1006), -120, Qt::ShiftModifier);
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0 - 271 * 1000.0);

        QTest::mouseClick(Ctl(1025), Qt::LeftButton);
        QCOMPARE(window_->controller().state().stepHz, FineStepHz);
        QCOMPARE(Checked(1020), false);
    }

    void writeButtonShowsTheFlag() {
        Start("t");
        QTest::mouseClick(Ctl(1031), Qt::LeftButton);
        QVERIFY(Checked(1031));
        QTest::mouseClick(Ctl(1003), Qt::LeftButton);  // stores into M2
        QVERIFY(!Checked(1031));
        QCOMPARE(window_->controller().state().presets[1], 10'000'000.0);
        QTest::mouseClick(Ctl(1031), Qt::LeftButton);
        Key(Qt::Key_F2);
        QTest::mouseClick(Ctl(1002), Qt::LeftButton);  // refused during an entry
        QCOMPARE(beeps_, 1);
        QVERIFY(Checked(1031));
    }

    void settingsDialogOkAppliesAndRefreshes() {
        WriteProfile("[Profile]\nRevWheel=2\nLock=5\n");
        Start("t");
        QTest::mouseClick(Ctl(1029), Qt::LeftButton);
        platform_->ClearSent();
        OnNextModal([](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("初期設定"));
            auto* list = dialog->findChild<QComboBox*>(QStringLiteral("1037"));
            QCOMPARE(list->count(), 4);
            QCOMPARE(list->itemText(0), QStringLiteral("小数点以下(２桁)"));
            QCOMPARE(list->currentIndex(), 0);
            auto box = [dialog](int id) {
                return dialog->findChild<QCheckBox*>(QString::number(id));
            };
            QCOMPARE(box(1033)->checkState(), Qt::PartiallyChecked);
            QCOMPARE(box(1036)->checkState(), Qt::Unchecked);
            QCOMPARE(box(1034)->text(), QStringLiteral("起動と同時に出力を開始する"));
            list->setCurrentIndex(3);
            box(1032)->click();
            box(1035)->click();
            dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
        });
        Key(Qt::Key_S, Qt::AltModifier);
        const ControllerState& state = window_->controller().state();
        QCOMPARE(state.displayMode, 3);
        QCOMPARE(state.reverseSpin, 1);
        QCOMPARE(state.reverseWheel, 2);  // untouched third state stays
        QCOMPARE(state.lockWhileOutput, 0);
        QCOMPARE(Text(1006), QStringLiteral("0x0E38E38E"));
        QCOMPARE(Sent(), QStringList{QStringLiteral("00 8E E3 38 0E 01 00 00")});
        QVERIFY(window_->isVisible());
    }

    void settingsDialogCancelAndEscapeChangeNothing() {
        WriteProfile("[Profile]\nDisplay=7\n");
        Start("t");
        enum class Way { Cancel, Escape, CloseBox };
        for (Way way : {Way::Cancel, Way::Escape, Way::CloseBox}) {
            OnNextModal([way](QWidget* dialog) {
                auto* list = dialog->findChild<QComboBox*>(QStringLiteral("1037"));
                QCOMPARE(list->currentIndex(), -1);
                list->setCurrentIndex(1);
                dialog->findChild<QCheckBox*>(QStringLiteral("1031"))->click();
                if (way == Way::Escape)
                    QTest::keyClick(dialog, Qt::Key_Escape);
                else if (way == Way::CloseBox)
                    dialog->close();
                else
                    dialog->findChild<QPushButton*>(QStringLiteral("2"))->click();
            });
            window_->OnCommand(65535);
            QCOMPARE(window_->controller().state().displayMode, 7);
            QCOMPARE(window_->controller().state().saveFrequency, 0);
        }
        // OK without choosing a format stores -1.
        OnNextModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Return); });
        window_->OnCommand(65535);
        QCOMPARE(window_->controller().state().displayMode, -1);
    }

    // Enter presses the focused push button: on ｷｬﾝｾﾙ it cancels, and the file keeps the old
    // values; with the focus on a check box it is OK.
    void settingsDialogEnterPressesTheFocusedButton() {
        WriteProfile("[Profile]\nDisplay=2\n");
        Start("t");
        OnNextModal([](QWidget* dialog) {
            dialog->findChild<QComboBox*>(QStringLiteral("1037"))->setCurrentIndex(1);
            dialog->findChild<QCheckBox*>(QStringLiteral("1031"))->click();
            auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("2"));
            cancel->setFocus();
            QTest::keyClick(cancel, Qt::Key_Return);
        });
        window_->OnCommand(65535);
        QCOMPARE(window_->controller().state().displayMode, 2);
        QCOMPARE(window_->controller().state().saveFrequency, 0);

        OnNextModal([](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("1032"));
            box->setFocus();
            box->click();
            QTest::keyClick(box, Qt::Key_Return);
        });
        window_->OnCommand(65535);
        QCOMPARE(window_->controller().state().reverseSpin, 1);
        QCOMPARE(window_->controller().state().displayMode, 2);
        QVERIFY(window_->close());
        const QByteArray saved = ReadProfile();
        QVERIFY(saved.contains("Display=2"));
        QVERIFY(saved.contains("SaveFreq=0"));
        QVERIFY(saved.contains("RevSpin=1"));
    }

    void menuBarItemsRunTheirCommands() {
        Start("t");
        bool opened = false;
        OnNextModal([&opened](QWidget* dialog) {
            opened = dialog->windowTitle() == QStringLiteral("初期設定");
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QMenuBar* bar = window_->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                          bar->actionGeometry(bar->actions().at(0)).center());
        QVERIFY(opened);
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                          bar->actionGeometry(bar->actions().at(1)).center());
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_[0].icon, MessageIcon::Information);
        bool sawModal = false;
        QTimer::singleShot(0, qApp, [&sawModal] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                sawModal = true;
                modal->close();
            }
        });
        Key(Qt::Key_S);  // without Alt a menu letter does nothing
        QTest::qWait(20);
        QVERIFY(!sawModal);
    }

    void aboutBoxFromTheContextMenuCommand() {
        Start("t");
        OnNextModal([](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("TOVRIKのﾊﾞｰｼﾞｮﾝ情報"));
            QStringList texts;
            for (auto* label : dialog->findChildren<QLabel*>()) texts << label->text();
            QVERIFY(texts.contains(QStringLiteral("TOVRIK Version 1.0")));
            dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
        });
        std::unique_ptr<QMenu> context(window_->CreateContextMenu());
        context->actions().at(0)->trigger();
        QVERIFY(window_->isVisible());
    }

    void exitButtonStopsTheOutputAndSaves() {
        Start("t");
        QSignalSpy destroyed(window_.get(), &MainDialog::windowDestroyed);
        Key(Qt::Key_O);
        Key(Qt::Key_X);
        QCOMPARE(destroyed.count(), 1);
        QVERIFY(!window_->isVisible());
        QCOMPARE(Sent(), (QStringList{QStringLiteral("00 8E E3 38 0E 01 00 00"),
                                      QStringLiteral("00 00 00 00 00 01 00 00")}));
        QCOMPARE(platform_->OpenHandleCount(), 0u);
        const QByteArray saved = ReadProfile();
        QVERIFY(saved.contains("Freq=10000000.00"));
        QVERIFY(saved.contains("Step=2"));
        // Saved once: later destruction changes nothing.
        QFile::remove(ProfilePath());
        window_.reset();
        QVERIFY(!QFile::exists(ProfilePath()));
    }

    void closeBoxSendsNothingButSaves() {
        WriteProfile("[Profile]\nStep=4\n[Other]\nkeep=me\n");
        Start("t");
        QSignalSpy destroyed(window_.get(), &MainDialog::windowDestroyed);
        QTest::mouseClick(Ctl(1029), Qt::LeftButton);
        QTest::mouseClick(Ctl(1025), Qt::LeftButton);  // fine step: Step stays as stored
        platform_->ClearSent();
        QVERIFY(window_->close());
        QCOMPARE(destroyed.count(), 1);
        QVERIFY(Sent().isEmpty());
        const QByteArray saved = ReadProfile();
        QVERIFY(saved.contains("Step=4"));
        QVERIFY(saved.contains("keep=me"));
        QVERIFY(saved.contains("OutStart=0"));
    }

    void settingsWrittenAtDestructionInKeyOrder() {
        Start("");
        QTest::mouseClick(Ctl(1017), Qt::LeftButton);
        window_.reset();
        const QList<QByteArray> lines = ReadProfile().split('\n');
        QList<QByteArray> keys;
        for (const QByteArray& line : lines) {
            if (line.startsWith('['))
                keys << line;
            else if (line.contains('='))
                keys << line.left(line.indexOf('='));
        }
        QCOMPARE(keys,
                 (QList<QByteArray>{"[Profile]", "Freq", "Step", "Display", "SaveFreq", "RevSpin",
                                    "RevWheel", "Lock", "OutStart", "[Preset]", "0", "1", "2"}));
        QVERIFY(lines.contains("Step=1"));
        QVERIFY(lines.contains("0=0.000000"));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TOVRIK"));
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
