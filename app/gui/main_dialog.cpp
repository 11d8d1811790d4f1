#include "app/gui/main_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <limits>

#include "app/gui/about_dialog.h"
#include "app/gui/controls.h"
#include "app/gui/fonts.h"
#include "app/gui/key_mapping.h"
#include "app/gui/settings_dialog.h"
#include "app/settings/save_report.h"
#include "app/settings/settings_store.h"

namespace tovrik::gui {

struct MainDialog::Command {
    int firstId;
    int lastId;
    void (MainDialog::*handler)(int id);
};

std::span<const MainDialog::Command> MainDialog::CommandTable() {
    static constexpr Command kTable[] = {
        {control::kFirstStepButton, control::kFineStepButton, &MainDialog::OnStep},
        {control::kReadout, control::kReadout, &MainDialog::OnReadoutClick},
        {control::kPresetM1, control::kPresetM3, &MainDialog::OnPreset},
        {control::kWriteButton, control::kWriteButton, &MainDialog::OnWriteMode},
        {control::kOutputButton, control::kOutputButton, &MainDialog::OnOutput},
        {control::kExitButton, control::kExitButton, &MainDialog::OnExit},
        {command::kSettings, command::kSettings, &MainDialog::OnSettings},
        {command::kFirmwareVersion, command::kFirmwareVersion, &MainDialog::OnFirmwareVersion},
        // System commands 16..31 all open the About box.
        {command::kAbout, command::kAbout + 15, &MainDialog::OnAbout},
    };
    return kTable;
}

namespace {

// The letter after '&' in a caption, if any.
std::optional<Qt::Key> MnemonicOf(const char* utf8) {
    const QString text = QString::fromUtf8(utf8);
    const qsizetype amp = text.indexOf(QLatin1Char('&'));
    if (amp < 0 || amp + 1 >= text.size()) return std::nullopt;
    const QChar letter = text.at(amp + 1).toUpper();
    if (letter < QLatin1Char('A') || letter > QLatin1Char('Z')) return std::nullopt;
    return static_cast<Qt::Key>(Qt::Key_A + (letter.unicode() - 'A'));
}

const QStringList& LongestReadouts() {
    static const QStringList texts = {QStringLiteral("80,000,000.00Hz"),
                                      QStringLiteral("179,999,999.95Hz")};
    return texts;
}

}  // namespace

void CentreOver(QWidget* dialog, const QWidget* owner) {
    dialog->adjustSize();
    const QRect ownerRect =
        owner != nullptr && owner->isVisible() ? owner->frameGeometry() : QRect();
    QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
    const QPoint centre = ownerRect.isValid() ? ownerRect.center() : area.center();
    QRect rect(QPoint(0, 0), dialog->size());
    rect.moveCenter(centre);
    if (area.isValid()) {
        rect.moveLeft(std::clamp(rect.left(), area.left(),
                                 std::max(area.left(), area.right() - rect.width())));
        rect.moveTop(std::clamp(rect.top(), area.top(),
                                std::max(area.top(), area.bottom() - rect.height())));
    }
    dialog->move(rect.topLeft());
}

MainDialog::MainDialog(DevicePlatform& platform, std::filesystem::path profilePath, GuiHooks hooks,
                       QWidget* parent)
    : QDialog(parent),
      controller_(platform, *this),
      profilePath_(std::move(profilePath)),
      hooks_(std::move(hooks)) {
    const DialogTemplate& dialog = MainDialogTemplate();
    ApplyDialogFrame(this, dialog, true);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFont(DialogFont());

    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    for (const MenuItem& item : MainMenu()) {
        QAction* action = menuBar_->addAction(QString::fromUtf8(item.text));
        const int id = item.commandId;
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        if (auto key = MnemonicOf(item.text)) mnemonics_.push_back({*key, id, true});
    }

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    controls_ = BuildControls(dialog, client, BaseUnitsOf(font()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menuBar_);
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    stepGroup_ = new QButtonGroup(this);
    stepGroup_->setExclusive(true);
    for (int id = control::kFirstStepButton; id <= control::kFineStepButton; ++id) {
        stepGroup_->addButton(static_cast<QPushButton*>(Control(id)), id);
    }
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == kNoId) continue;
        QWidget* widget = Control(control.id);
        const int id = control.id;
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            // Mnemonics are handled with the other keys, with and without Alt, as a dialog
            // does; Qt's own Alt shortcut would bypass the key filter.
            button->setShortcut(QKeySequence());
            connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
            if (auto key = MnemonicOf(control.text)) mnemonics_.push_back({*key, id, false});
        } else if (auto* label = qobject_cast<ClickableLabel*>(widget)) {
            connect(label, &ClickableLabel::clicked, this, [this, id] { OnCommand(id); });
        } else if (auto* spin = qobject_cast<UpDownControl*>(widget)) {
            connect(spin, &UpDownControl::deltaProposed, this,
                    [this](int delta) { controller_.ApplySpinDelta(delta); });
        }
    }
    qApp->installEventFilter(this);
}

