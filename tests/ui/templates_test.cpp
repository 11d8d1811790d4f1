// The tables every shell builds from must agree: the step buttons with the step table, the
// settings dialog's controls with the settings table.
#include "app/ui/templates.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/settings/settings_table.h"
#include "controller/step_table.h"

namespace tovrik::ui {
namespace {

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

TEST(Templates, StepButtonsShowTheStepTableInOrder) {
    const DialogTemplate& main = MainDialogTemplate();
    int previousX = -1;
    for (const StepEntry& step : StepTable) {
        const ControlTemplate* button = FindControl(main, step.buttonId);
        ASSERT_NE(button, nullptr) << step.label;
        EXPECT_STREQ(button->text, step.label);
        EXPECT_EQ(button->kind, ControlKind::PushLikeRadio) << step.label;
        EXPECT_GT(button->x, previousX) << step.label << " stands left of the step before it";
        previousX = button->x;
    }
    // The fine step follows the table on the right.
    const ControlTemplate* fine = FindControl(main, control::kFineStepButton);
    ASSERT_NE(fine, nullptr);
    EXPECT_GT(fine->x, previousX);
}

TEST(Templates, EveryMainWindowConstantHasItsControl) {
    for (int id : {control::kSpin, control::kPresetM1, control::kPresetM2, control::kPresetM3,
                   control::kReadoutCaption, control::kReadout, control::kExitButton,
                   control::kOutputButton, control::kStatusLine, control::kWriteButton}) {
        EXPECT_NE(FindControl(MainDialogTemplate(), id), nullptr) << id;
    }
}

// Other programs (the web page) show these words; a mnemonic there would read as "(&O)".
TEST(Templates, PlainTextDropsTheMnemonic) {
    const struct {
        int id;
        const char* text;
    } cases[] = {{control::kOutputButton, "出力"},
                 {control::kReadoutCaption, "出力周波数"},
                 {kNoId - 1, ""}};
    for (const auto& c : cases) EXPECT_EQ(PlainControlText(MainDialogTemplate(), c.id), c.text);
}

TEST(SettingsTable, EachRowHasItsOwnControlKeyAndFieldOfTheRightKind) {
    const DialogTemplate& dialog = SettingsDialogTemplate();
    std::set<int> ids;
    std::set<std::string> keys;
    for (const StoredSetting& row : SettingsTable) {
        const ControlTemplate* control = FindControl(dialog, row.controlId);
        ASSERT_NE(control, nullptr) << row.key;
        EXPECT_EQ(control->kind, row.edit == SettingEdit::List ? ControlKind::DropDownList
                                                               : ControlKind::AutoCheckBox)
            << row.key;
        EXPECT_TRUE(ids.insert(row.controlId).second) << row.key;
        EXPECT_TRUE(keys.insert(row.key).second) << row.key;
    }
    // The one check box that is no setting.
    EXPECT_EQ(ids.count(settings_control::kKeepOutputOnExit), 0u);
    ASSERT_NE(FindControl(dialog, settings_control::kKeepOutputOnExit), nullptr);

    // Each row writes its own field: setting one changes no other row.
    for (const StoredSetting& row : SettingsTable) {
        ControllerState state;
        for (const StoredSetting& other : SettingsTable) state.*other.field = 0;
        state.*row.field = 7;
        int set = 0;
        for (const StoredSetting& other : SettingsTable) set += state.*other.field != 0 ? 1 : 0;
        EXPECT_EQ(set, 1) << row.key;
    }
}

TEST(SettingsTable, DialogRules) {
    struct Case {
        int value, listIndex, checkValue;
    } cases[] = {{-1, -1, 0}, {0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 0}, {4, -1, 0}};
    const int entries = static_cast<int>(DisplayModeEntries().size());
    for (const Case& c : cases) {
        EXPECT_EQ(ShownListIndex(c.value, entries), c.listIndex) << c.value;
        EXPECT_EQ(ShownCheckValue(c.value), c.checkValue) << c.value;
    }
}

TEST(SettingsTable, CopySettingsTouchesOnlyTheRows) {
    ControllerState from;
    for (const StoredSetting& row : SettingsTable) from.*row.field = 2;
    from.frequencyHz = 1.0;
    from.outputOn = 1;
    ControllerState to;
    CopySettings(from, to);
    for (const StoredSetting& row : SettingsTable) EXPECT_EQ(to.*row.field, 2) << row.key;
    EXPECT_EQ(to.frequencyHz, ControllerState{}.frequencyHz);
    EXPECT_EQ(to.outputOn, 0);
}

}  // namespace
}  // namespace tovrik::ui
