// The Qt shell's pieces on their own: key mapping, dialog units, templates, the settings
// dialog's value exchange.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QtTest>
#include <set>

#include "app/gui/about_dialog.h"
#include "app/gui/dialog_units.h"
#include "app/gui/fonts.h"
#include "app/gui/input_router.h"
#include "app/gui/key_mapping.h"
#include "app/gui/main_dialog.h"
#include "app/gui/settings_dialog.h"
#include "app/settings/settings_table.h"
#include "app/ui/templates.h"
#include "tests/support/fake_platform.h"

using namespace tovrik::gui;
namespace settings_control = tovrik::settings_control;

namespace {

// A main window with no device and no settings file, fonts applied.
class MainDialogHost {
  public:
    MainDialogHost()
        : platform_(tovrik::testing::FakePlatform::WithLayout("")),
          window_(platform_, (dir_.path() + QStringLiteral("/TOVRIK.INI")).toStdString(), Quiet()) {
        window_.InitMainWindow();
    }
    ~MainDialogHost() = default;
    QWidget* window() { return &window_; }

  private:
    static GuiHooks Quiet() {
        GuiHooks hooks;
        hooks.showMessage = [](const QString&, tovrik::MessageIcon) {};
        hooks.beep = [] {};
        return hooks;
    }
    QTemporaryDir dir_;
    tovrik::testing::FakePlatform platform_;
    MainDialog window_;
};

// Dialog values: the format and the flags in the order the settings dialog lists them.
SettingsValues Values(int mode, int save, int spin, int wheel, int lock, int start) {
    SettingsValues v;
    v.displayMode = mode;
    v.saveFrequency = save;
    v.reverseSpin = spin;
    v.reverseWheel = wheel;
    v.lockWhileOutput = lock;
    v.outputAtStart = start;
    return v;
}

}  // namespace

class GuiPartsTest : public QObject {
    Q_OBJECT

