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

// Widgets are named by their control id.
QString Id(int id) {
    return QString::number(id);
}
constexpr int StepId(std::size_t index) {
    return StepTable[index].buttonId;
}

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
        QCOMPARE(Text(control::kStatusLine), QStringLiteral("TOVRIK 検出しました"));
        QCOMPARE(Text(control::kReadoutCaption), QStringLiteral("出力周波数"));
        QCOMPARE(Text(control::kReadout), QStringLiteral("9,999,999.99Hz"));
        QVERIFY(Checked(StepId(2)));
        QVERIFY(!Checked(control::kOutputButton));
        QCOMPARE(Ctl<QPushButton>(control::kOutputButton)->text(), QStringLiteral("出力(&O)"));
        QCOMPARE(QApplication::focusWidget(), Ctl(control::kPresetM1));
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
        auto* readout = Ctl<QLabel>(control::kReadout);
        const QFontMetrics metrics(readout->font());
        QVERIFY(metrics.horizontalAdvance(QStringLiteral("179,999,999.95Hz")) <=
                readout->contentsRect().width());
        QVERIFY(metrics.height() <= readout->contentsRect().height());
        QCOMPARE(readout->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    }

    void startsWithoutDeviceQuietly() {
        Start("o");
        QCOMPARE(Text(control::kStatusLine), QStringLiteral("TOVRIK 未検出"));
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
        QVERIFY(Checked(control::kOutputButton));
        QCOMPARE(Text(control::kStatusLine), QStringLiteral("TOVRIK 未検出"));
    }

    void outputAtStartSendsTheStoredFrequency() {
        WriteProfile("[Profile]\nSaveFreq=1\nFreq=12.5\nStep=7\nOutStart=1\n");
        Start("t");
        QCOMPARE(Sent(), QStringList{QStringLiteral("00 2A 01 00 00 01 00 00")});
        QVERIFY(Checked(control::kOutputButton));
        QVERIFY(Checked(StepId(7)));
        QVERIFY(!Checked(StepId(2)));
    }

    void outputButtonShowsTheFlag() {
        Start("t");
        QTest::mouseClick(Ctl(control::kOutputButton), Qt::LeftButton);
        QVERIFY(Checked(control::kOutputButton));
        QTest::mouseClick(Ctl(control::kOutputButton), Qt::LeftButton);
        QVERIFY(!Checked(control::kOutputButton));
        QCOMPARE(Sent(), (QStringList{QStringLiteral("00 8E E3 38 0E 01 00 00"),
                                      QStringLiteral("00 00 00 00 00 01 00 00")}));
        // Unplugged: the button still follows the flag, the user hears about the device.
        platform_->Unplug(0);
        QTest::mouseClick(Ctl(control::kOutputButton), Qt::LeftButton);
        QVERIFY(Checked(control::kOutputButton));
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(Text(control::kStatusLine), QStringLiteral("TOVRIK 未検出"));
    }

    void entryByClickAndF2() {
        Start("t");
        QTest::mouseClick(Ctl(control::kReadout), Qt::LeftButton);
        QCOMPARE(Text(control::kReadout), QStringLiteral("_Hz"));
        Type(QStringLiteral("12.5"));
        QCOMPARE(Text(control::kReadout), QStringLiteral("12.5_Hz"));
        Key(Qt::Key_Return);
        QCOMPARE(window_->controller().state().frequencyHz, 12.5);
        QCOMPARE(Text(control::kReadout), ReadoutOf(12.5));

        Key(Qt::Key_F2);
        QCOMPARE(Text(control::kReadout), QStringLiteral("_Hz"));
        Type(QStringLiteral("3"));
        Key(Qt::Key_K, Qt::ShiftModifier);
        QCOMPARE(Text(control::kReadout), QStringLiteral("3000_Hz"));
        Key(Qt::Key_1, Qt::KeypadModifier);  // keypad digits are not entry keys
        Key(Qt::Key_Period, Qt::KeypadModifier);
        QCOMPARE(Text(control::kReadout), QStringLiteral("3000_Hz"));
        Key(Qt::Key_Plus, Qt::KeypadModifier);  // keypad + is K
        QCOMPARE(Text(control::kReadout), QStringLiteral("3000000_Hz"));
        Key(Qt::Key_Backspace);
        Key(Qt::Key_Enter, Qt::KeypadModifier);  // keypad Enter ends it too
        QCOMPARE(window_->controller().state().frequencyHz, 300000.0);

        // A double-click is one click: the entry opens and stays open.
        QTest::mouseClick(Ctl(control::kReadout), Qt::LeftButton);
        QTest::mousePress(Ctl(control::kReadout), Qt::LeftButton);
        QTest::mouseDClick(Ctl(control::kReadout), Qt::LeftButton);
        QTest::mouseRelease(Ctl(control::kReadout), Qt::LeftButton);
        QCOMPARE(Text(control::kReadout), QStringLiteral("_Hz"));
        QVERIFY(Sent().isEmpty());
    }

    void mnemonicsWorkDuringAnEntry() {
        Start("t");
        Key(Qt::Key_F2);
        Type(QStringLiteral("1"));
        Key(Qt::Key_O);  // no Alt, as in a dialog
        QVERIFY(Checked(control::kOutputButton));
        QVERIFY(Sent().isEmpty());  // the entry holds the report back
        QCOMPARE(Text(control::kReadout), QStringLiteral("1_Hz"));
        Key(Qt::Key_Return);
        QCOMPARE(Sent(), QStringList{QStringLiteral("00 18 00 00 00 01 00 00")});
        Key(Qt::Key_O, Qt::AltModifier);
        QVERIFY(!Checked(control::kOutputButton));
        // Alt keys are system keys: Alt+digit starts nothing, Alt+K is no unit.
        Key(Qt::Key_F2);
        Key(Qt::Key_5, Qt::AltModifier);
        QCOMPARE(Text(control::kReadout), QStringLiteral("_Hz"));
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
        QCOMPARE(Text(control::kReadout), QStringLiteral("_Hz"));  // Escape leaves the entry open
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
        QCOMPARE(Text(control::kReadout), QStringLiteral("_Hz"));
    }

    void tabMovesAmongTheTabStops() {
        Start("t");
        QCOMPARE(QApplication::focusWidget(), Ctl(control::kPresetM1));
        QList<QWidget*> visited;
        for (int i = 0; i < 4; ++i) {
            Key(Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(visited, (QList<QWidget*>{Ctl(control::kPresetM2), Ctl(control::kPresetM3),
                                           Ctl(control::kExitButton), Ctl(control::kPresetM1)}));
        Key(Qt::Key_Space);  // Space presses the focused button: M1 recalls 0 Hz
        QCOMPARE(window_->controller().state().frequencyHz, 0.0);
    }

    void spinWheelAndSteps() {
        Start("t");
        auto* spin = Ctl<gui::UpDownControl>(control::kSpin);
        QTest::mouseClick(spin->upArrow(), Qt::LeftButton);
        QCOMPARE(window_->controller().state().frequencyHz, 9'900'000.0);
        QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
        QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
        QCOMPARE(window_->controller().state().frequencyHz, 10'100'000.0);
        QCOMPARE(Text(control::kReadout), ReadoutOf(10'100'000.0));
        // An arrow steps as it goes down and keeps stepping while held; the release adds none.
        QTest::mousePress(spin->downArrow(), Qt::LeftButton);
        QCOMPARE(window_->controller().state().frequencyHz, 10'200'000.0);
        QTRY_VERIFY_WITH_TIMEOUT(window_->controller().state().frequencyHz >= 10'400'000.0, 10000);
        QTest::mouseRelease(spin->downArrow(), Qt::LeftButton);
        const double held = window_->controller().state().frequencyHz;
        QTest::qWait(400);
        QCOMPARE(window_->controller().state().frequencyHz, held);
        window_->controller().state().frequencyHz = 10'100'000.0;

        QTest::mouseClick(Ctl(StepId(4)), Qt::LeftButton);
        QVERIFY(Checked(StepId(4)));
        QVERIFY(!Checked(StepId(2)));
        Wheel(Ctl(control::kPresetM2), -120);  // backward raises, over any control
        QCOMPARE(window_->controller().state().frequencyHz, 10'101'000.0);
        Wheel(Ctl(control::kReadout), 240);
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0);
        Wheel(window_.get(), 60);  // half a notch of a touchpad: nothing yet ...
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0);
        Wheel(window_.get(), 60);  // ... the other half makes one notch forward
        QCOMPARE(window_->controller().state().frequencyHz, 10'098'000.0);
        window_->controller().state().frequencyHz = 10'099'000.0;
        Wheel(Ctl(control::kReadout),
              120 * 300);  // more than 16 bits can hold: narrowed, not wrapped
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0 - 273 * 1000.0);
        Wheel(Ctl(control::kReadout), -120, Qt::AltModifier);  // modifiers do not matter
        Wheel(Ctl(control::kReadout), -120, Qt::ShiftModifier);
        QCOMPARE(window_->controller().state().frequencyHz, 10'099'000.0 - 271 * 1000.0);

        QTest::mouseClick(Ctl(control::kFineStepButton), Qt::LeftButton);
        QCOMPARE(window_->controller().state().stepHz, FineStepHz);
        QCOMPARE(Checked(StepId(4)), false);
    }

    void writeButtonShowsTheFlag() {
        Start("t");
        QTest::mouseClick(Ctl(control::kWriteButton), Qt::LeftButton);
        QVERIFY(Checked(control::kWriteButton));
        QTest::mouseClick(Ctl(control::kPresetM2), Qt::LeftButton);  // stores into M2
        QVERIFY(!Checked(control::kWriteButton));
        QCOMPARE(window_->controller().state().presets[1], 10'000'000.0);
        QTest::mouseClick(Ctl(control::kWriteButton), Qt::LeftButton);
        Key(Qt::Key_F2);
        QTest::mouseClick(Ctl(control::kPresetM1), Qt::LeftButton);  // refused during an entry
        QCOMPARE(beeps_, 1);
        QVERIFY(Checked(control::kWriteButton));
    }

    void settingsDialogOkAppliesAndRefreshes() {
        WriteProfile("[Profile]\nRevWheel=2\nLock=5\n");
        Start("t");
        QTest::mouseClick(Ctl(control::kOutputButton), Qt::LeftButton);
        platform_->ClearSent();
        OnNextModal([](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("初期設定"));
            auto* list = dialog->findChild<QComboBox*>(Id(settings_control::kDisplayFormat));
            QCOMPARE(list->count(), 4);
            QCOMPARE(list->itemText(0), QStringLiteral("小数点以下(２桁)"));
            QCOMPARE(list->currentIndex(), 0);
            auto box = [dialog](int id) {
                return dialog->findChild<QCheckBox*>(QString::number(id));
            };
            QCOMPARE(box(settings_control::kReverseWheel)->checkState(), Qt::PartiallyChecked);
            QCOMPARE(box(settings_control::kLockWhileOutput)->checkState(), Qt::Unchecked);
            QCOMPARE(box(settings_control::kOutputAtStart)->text(),
                     QStringLiteral("起動と同時に出力を開始する"));
            list->setCurrentIndex(3);
            box(settings_control::kReverseSpin)->click();
            box(settings_control::kKeepOutputOnExit)->click();
            dialog->findChild<QPushButton*>(Id(ui::command::kOk))->click();
        });
        Key(Qt::Key_S, Qt::AltModifier);
        const ControllerState& state = window_->controller().state();
        QCOMPARE(state.displayMode, 3);
        QCOMPARE(state.reverseSpin, 1);
        QCOMPARE(state.reverseWheel, 2);  // untouched third state stays
        QCOMPARE(state.lockWhileOutput, 0);
        QCOMPARE(Text(control::kReadout), QStringLiteral("0x0E38E38E"));
        QCOMPARE(Sent(), QStringList{QStringLiteral("00 8E E3 38 0E 01 00 00")});
        QVERIFY(window_->isVisible());
    }

    void settingsDialogCancelAndEscapeChangeNothing() {
        WriteProfile("[Profile]\nDisplay=7\n");
        Start("t");
        enum class Way { Cancel, Escape, CloseBox };
        for (Way way : {Way::Cancel, Way::Escape, Way::CloseBox}) {
            OnNextModal([way](QWidget* dialog) {
                auto* list = dialog->findChild<QComboBox*>(Id(settings_control::kDisplayFormat));
                QCOMPARE(list->currentIndex(), -1);
                list->setCurrentIndex(1);
                dialog->findChild<QCheckBox*>(Id(settings_control::kSaveFrequency))->click();
                if (way == Way::Escape)
                    QTest::keyClick(dialog, Qt::Key_Escape);
                else if (way == Way::CloseBox)
                    dialog->close();
                else
                    dialog->findChild<QPushButton*>(Id(ui::command::kCancel))->click();
            });
            window_->OnCommand(ui::command::kSettings);
            QCOMPARE(window_->controller().state().displayMode, 7);
            QCOMPARE(window_->controller().state().saveFrequency, 0);
        }
        // OK without choosing a format stores -1.
        OnNextModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Return); });
        window_->OnCommand(ui::command::kSettings);
        QCOMPARE(window_->controller().state().displayMode, -1);
    }

    // Enter presses the focused push button: on ｷｬﾝｾﾙ it cancels, and the file keeps the old
    // values; with the focus on a check box it is OK.
    void settingsDialogEnterPressesTheFocusedButton() {
        WriteProfile("[Profile]\nDisplay=2\n");
        Start("t");
        OnNextModal([](QWidget* dialog) {
            dialog->findChild<QComboBox*>(Id(settings_control::kDisplayFormat))->setCurrentIndex(1);
            dialog->findChild<QCheckBox*>(Id(settings_control::kSaveFrequency))->click();
            auto* cancel = dialog->findChild<QPushButton*>(Id(ui::command::kCancel));
            cancel->setFocus();
            QTest::keyClick(cancel, Qt::Key_Return);
        });
        window_->OnCommand(ui::command::kSettings);
        QCOMPARE(window_->controller().state().displayMode, 2);
        QCOMPARE(window_->controller().state().saveFrequency, 0);

        OnNextModal([](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>(Id(settings_control::kReverseSpin));
            box->setFocus();
            box->click();
            QTest::keyClick(box, Qt::Key_Return);
        });
        window_->OnCommand(ui::command::kSettings);
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
            dialog->findChild<QPushButton*>(Id(ui::command::kOk))->click();
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
        QTest::mouseClick(Ctl(control::kOutputButton), Qt::LeftButton);
        QTest::mouseClick(Ctl(control::kFineStepButton),
                          Qt::LeftButton);  // fine step: Step stays as stored
        platform_->ClearSent();
        QVERIFY(window_->close());
        QCOMPARE(destroyed.count(), 1);
        QVERIFY(Sent().isEmpty());
        const QByteArray saved = ReadProfile();
        QVERIFY(saved.contains("Step=4"));
        QVERIFY(saved.contains("keep=me"));
        QVERIFY(saved.contains("OutStart=0"));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TOVRIK"));
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
