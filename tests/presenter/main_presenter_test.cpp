// The main window's behaviour for both shells, driven through the presenter with a recording
// window and a recording shell.
#include "app/presenter/main_presenter.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/ui/templates.h"
#include "tests/controller/recording_window.h"
#include "tests/settings/temp_dir.h"
#include "tests/support/fake_platform.h"

namespace tovrik::testing {
namespace {

class RecordingShell : public MainWindowShell {
  public:
    bool RunSettingsDialog(ControllerState& state) override {
        ++settingsDialogs;
        if (!acceptSettings) return false;
        state.displayMode = kDisplayTuningWord;
        return true;
    }
    void RunAboutBox() override { ++aboutBoxes; }
    void ReportSaveFailure(const SaveResult& failure) override {
        failedSaves.push_back(failure.Line("T"));
    }
    void Diagnose(const std::string& line) override { diagnostics.push_back(line); }

    bool acceptSettings = true;
    int settingsDialogs = 0;
    int aboutBoxes = 0;
    std::vector<std::string> failedSaves;
    std::vector<std::string> diagnostics;
};

class PresenterTest : public ::testing::Test {
  protected:
    void Make(const std::string& layout, const std::string& profile = "") {
        if (!profile.empty()) WriteFile(Ini(), profile);
        platform = FakePlatform::WithLayout(layout);
        presenter.emplace(platform, window, shell, Ini(), "TOVRIK");
        presenter->Start();
    }
    std::filesystem::path Ini() const { return dir / "TOVRIK.INI"; }
    const ControllerState& state() { return presenter->controller().state(); }

    TempDir dir;
    FakePlatform platform;
    RecordingWindow window;
    RecordingShell shell;
    std::optional<MainPresenter> presenter;
};

TEST_F(PresenterTest, StartShowsTheDeviceAndTheStoredSettings) {
    struct Case {
        const char* layout;
        const char* profile;
        int checkedStep;
        bool outputOn;
        std::size_t sent;
        std::size_t messages;
        const char* status;
    };
    const Case cases[] = {
        {"o,t", "", 2, false, 0, 0, text::kStatusDetected},
        {"t", "[Profile]\nStep=7\nOutStart=1\n", 7, true, 1, 0, text::kStatusDetected},
        {"t", "[Profile]\nStep=42\n", 2, false, 0, 0, text::kStatusDetected},
        // Output at start without a device: the send fails with its message, still hidden.
        {"o", "[Profile]\nOutStart=1\n", 2, true, 0, 1, text::kStatusNotDetected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        window = RecordingWindow();
        Make(c.layout, c.profile);
        EXPECT_EQ(window.Text(control::kStatusLine), c.status);
        EXPECT_TRUE(window.Checked(StepTable[static_cast<std::size_t>(c.checkedStep)].buttonId));
        EXPECT_EQ(presenter->selectedStep(), c.checkedStep);
        EXPECT_EQ(window.Checked(control::kOutputButton), c.outputOn);
        EXPECT_FALSE(window.Text(control::kReadout).empty());
        EXPECT_EQ(platform.sent().size(), c.sent);
        EXPECT_EQ(window.messages.size(), c.messages);
    }
}

TEST_F(PresenterTest, RefusalReasonsGoToTheShell) {
    platform = FakePlatform::WithLayout("t");
    platform.At(0).heldByOtherProgram = true;
    presenter.emplace(platform, window, shell, Ini(), "TOVRIK");
    presenter->Start();
    ASSERT_EQ(shell.diagnostics.size(), 1u);
    EXPECT_EQ(shell.diagnostics[0].rfind(platform.At(0).path + ": ", 0), 0u);
    EXPECT_EQ(window.Text(control::kStatusLine), text::kStatusNotDetected);
}

TEST_F(PresenterTest, CommandsRunTheirHandlers) {
    Make("t");
    presenter->OnCommand(StepTable[4].buttonId);
    EXPECT_EQ(state().stepHz, StepTable[4].hz);
    presenter->OnCommand(control::kFineStepButton);
    EXPECT_EQ(state().stepHz, FineStepHz);
    presenter->OnCommand(control::kReadout);
    EXPECT_TRUE(state().entryActive);
    presenter->OnCommand(control::kReadout);
    EXPECT_FALSE(state().entryActive);

    presenter->OnCommand(control::kWriteButton);
    EXPECT_TRUE(window.Checked(control::kWriteButton));
    presenter->OnCommand(control::kPresetM3);  // stores into M3, ends write mode
    EXPECT_EQ(state().presets[2], state().frequencyHz);
    EXPECT_FALSE(window.Checked(control::kWriteButton));

    presenter->OnCommand(control::kOutputButton);
    EXPECT_TRUE(window.Checked(control::kOutputButton));
    EXPECT_EQ(platform.sent().size(), 1u);

    presenter->OnCommand(ui::command::kFirmwareVersion);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].icon, MessageIcon::Information);

