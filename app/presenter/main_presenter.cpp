#include "app/presenter/main_presenter.h"

#include <utility>

#include "app/settings/settings_store.h"
#include "app/ui/templates.h"

namespace tovrik {

struct MainPresenter::Command {
    int firstId;
    int lastId;
    void (MainPresenter::*handler)(int id);
};

MainPresenter::MainPresenter(DevicePlatform& platform, ControllerWindow& window,
                             MainWindowShell& shell, std::filesystem::path profilePath,
                             std::string applicationName)
    : window_(window),
      shell_(shell),
      profilePath_(std::move(profilePath)),
      applicationName_(std::move(applicationName)),
      controller_(platform, window, [this](const std::string& line) { shell_.Diagnose(line); }) {}

void MainPresenter::Start() {
    controller_.ConnectAtStartup();
    const IniProfile profile(ProfileToRead(profilePath_, applicationName_));
    const int step = LoadSettings(profile, controller_.state());
    selectedStep_ = step;
    window_.SetButtonChecked(StepTable[static_cast<std::size_t>(step)].buttonId, true);
    if (controller_.state().outputOn != 0) window_.SetButtonChecked(control::kOutputButton, true);
    controller_.Refresh();
}

void MainPresenter::OnCommand(int id) {
    // A new command is one row here and one handler.
    static constexpr Command kTable[] = {
        {control::kFirstStepButton, control::kFineStepButton, &MainPresenter::OnStep},
        {control::kReadout, control::kReadout, &MainPresenter::OnReadoutClick},
        {control::kPresetM1, control::kPresetM3, &MainPresenter::OnPreset},
        {control::kWriteButton, control::kWriteButton, &MainPresenter::OnWriteMode},
        {control::kOutputButton, control::kOutputButton, &MainPresenter::OnOutput},
        {control::kExitButton, control::kExitButton, &MainPresenter::OnExit},
        {ui::command::kSettings, ui::command::kSettings, &MainPresenter::OnSettings},
        {ui::command::kFirmwareVersion, ui::command::kFirmwareVersion,
         &MainPresenter::OnFirmwareVersion},
    };
    for (const Command& command : kTable) {
        if (id >= command.firstId && id <= command.lastId) {
            (this->*command.handler)(id);
            return;
        }
    }
}

bool MainPresenter::OnSystemCommand(unsigned id) {
    // The low four bits of a system command belong to the system: 16..31 are all About.
    if ((id & 0xFFF0u) != static_cast<unsigned>(ui::command::kAbout)) return false;
    shell_.RunAboutBox();
    return true;
}

void MainPresenter::OnStep(int id) {
    const auto hz = StepOfButton(id);
    if (!hz) return;
    controller_.SelectStep(*hz);
    selectedStep_.reset();  // the fine step is never stored
    for (std::size_t i = 0; i < StepTable.size(); ++i) {
        if (StepTable[i].buttonId == id) selectedStep_ = static_cast<int>(i);
    }
}

void MainPresenter::OnReadoutClick(int) {
    controller_.ToggleEntry();
}

void MainPresenter::OnPreset(int id) {
    controller_.PressPreset(id - control::kPresetM1);
}

// The click has already changed the button; the controller sets it to the flag.
void MainPresenter::OnWriteMode(int) {
    controller_.ToggleWriteMode();
}

void MainPresenter::OnOutput(int) {
    controller_.ToggleOutput();
}

void MainPresenter::OnExit(int) {
    controller_.ExitProgram();
}

void MainPresenter::OnSettings(int) {
    if (shell_.RunSettingsDialog(controller_.state())) controller_.Refresh();
}

void MainPresenter::OnFirmwareVersion(int) {
    controller_.ShowFirmwareVersion();
}

void MainPresenter::SaveOnClose() {
    if (saved_) return;
    saved_ = true;
    // Read the file again: keys another copy of the program wrote meanwhile stay; on a first
    // run on Windows that is the older installation's file, saved to the new place.
    IniProfile profile(ProfileToRead(profilePath_, applicationName_), profilePath_);
    SaveSettings(profile, controller_.state(), selectedStep_);
    const SaveResult result = SaveProfile(profile);
    if (!result.saved) shell_.ReportSaveFailure(result);
}

}  // namespace tovrik
