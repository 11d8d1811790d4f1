// The Windows TOVRIK's main window: a modeless dialog built from the main template. Every
// command, spin click, wheel turn and key goes to the presenter, which owns the behaviour.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

#include "app/presenter/main_presenter.h"
#include "controller/window.h"
#include "win32/handles.h"

namespace tovrik::win {

class MainWindow final : private ControllerWindow, private MainWindowShell {
  public:
    // The settings are saved to `profilePath` (and read from an older installation's file on
    // a first run).
    MainWindow(HINSTANCE instance, DevicePlatform& platform, std::wstring applicationName,
               std::filesystem::path profilePath);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the hidden window, then: icons, menus, fonts, device, status line, settings and
    // the first refresh, so start-up messages come before the window shows. False when the
    // window could not be created.
    bool Create();
    void ShowCentred();
    HWND hwnd() const { return window_.get(); }

    // The message loop's hook before IsDialogMessageW: the controller's key filter sees every
    // key-down of this window first. True when the message was used up.
    bool PreTranslate(const MSG& message);

  private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

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

    void InitMainWindow();
    void AddMenus();
    void ApplyFonts(UINT dpi);

    HINSTANCE instance_;
    std::wstring applicationName_;
    MainPresenter presenter_;
    FrequencyController& controller_ = presenter_.controller();
    UniqueWindow window_;
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
    UniqueFont captionFont_;
    UniqueFont readoutFont_;
};

}  // namespace tovrik::win