    // Settings: OK refreshes (and sends), cancel leaves everything.
    presenter->OnCommand(ui::command::kSettings);
    EXPECT_EQ(window.Text(control::kReadout), "0x0E38E38E");
    EXPECT_EQ(platform.sent().size(), 2u);
    shell.acceptSettings = false;
    presenter->OnCommand(ui::command::kSettings);
    EXPECT_EQ(shell.settingsDialogs, 2);
    EXPECT_EQ(platform.sent().size(), 2u);

    for (const int unknown : {0, 1001, 1026, 1028, ui::command::kAbout})
        presenter->OnCommand(unknown);
    EXPECT_EQ(shell.aboutBoxes, 0);
    EXPECT_EQ(window.destroyed, 0);

    presenter->OnCommand(control::kExitButton);  // stop report, then the window goes
    EXPECT_EQ(platform.sent().size(), 3u);
    EXPECT_EQ(window.destroyed, 1);
}

TEST_F(PresenterTest, OnlyTheAboutSystemCommandsOpenTheAboutBox) {
    Make("t");
    const struct {
        unsigned id;
        bool about;
    } cases[] = {{16, true},  {31, true},      {15, false},
                 {32, false}, {0xF060, false}, {0xF010, false}};
    for (const auto& c : cases) {
        const int before = shell.aboutBoxes;
        EXPECT_EQ(presenter->OnSystemCommand(c.id), c.about) << c.id;
        EXPECT_EQ(shell.aboutBoxes - before, c.about ? 1 : 0) << c.id;
    }
}

TEST_F(PresenterTest, SaveOnCloseStoresTheSelectedStepOnce) {
    struct Case {
        int clicked;
        const char* stored;
    };
    // The fine step is never stored: Step keeps its value from the file.
    const Case cases[] = {
        {StepTable[5].buttonId, "Step=5"}, {control::kFineStepButton, "Step=4"}, {0, "Step=4"}};
    for (const Case& c : cases) {
        Make("t", "[Profile]\nStep=4\n[Other]\nkeep=me\n");
        if (c.clicked != 0) presenter->OnCommand(c.clicked);
        presenter->SaveOnClose();
        const std::string saved = ReadFile(Ini());
        EXPECT_NE(saved.find(c.stored), std::string::npos) << saved;
        EXPECT_NE(saved.find("keep=me"), std::string::npos) << saved;
        std::filesystem::remove(Ini());
        presenter->SaveOnClose();
        EXPECT_FALSE(std::filesystem::exists(Ini()));
    }
    EXPECT_TRUE(shell.failedSaves.empty());
}

TEST_F(PresenterTest, SaveWritesEveryKeyInOrder) {
    Make("");
    presenter->OnCommand(StepTable[1].buttonId);
    presenter->SaveOnClose();
    std::string keys;
    std::istringstream lines(ReadFile(Ini()));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with('[')) keys += line + " ";
        if (const auto eq = line.find('='); eq != std::string::npos)
            keys += line.substr(0, eq) + " ";
    }
    EXPECT_EQ(
        keys,
        "[Profile] Freq Step Display SaveFreq RevSpin RevWheel Lock OutStart [Preset] 0 1 2 ");
    EXPECT_NE(ReadFile(Ini()).find("\nStep=1\n"), std::string::npos);
    EXPECT_NE(ReadFile(Ini()).find("\n0=0.000000\n"), std::string::npos);
}

TEST_F(PresenterTest, AFailedSaveIsReportedWithFileAndReason) {
    Make("t", "[Profile]\nStep=4\n");
    presenter->OnCommand(StepTable[1].buttonId);
    std::filesystem::permissions(Ini(), std::filesystem::perms::owner_read);
    presenter->SaveOnClose();
    presenter->SaveOnClose();
    ASSERT_EQ(shell.failedSaves.size(), 1u);
    EXPECT_EQ(shell.failedSaves[0], "T: cannot save " + Ini().string() + ": Permission denied");
    EXPECT_EQ(ReadFile(Ini()), "[Profile]\nStep=4\n");
}

}  // namespace
}  // namespace tovrik::testing