  private slots:
    void keyMapping_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<uint>("scanCode");
        QTest::addColumn<int>("virtualKey");
        const int none = Qt::NoModifier, pad = Qt::KeypadModifier, shift = Qt::ShiftModifier;
        QTest::newRow("0") << int(Qt::Key_0) << none << 0u << 48;
        QTest::newRow("9") << int(Qt::Key_9) << none << 0u << 57;
        QTest::newRow("ctrl 5") << int(Qt::Key_5) << int(Qt::ControlModifier) << 0u << 53;
        QTest::newRow("keypad 5") << int(Qt::Key_5) << pad << 0u << 0;
        QTest::newRow("period") << int(Qt::Key_Period) << none << 0u << 190;
        QTest::newRow("keypad decimal") << int(Qt::Key_Period) << pad << 0u << 0;
        QTest::newRow("keypad +") << int(Qt::Key_Plus) << pad << 0u << 107;
        QTest::newRow("main +") << int(Qt::Key_Plus) << shift << 0u << 0;
        QTest::newRow("keypad -") << int(Qt::Key_Minus) << pad << 0u << 109;
        QTest::newRow("main -") << int(Qt::Key_Minus) << none << 0u << 0;
        QTest::newRow("delete") << int(Qt::Key_Delete) << none << 0u << 46;
        QTest::newRow("keypad delete") << int(Qt::Key_Delete) << pad << 0u << 46;
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << none << 0u << 8;
        QTest::newRow("return") << int(Qt::Key_Return) << none << 0u << 13;
        QTest::newRow("keypad enter") << int(Qt::Key_Enter) << pad << 0u << 13;
        QTest::newRow("escape") << int(Qt::Key_Escape) << none << 0u << 27;
        QTest::newRow("F2") << int(Qt::Key_F2) << none << 0u << 113;
        QTest::newRow("K") << int(Qt::Key_K) << none << 0u << 75;
        QTest::newRow("shift K") << int(Qt::Key_K) << shift << 0u << 75;
        QTest::newRow("M") << int(Qt::Key_M) << none << 0u << 77;
        QTest::newRow("O") << int(Qt::Key_O) << none << 0u << 0;
        QTest::newRow("shift 1 on X11") << int(Qt::Key_Exclam) << shift << 10u << 49;
        QTest::newRow("shift 0 on X11") << int(Qt::Key_ParenRight) << shift << 19u << 48;
        QTest::newRow("shift period on X11") << int(Qt::Key_Greater) << shift << 60u << 190;
        QTest::newRow("shift 1 elsewhere") << int(Qt::Key_Exclam) << shift << 0u << 0;
    }
    void keyMapping() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(uint, scanCode);
        QFETCH(int, virtualKey);
        QCOMPARE(VirtualKeyFor(key, Qt::KeyboardModifiers(modifiers), scanCode), virtualKey);
    }

    // Shift+1 is '!' on X11 and on Wayland alike; both report xkb key codes.
    void scanCodesAreTrustedOnX11AndWayland() {
        for (const char* name : {"xcb", "wayland", "wayland-egl"})
            QVERIFY2(ReportsXkbKeyCodes(QString::fromLatin1(name)), name);
        for (const char* name : {"offscreen", "windows", "cocoa", "minimal"})
            QVERIFY2(!ReportsXkbKeyCodes(QString::fromLatin1(name)), name);
    }

    void dialogUnits() {
        const BaseUnits base{6, 12};
        QCOMPARE(
            ToPixels({tovrik::control::kReadout, ControlKind::StaticRight, "", 0, 13, 43, 223, 38},
                     base),
            QRect(20, 65, 335, 57));
        QCOMPARE(ClientSize(MainDialogTemplate(), base), QSize(387, 242));
        QCOMPARE(HorizontalPixels(1, {7, 13}), 2);  // 1.75 rounds up
        QCOMPARE(VerticalPixels(3, {7, 13}), 5);    // 4.875
        // Base units come from the font: wider letters give wider units.
        QFont narrow = DialogFont();
        QFont wide = narrow;
        wide.setPointSize(18);
        QVERIFY(BaseUnitsOf(wide).x > BaseUnitsOf(narrow).x);
        QCOMPARE(BaseUnitsOf(narrow).y, QFontMetrics(narrow).height());
    }

    void templatesHaveUniqueIdsInsideTheirDialogs() {
        for (const DialogTemplate* dialog :
             {&MainDialogTemplate(), &SettingsDialogTemplate(), &AboutDialogTemplate()}) {
            std::set<int> ids;
            for (const ControlTemplate& control : dialog->controls) {
                QVERIFY(control.x + control.w <= dialog->w);
                QVERIFY(control.kind == ControlKind::DropDownList ||
                        control.y + control.h <= dialog->h);
                if (control.id != kNoId) QVERIFY(ids.insert(control.id).second);
            }
        }
    }

    void fontsPreferTheIpaFaces() {
        if (!QFontDatabase::families().contains(QStringLiteral("IPAGothic"))) {
            QSKIP("fonts-ipafont-gothic is not installed");
        }
        QCOMPARE(DialogFont().family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(ReadoutFont().family(), QStringLiteral("IPAGothic"));
        QVERIFY(ReadoutFont().bold());
        QVERIFY(QFontMetrics(ReadoutFont()).height() <= 48);
        QVERIFY(QFontMetrics(CaptionFont()).height() <= 24);
        const QFont fitted =
            FitFont(ReadoutFont(), 48, {QStringLiteral("179,999,999.95Hz")}, 300, 0);
        QVERIFY(QFontMetrics(fitted).horizontalAdvance(QStringLiteral("179,999,999.95Hz")) <= 300);
    }

    // A missing face is replaced by one of the same kind, whatever fonts are installed: the
    // readout must stay fixed pitch even where the Japanese faces are "dual" width.
    void substitutesKeepTheirKind() {
        if (QFontDatabase::families().isEmpty()) QSKIP("no fonts installed");
        const QString missing = QStringLiteral("No Such Face 9f3c");
        const QString fixed = ResolveFamily({missing}, FaceKind::Fixed);
        QVERIFY(!fixed.isEmpty());
        QVERIFY2(HasFixedPitchLatin(fixed), qPrintable(fixed));
        const QString proportional = ResolveFamily({missing}, FaceKind::Proportional);
        if (!proportional.isEmpty())
            QVERIFY2(!HasFixedPitchLatin(proportional), qPrintable(proportional));
        if (QFontDatabase::families().contains(QStringLiteral("IPAGothic"))) {
            QVERIFY(HasFixedPitchLatin(QStringLiteral("IPAGothic")));
            QVERIFY(!HasFixedPitchLatin(QStringLiteral("IPAPGothic")));
        }
    }

    // Every caption fits its control as built, in the fonts this machine resolves.
    void captionsAreNotClipped() {
        SettingsDialog settings;
        AboutDialog about;
        MainDialogHost host;
        for (QWidget* dialog :
             {static_cast<QWidget*>(&settings), static_cast<QWidget*>(&about), host.window()}) {
            for (auto* label : dialog->findChildren<QLabel*>()) {
                if (label->text().isEmpty() ||
                    label->objectName() == QString::number(tovrik::control::kReadout))
                    continue;
                const QFontMetrics metrics(label->font());
                QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->contentsRect().width(),
                         qPrintable(label->text()));
            }
            for (auto* button : dialog->findChildren<QAbstractButton*>()) {
                if (button->text().isEmpty()) continue;
                QString text = button->text();
                text.remove(QLatin1Char('&'));
                int room = button->width() - 4;  // the frame
                if (qobject_cast<QCheckBox*>(button) != nullptr) {
                    room = button->width() -
                           button->style()->pixelMetric(QStyle::PM_IndicatorWidth) -
                           button->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
                }
                QVERIFY2(QFontMetrics(button->font()).horizontalAdvance(text) <= room,
                         qPrintable(text));
            }
        }
    }

    void settingsExchange_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("flag");
        QTest::addColumn<int>("shownIndex");
        QTest::addColumn<int>("shownState");
        QTest::addColumn<int>("storedMode");
        QTest::addColumn<int>("storedFlag");
        QTest::newRow("plain") << 2 << 1 << 2 << int(Qt::Checked) << 2 << 1;
        QTest::newRow("off") << 0 << 0 << 0 << int(Qt::Unchecked) << 0 << 0;
        QTest::newRow("third state") << 3 << 2 << 3 << int(Qt::PartiallyChecked) << 3 << 2;
        QTest::newRow("above range") << 4 << 3 << -1 << int(Qt::Unchecked) << -1 << 0;
        QTest::newRow("below range") << -1 << -1 << -1 << int(Qt::Unchecked) << -1 << 0;
    }
    void settingsExchange() {
        QFETCH(int, mode);
        QFETCH(int, flag);
        QFETCH(int, shownIndex);
        QFETCH(int, shownState);
        QFETCH(int, storedMode);
        QFETCH(int, storedFlag);
        SettingsDialog dialog;
        dialog.ExchangeIn(Values(mode, flag, flag, flag, flag, flag));
        QCOMPARE(dialog.ControlAs<QComboBox>(settings_control::kDisplayFormat)->currentIndex(),
                 shownIndex);
        for (const tovrik::StoredSetting& row : tovrik::SettingsTable) {
            if (row.edit != tovrik::SettingEdit::CheckBox) continue;
            const int id = row.controlId;
            QCOMPARE(int(dialog.ControlAs<QCheckBox>(id)->checkState()), shownState);
        }
        QCOMPARE(dialog.ControlAs<QCheckBox>(settings_control::kKeepOutputOnExit)->checkState(),
                 Qt::Unchecked);
        const SettingsValues out = dialog.ExchangeOut();
        QCOMPARE(out.displayMode, storedMode);
        for (int value : {out.saveFrequency, out.reverseSpin, out.reverseWheel, out.lockWhileOutput,
                          out.outputAtStart}) {
            QCOMPARE(value, storedFlag);
        }
    }

    void wheelFragmentsAddUpToNotches_data() {
        QTest::addColumn<QList<int>>("deltas");
        QTest::addColumn<QList<int>>("delivered");  // 0: nothing delivered for that event
        QTest::newRow("whole notches pass as they come")
            << QList<int>{120, -240, 180} << QList<int>{120, -240, 180};
        QTest::newRow("fragments add up") << QList<int>{40, 40, 40, 40} << QList<int>{0, 0, 120, 0};
        QTest::newRow("a remainder is kept") << QList<int>{100, 100, 40} << QList<int>{0, 120, 120};
        QTest::newRow("turning back starts over")
            << QList<int>{100, -60, -60} << QList<int>{0, 0, -120};
        QTest::newRow("a whole notch drops the fragments")
            << QList<int>{100, 120, 20} << QList<int>{0, 120, 0};
    }

    void wheelFragmentsAddUpToNotches() {
        QFETCH(QList<int>, deltas);
        QFETCH(QList<int>, delivered);
        WheelNotches notches;
        for (qsizetype i = 0; i < deltas.size(); ++i) {
            QCOMPARE(notches.Feed(deltas[i]).value_or(0), delivered[i]);
        }
    }

    // The key path on its own: a key press Qt propagates to the parent widgets reaches the
    // key filter once; a button mnemonic works without Alt, a menu mnemonic only with it;
    // wheel fragments add up before they tune.
    void inputRouterTakesEachEventOnce() {
        QWidget window;
        auto* child = new QWidget(&window);
        auto* button = new QPushButton(QStringLiteral("&O"), &window);
        constexpr int kButton = 7, kMenu = 8;
        QList<int> keys, commands, wheel;
        int clicks = 0;
        connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
        InputRouter router(
            &window, {[&keys](int vk) {
                          keys.append(vk);
                          return tovrik::KeyResult::PassedOn;
                      },
                      [&wheel](std::int16_t delta) { wheel.append(delta); },
                      [&commands](int id) { commands.append(id); },
                      [button](int id) -> QWidget* { return id == kButton ? button : nullptr; }});
        router.AddMnemonic(Qt::Key_O, kButton, false);
        router.AddMnemonic(Qt::Key_S, kMenu, true);
        const auto press = [child](Qt::Key key, Qt::KeyboardModifiers modifiers) {
            QKeyEvent event(QEvent::KeyPress, key, modifiers);
            QApplication::sendEvent(child, &event);
        };
        press(Qt::Key_5, Qt::NoModifier);
        QCOMPARE(keys, QList<int>{53});
        press(Qt::Key_O, Qt::NoModifier);
        QCOMPARE(clicks, 1);
        press(Qt::Key_S, Qt::NoModifier);
        QVERIFY(commands.isEmpty());
        press(Qt::Key_S, Qt::AltModifier);
        QCOMPARE(commands, QList<int>{kMenu});
        press(Qt::Key_K, Qt::AltModifier);  // a system key: not for the key filter
        QCOMPARE(keys, QList<int>{53});
        press(Qt::Key_K, Qt::NoModifier);
        QCOMPARE(keys, (QList<int>{53, 75}));
        for (int i = 0; i < 3; ++i) {
            QWheelEvent event(QPointF(), QPointF(), QPoint(), QPoint(0, 40), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(child, &event);
        }
        QCOMPARE(wheel, QList<int>{120});
        router.Stop();
        press(Qt::Key_5, Qt::NoModifier);
        QCOMPARE(keys.size(), 2);
    }

    void checkBoxesToggleOnlyBetweenTwoStates() {
        SettingsDialog dialog;
        dialog.ExchangeIn(Values(0, 2, 0, 1, 0, 0));
        auto* third = dialog.ControlAs<QCheckBox>(settings_control::kSaveFrequency);
        third->click();
        QCOMPARE(third->checkState(), Qt::Checked);
        third->click();
        QCOMPARE(third->checkState(), Qt::Unchecked);
        third->click();
        QCOMPARE(third->checkState(), Qt::Checked);
        QCOMPARE(dialog.ExchangeOut().saveFrequency, 1);
        QVERIFY(dialog.ControlAs<QPushButton>(command::kOk)->isDefault());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("初期設定"));
    }
};

QTEST_MAIN(GuiPartsTest)
#include "gui_parts_test.moc"
