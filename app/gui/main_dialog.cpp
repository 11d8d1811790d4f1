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
#include <algorithm>

#include "app/gui/about_dialog.h"
#include "app/gui/controls.h"
#include "app/gui/fonts.h"
#include "app/gui/settings_dialog.h"
#include "app/settings/save_report.h"
#include "app/settings/settings_table.h"

namespace tovrik::gui {

namespace {

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
      presenter_(platform, *this, *this, std::move(profilePath),
                 QCoreApplication::applicationName().toStdString()),
      hooks_(std::move(hooks)) {
    const DialogTemplate& dialog = MainDialogTemplate();
    ApplyDialogFrame(this, dialog, true);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFont(DialogFont());

    input_ = std::make_unique<InputRouter>(
        this, InputTarget{
                  [this](int virtualKey) { return controller().PreviewKey(virtualKey); },
                  [this](std::int16_t delta) { controller().ApplyWheelDelta(delta); },
                  [this](int id) { OnCommand(id); },
                  [this](int id) { return Control(id); },
              });

    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    for (const MenuItem& item : MainMenu()) {
        QAction* action = menuBar_->addAction(QString::fromUtf8(item.text));
        const int id = item.commandId;
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        if (auto key = MnemonicOf(item.text)) input_->AddMnemonic(*key, id, true);
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
        stepGroup_->addButton(ControlAs<QPushButton>(id), id);
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
            if (auto key = MnemonicOf(control.text)) input_->AddMnemonic(*key, id, false);
        } else if (auto* label = qobject_cast<ClickableLabel*>(widget)) {
            connect(label, &ClickableLabel::clicked, this, [this, id] { OnCommand(id); });
        } else if (auto* spin = qobject_cast<UpDownControl*>(widget)) {
            connect(spin, &UpDownControl::deltaProposed, this,
                    [this](int delta) { controller().ApplySpinDelta(delta); });
        }
    }
}

MainDialog::~MainDialog() {
    input_.reset();
    // Destroying the window saves the settings, whichever way it goes.
    presenter_.SaveOnClose();
}

QWidget* MainDialog::Control(int id) const {
    return controls_.Find(id);
}

void MainDialog::InitMainWindow() {
    setWindowIcon(ApplicationIcon());
    ApplyFonts();
    presenter_.Start();
    Control(control::kPresetM1)->setFocus();
}

void MainDialog::ApplyFonts() {
    auto* caption = ControlAs<QLabel>(control::kReadoutCaption);
    caption->setFont(FitFont(CaptionFont(), kCaptionFontHeight, {caption->text()},
                             caption->contentsRect().width(), 0));
    auto* readout = ControlAs<QLabel>(control::kReadout);
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
    connect(action, &QAction::triggered, this,
            [this, id] { presenter_.OnSystemCommand(static_cast<unsigned>(id)); });
    return menu;
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ---------------------------------------------------------------------------------------------
// MainWindowShell

bool MainDialog::RunSettingsDialog(ControllerState& state) {
    SettingsDialog dialog(this);
    dialog.ExchangeIn(state);
    CentreOver(&dialog, this);
    if (dialog.exec() != QDialog::Accepted) return false;
    CopySettings(dialog.ExchangeOut(), state);
    return true;
}

void MainDialog::RunAboutBox() {
    AboutDialog dialog(this);
    CentreOver(&dialog, this);
    dialog.exec();
}

void MainDialog::ReportSaveFailure(const SaveResult& failure) {
    // The window is gone: standard error says which file and why.
    WriteToStandardError(failure.Line("TOVRIK"));
}

void MainDialog::Diagnose(const std::string& line) {
    WriteToStandardError(line);
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
    input_->Stop();
    hide();
    presenter_.SaveOnClose();
    emit windowDestroyed();
}

void MainDialog::closeEvent(QCloseEvent* event) {
    // The close box and Alt+F4 skip the exit command: nothing is sent, the settings are saved.
    DestroyWindow();
    event->accept();
}

}  // namespace tovrik::gui
