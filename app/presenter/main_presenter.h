// Everything the main window does, whatever toolkit draws it: the command table, start-up,
// the selected step, save on close and the About system command. A shell creates the widgets,
// implements ControllerWindow and MainWindowShell, and turns its toolkit's events into calls
// of this class; nothing of the window's behaviour is left for it to decide.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/settings/save_report.h"
#include "controller/controller_state.h"
#include "controller/frequency_controller.h"
#include "controller/window.h"
#include "device/platform.h"

namespace tovrik {

// What only the shell can do: its modal dialogs and its platform's way of telling the user.
class MainWindowShell {
  public:
    virtual ~MainWindowShell() = default;
    // The settings dialog over the main window, editing the settings rows of `state`; true on
    // OK (the rows were copied back), false when it was cancelled and `state` is untouched.
    virtual bool RunSettingsDialog(ControllerState& state) = 0;
    virtual void RunAboutBox() = 0;
    // The settings could not be saved (which file, the system's reason); the window is gone
    // or going.
    virtual void ReportSaveFailure(const SaveResult& failure) = 0;
    // Why a TOVRIK that was found could not be used: one line, for whoever looks.
    virtual void Diagnose(const std::string& line) = 0;
};

class MainPresenter {
  public:
    // The settings are read from ProfileToRead(profilePath) and saved to `profilePath`.
    MainPresenter(DevicePlatform& platform, ControllerWindow& window, MainWindowShell& shell,
                  std::filesystem::path profilePath, std::string applicationName);
    MainPresenter(const MainPresenter&) = delete;
    MainPresenter& operator=(const MainPresenter&) = delete;

    FrequencyController& controller() { return controller_; }
    const FrequencyController& controller() const { return controller_; }

    // Device, status line, settings, the step and output buttons and the first refresh; run
    // while the window is still hidden, so start-up messages come before it shows.
    void Start();

    // A control's click or a menu command; unknown ids do nothing.
    void OnCommand(int id);
    // A system-menu command: the About entry's ids open the About box (true); the others are
    // the shell's default handling (false).
    bool OnSystemCommand(unsigned id);

    // The pressed step button's index in the step table; empty for the fine step (and before
    // Start), so that Step keeps its stored value.
    std::optional<int> selectedStep() const { return selectedStep_; }

    // The window went away: saves the settings, once however often it is called. A failure
    // goes to the shell's ReportSaveFailure.
    void SaveOnClose();

  private:
    struct Command;
    void OnStep(int id);
    void OnReadoutClick(int id);
    void OnPreset(int id);
    void OnWriteMode(int id);
    void OnOutput(int id);
    void OnExit(int id);
    void OnSettings(int id);
    void OnFirmwareVersion(int id);

    ControllerWindow& window_;
    MainWindowShell& shell_;
    std::filesystem::path profilePath_;
    std::string applicationName_;
    FrequencyController controller_;
    std::optional<int> selectedStep_;
    bool saved_ = false;
};

}  // namespace tovrik
