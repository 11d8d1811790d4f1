// The main window in Qt: built from template 102; every command, spin click, wheel turn and
// key press goes to the presenter, which owns the window's behaviour.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/gui/controls.h"
#include "app/gui/dialog_builder.h"
#include "app/gui/input_router.h"
#include "app/presenter/main_presenter.h"
#include "controller/control_ids.h"
#include "controller/window.h"

class QButtonGroup;
class QMenu;
class QMenuBar;

namespace tovrik::gui {

// Message boxes and beeps go through these when set, so tests can record them.
struct GuiHooks {
    std::function<void(const QString& text, MessageIcon icon)> showMessage;
    std::function<void()> beep;
};

class MainDialog : public QDialog, private ControllerWindow, private MainWindowShell {
    Q_OBJECT
  public:
    MainDialog(DevicePlatform& platform, std::filesystem::path profilePath, GuiHooks hooks = {},
               QWidget* parent = nullptr);
    ~MainDialog() override;

    // Icons, fonts, device, status line, settings and the first refresh; before the window
    // first shows, so start-up messages come before it.
    void InitMainWindow();
    // Centres the window in the screen's work area and shows it.
    void ShowCentred();

    FrequencyController& controller() { return presenter_.controller(); }
    QWidget* Control(int id) const;
    template <class T>
    T* ControlAs(int id) const {
        return controls_.As<T>(id);
    }
    QMenuBar* menuBar() const { return menuBar_; }
    QMenu* CreateContextMenu();

    // Runs the handler bound to a command id (controls, menu items).
    void OnCommand(int id) { presenter_.OnCommand(id); }

  signals:
    // The window went away (exit button or close box) and the settings were saved.
    void windowDestroyed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The window has no OK or Cancel: nothing closes it but the exit button and the close box.
    void accept() override {}
    void reject() override {}

  private:
    // ControllerWindow
    void SetControlText(int controlId, const std::string& text) override;
    void SetButtonChecked(int controlId, bool checked) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    void Beep() override;
    void DestroyWindow() override;

    // MainWindowShell
    bool RunSettingsDialog(ControllerState& state) override;
    void RunAboutBox() override;
    void ReportSaveFailure(const SaveResult& failure) override;
    void Diagnose(const std::string& line) override;

    void ApplyFonts();

    MainPresenter presenter_;
    GuiHooks hooks_;
    BuiltControls controls_;
    QMenuBar* menuBar_ = nullptr;
    QButtonGroup* stepGroup_ = nullptr;
    bool destroyed_ = false;
    // Last, so it stops filtering before the controller it feeds goes away.
    std::unique_ptr<InputRouter> input_;
};

// Places `dialog` centred over `owner`, kept inside the owner's screen.
void CentreOver(QWidget* dialog, const QWidget* owner);

}  // namespace tovrik::gui
