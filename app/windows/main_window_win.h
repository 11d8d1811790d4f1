// The Windows TOVRIK's main window: a modeless dialog built from the main template. It owns
// the frequency controller and routes every command, spin click, wheel turn and key to it.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "app/windows/win_handles.h"
#include "controller/frequency_controller.h"
#include "controller/window.h"

namespace tovrik::win {

class MainWindow final : private ControllerWindow {
  public:
    // `readFrom` is where the settings come from at start (an older installation's file on a
    // first run); they are saved to `profilePath`.
    MainWindow(HINSTANCE instance, DevicePlatform& platform, std::wstring applicationName,
               std::filesystem::path readFrom, std::filesystem::path profilePath);
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
    struct Command;
    static std::span<const Command> CommandTable();
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // ControllerWindow
    void SetControlText(int controlId, const std::string& text) override;
    void SetButtonChecked(int controlId, bool checked) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    void Beep() override;
    void DestroyWindow() override;

    void OnCommand(int id);
    void OnStep(int id);
    void OnReadoutClick(int id);
    void OnPreset(int id);
    void OnWriteMode(int id);
    void OnOutput(int id);
    void OnExit(int id);
    void OnSettings(int id);
    void OnFirmwareVersion(int id);

    void InitMainWindow();
    void AddMenus();
    void ApplyFonts(UINT dpi);
    std::optional<int> PressedStepIndex() const;
    void SaveSettingsOnce();

    HINSTANCE instance_;
    std::wstring applicationName_;
    std::filesystem::path readFrom_;
    std::filesystem::path profilePath_;
    FrequencyController controller_;
    UniqueWindow window_;
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
    UniqueFont captionFont_;
    UniqueFont readoutFont_;
    bool settingsSaved_ = false;
};

}  // namespace tovrik::win