MainDialog::~MainDialog() {
    qApp->removeEventFilter(this);
    // Destroying the window saves the settings, whichever way it goes.
    SaveSettingsOnce();
}

QWidget* MainDialog::Control(int id) const {
    return controls_.Find(id);
}

void MainDialog::InitMainWindow() {
    setWindowIcon(ApplicationIcon());
    ApplyFonts();
    controller_.ConnectAtStartup();
    const IniProfile profile(profilePath_);
    const int step = LoadSettings(profile, controller_.state());
    static_cast<QPushButton*>(Control(StepTable[static_cast<std::size_t>(step)].buttonId))
        ->setChecked(true);
    if (controller_.state().outputOn != 0) SetButtonChecked(control::kOutputButton, true);
    controller_.Refresh();
    Control(control::kPresetM1)->setFocus();
}

void MainDialog::ApplyFonts() {
    auto* caption = static_cast<QLabel*>(Control(control::kReadoutCaption));
    caption->setFont(FitFont(CaptionFont(), kCaptionFontHeight, {caption->text()},
                             caption->contentsRect().width(), 0));
    auto* readout = static_cast<QLabel*>(Control(control::kReadout));
    // Room for the longest readouts with the frame and a little margin on each side.
    const QRect inside = readout->contentsRect().adjusted(2, 0, -2, 0);
    readout->setFont(FitFont(ReadoutFont(), kReadoutFontHeight, LongestReadouts(), inside.width(),
                             inside.height()));
}

void MainDialog::ShowCentred() {
    CentreOver(this, nullptr);
    show();
}

QMenu* MainDialog::CreateContextMenu() {
    auto* menu = new QMenu(this);
    const MenuItem& item = AboutMenuItem();
    QAction* action = menu->addAction(QString::fromUtf8(item.text));
    const int id = item.commandId;
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    return menu;
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ---------------------------------------------------------------------------------------------
// Commands

void MainDialog::OnCommand(int id) {
    for (const Command& command : CommandTable()) {
        if (id >= command.firstId && id <= command.lastId) {
            (this->*command.handler)(id);
            return;
        }
    }
}

void MainDialog::OnStep(int id) {
    if (id == control::kFineStepButton) {
        controller_.SelectStep(FineStepHz);
        return;
    }
    for (const StepEntry& entry : StepTable) {
        if (entry.buttonId == id) controller_.SelectStep(entry.hz);
    }
}

void MainDialog::OnReadoutClick(int) {
    controller_.ToggleEntry();
}

void MainDialog::OnPreset(int id) {
    controller_.PressPreset(id - control::kPresetM1);
}

void MainDialog::OnWriteMode(int) {
    controller_.ToggleWriteMode();
    // The click has toggled the button itself; it shows the flag, whatever the click did.
    SetButtonChecked(control::kWriteButton, controller_.state().writeMode != 0);
}

void MainDialog::OnOutput(int) {
    controller_.ToggleOutput();
    SetButtonChecked(control::kOutputButton, controller_.state().outputOn != 0);
}

void MainDialog::OnExit(int) {
    controller_.ExitProgram();
}

void MainDialog::OnSettings(int) {
    OpenSettingsDialog();
}

void MainDialog::OnFirmwareVersion(int) {
    controller_.ShowFirmwareVersion();
}

void MainDialog::OnAbout(int id) {
    ShowAboutBox(static_cast<unsigned>(id));
}

void MainDialog::OpenSettingsDialog() {
    SettingsDialog dialog(this);
    ControllerState& state = controller_.state();
    dialog.ExchangeIn({state.displayMode, state.saveFrequency, state.reverseSpin,
                       state.reverseWheel, state.lockWhileOutput, state.outputAtStart});
    CentreOver(&dialog, this);
    if (dialog.exec() != QDialog::Accepted) return;
    const SettingsValues values = dialog.ExchangeOut();
    state.displayMode = values.displayMode;
    state.saveFrequency = values.saveFrequency;
    state.reverseSpin = values.reverseSpin;
    state.reverseWheel = values.reverseWheel;
    state.lockWhileOutput = values.lockWhileOutput;
    state.outputAtStart = values.outputAtStart;
    controller_.Refresh();
}

void MainDialog::ShowAboutBox(unsigned commandId) {
    if ((commandId & 0xFFF0u) != static_cast<unsigned>(command::kAbout)) return;
    AboutDialog dialog(this);
    CentreOver(&dialog, this);
    dialog.exec();
}

// ---------------------------------------------------------------------------------------------
// ControllerWindow

void MainDialog::SetControlText(int controlId, const std::string& text) {
    QWidget* widget = Control(controlId);
    const QString qtext = QString::fromStdString(text);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(qtext);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(qtext);
    }
}

void MainDialog::SetButtonChecked(int controlId, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(controlId))) {
        button->setChecked(checked);
    }
}

void MainDialog::ShowMessage(const std::string& text, MessageIcon icon) {
    const QString qtext = QString::fromStdString(text);
    if (hooks_.showMessage) {
        hooks_.showMessage(qtext, icon);
        return;
    }
    // Owned by the window once it shows; during start-up the box stands alone.
    QMessageBox box(
        icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
        QCoreApplication::applicationName(), qtext, QMessageBox::Ok, isVisible() ? this : nullptr);
    box.exec();
}

void MainDialog::Beep() {
    if (hooks_.beep) {
        hooks_.beep();
    } else {
        QApplication::beep();
    }
}

void MainDialog::DestroyWindow() {
    if (destroyed_) return;
    destroyed_ = true;
    hide();
    SaveSettingsOnce();
    emit windowDestroyed();
}

void MainDialog::closeEvent(QCloseEvent* event) {
    // The close box and Alt+F4 skip the exit command: nothing is sent, the settings are saved.
    DestroyWindow();
    event->accept();
}

std::optional<int> MainDialog::PressedStepIndex() const {
    std::optional<int> pressed;
    for (std::size_t i = 0; i < StepTable.size(); ++i) {
        auto* button = qobject_cast<QAbstractButton*>(Control(StepTable[i].buttonId));
        if (button != nullptr && button->isChecked()) pressed = static_cast<int>(i);
    }
    return pressed;
}

void MainDialog::SaveSettingsOnce() {
    if (settingsSaved_) return;
    settingsSaved_ = true;
    // Read the file again: keys another copy of the program wrote meanwhile stay.
    IniProfile profile(profilePath_);
    SaveSettings(profile, controller_.state(), PressedStepIndex());
    SaveProfileOrSay(profile, "TOVRIK");  // the window stays as it is; stderr says why
}

// ---------------------------------------------------------------------------------------------
// Keyboard and wheel

bool MainDialog::BoundForThisWindow(QObject* watched) const {
    return !destroyed_ && watched->isWidgetType() &&
           static_cast<QWidget*>(watched)->window() == this;
}

bool MainDialog::FirstSighting(QObject* watched, QKeyEvent* event) {
    // An ignored key event travels on to the parent widgets as the same object.
    const bool propagated =
        event == lastKey_ && event->timestamp() == lastKeyTimestamp_ &&
        lastKeyReceiver_ != nullptr && watched != lastKeyReceiver_ && watched->isWidgetType() &&
        lastKeyReceiver_->isWidgetType() &&
        static_cast<QWidget*>(watched)->isAncestorOf(static_cast<QWidget*>(lastKeyReceiver_));
    lastKey_ = event;
    lastKeyTimestamp_ = event->timestamp();
    if (!propagated) lastKeyReceiver_ = watched;
    return !propagated;
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            if (!BoundForThisWindow(watched)) break;
            // Every key of this window goes through the key filter below, none to a shortcut.
            event->accept();
            return true;
        case QEvent::KeyPress: {
            if (!BoundForThisWindow(watched)) break;
            auto* key = static_cast<QKeyEvent*>(event);
            if (!FirstSighting(watched, key)) break;
            return PreTranslateKey(key);
        }
        case QEvent::Wheel: {
            if (!BoundForThisWindow(watched)) break;
            const auto* wheel = static_cast<QWheelEvent*>(event);
            int delta = wheel->angleDelta().y();
            // X11 turns the wheel sideways while Alt is held; the wheel still tunes then.
            if (delta == 0 && wheel->modifiers().testFlag(Qt::AltModifier)) {
                delta = wheel->angleDelta().x();
            }
            if (delta == 0) return true;  // a sideways scroll is another message
            if (const auto notches = wheelNotches_.Feed(delta)) {
                controller_.ApplyWheelDelta(static_cast<std::int16_t>(
                    std::clamp<int>(*notches, std::numeric_limits<std::int16_t>::min(),
                                    std::numeric_limits<std::int16_t>::max())));
            }
            return true;
        }
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

bool MainDialog::PreTranslateKey(QKeyEvent* event) {
    // With Alt held a key is a system key, which the controller's filter does not see.
    if (!event->modifiers().testFlag(Qt::AltModifier)) {
        const int virtualKey = VirtualKeyFor(*event);
        if (virtualKey != 0 && controller_.PreviewKey(virtualKey) == KeyResult::Consumed) {
            return true;
        }
    }
    return DialogKey(event);
}

bool MainDialog::DialogKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool alt = modifiers.testFlag(Qt::AltModifier);
    if (alt && event->key() == Qt::Key_F4) {
        close();
        return true;
    }
    if (modifiers.testFlag(Qt::ControlModifier) || modifiers.testFlag(Qt::MetaModifier)) {
        return false;
    }
    for (const Mnemonic& mnemonic : mnemonics_) {
        if (mnemonic.key != event->key() || (mnemonic.needsAlt && !alt)) continue;
        if (auto* button = qobject_cast<QAbstractButton*>(Control(mnemonic.commandId))) {
            button->click();
        } else {
            OnCommand(mnemonic.commandId);
        }
        return true;
    }
    return false;
}

}  // namespace tovrik::gui
