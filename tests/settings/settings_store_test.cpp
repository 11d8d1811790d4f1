#include "app/settings/settings_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/settings/temp_dir.h"

namespace tovrik {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct Loaded {
    ControllerState state;
    int step;
};

Loaded LoadText(const TempDir& dir, const std::string& text) {
    WriteFile(dir / "TOVRIK.INI", text);
    Loaded l{};
    l.step = LoadSettings(IniProfile(dir / "TOVRIK.INI"), l.state);
    return l;
}

TEST(Settings, NoFileGivesTheDefaults) {
    TempDir dir;
    ControllerState s;
    s.frequencyHz = 1234.0;  // not touched while SaveFreq is 0
    const int step = LoadSettings(IniProfile(dir / "TOVRIK.INI"), s);
    EXPECT_EQ(step, 2);
    EXPECT_EQ(s.stepHz, 100'000.0);
    EXPECT_EQ(s.frequencyHz, 1234.0);
    EXPECT_EQ(s.displayMode, 0);
    EXPECT_EQ(s.saveFrequency | s.reverseSpin | s.reverseWheel | s.lockWhileOutput |
                  s.outputAtStart | s.outputOn,
              0);
    EXPECT_EQ(s.presets, (std::array<double, 3>{0.0, 0.0, 0.0}));
}

TEST(Settings, FrequencyIsRestoredOnlyWithSaveFreq) {
    TempDir dir;
    struct Case {
        const char* file;
        double expected;
    } cases[] = {
        {"[Profile]\nSaveFreq=0\nFreq=123.45\n", 10'000'000.0},
        {"[Profile]\nSaveFreq=1\nFreq=123.45\n", 123.45},
        {"[Profile]\nSaveFreq=1\n", 10'000'000.0},
        {"[Profile]\nSaveFreq=-7\nFreq=99999999.5\n", 99'999'999.5},  // no range check
        {"[Profile]\nSaveFreq=1\nFreq=ten MHz\n", 0.0},
        {"[Profile]\nSaveFreq=1\nFreq=\n", 0.0},
        {"[Profile]\nSaveFreq=1\nFreq=-5\n", -5.0},
        // Nothing the file holds gives a NaN or an infinity.
        {"[Profile]\nSaveFreq=1\nFreq=1e400\n", 0.0},
        {"[Profile]\nSaveFreq=1\nFreq=nan\n", 0.0},
        {"[Profile]\nSaveFreq=1\nFreq=-inf\n", 0.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadText(dir, c.file).state.frequencyHz, c.expected) << c.file;
}

TEST(Settings, StepIndexOutsideTheTableFallsBackToTheDefault) {
    TempDir dir;
    struct Case {
        const char* value;
        int index;
    } cases[] = {{"0", 0},           {"8", 8}, {"5", 5},   {"9", 2}, {"-1", 2},
                 {"99999999999", 2}, {"", 2},  {"abc", 0}, {"7x", 7}};
    for (const auto& c : cases) {
        const Loaded l = LoadText(dir, std::string("[Profile]\nStep=") + c.value + "\n");
        EXPECT_EQ(l.step, c.index) << c.value;
        EXPECT_EQ(l.state.stepHz, StepTable[static_cast<std::size_t>(c.index)].hz) << c.value;
    }
}

TEST(Settings, FlagsAreTakenAsStoredAndOutStartSwitchesTheOutputOn) {
    TempDir dir;
    const Loaded l = LoadText(dir,
                              "[PROFILE]\nDisplay=3\nRevSpin=5\nRevWheel=-1\nLock=1\nOutStart=2\n"
                              "[preset]\n0=0.1\n1=12345678.123456\n2=junk\n");
    EXPECT_EQ(l.state.displayMode, 3);
    EXPECT_EQ(l.state.reverseSpin, 5);
    EXPECT_EQ(l.state.reverseWheel, -1);
    EXPECT_EQ(l.state.lockWhileOutput, 1);
    EXPECT_EQ(l.state.outputAtStart, 2);
    EXPECT_EQ(l.state.outputOn, 1);
    EXPECT_EQ(l.state.presets, (std::array<double, 3>{0.1, 12345678.123456, 0.0}));

    EXPECT_EQ(LoadText(dir, "[Profile]\nOutStart=0\n").state.outputOn, 0);
}

TEST(Settings, FirstSaveWritesEveryKeyInOrder) {
    TempDir dir;
    ControllerState s;
    s.frequencyHz = 10'000'000.0 + FineStepHz;
    s.displayMode = 2;
    s.lockWhileOutput = 1;
    s.presets = {0.1, 0.0, 79'999'999.123456789};
    IniProfile p(dir / "TOVRIK.INI");
    SaveSettings(p, s, 4);
    ASSERT_TRUE(p.Save());
    EXPECT_EQ(ReadFile(dir / "TOVRIK.INI"),
              "[Profile]\n"
              "Freq=10000000.04\n"
              "Step=4\n"
              "Display=2\n"
              "SaveFreq=0\n"
              "RevSpin=0\n"
              "RevWheel=0\n"
              "Lock=1\n"
              "OutStart=0\n"
              "\n"
              "[Preset]\n"
              "0=0.100000\n"
              "1=0.000000\n"
              "2=79999999.123457\n");
}

TEST(Settings, SaveUpdatesAnExistingFileAndKeepsTheStepWhileTheFineStepIsSelected) {
    TempDir dir;
    WriteFile(dir / "TOVRIK.INI",
              "; my generator\r\n[profile]\r\nstep=6\r\nfreq=1.00\r\nSaveFreq=0\r\n"
              "[Other]\r\nx=y\r\n");
    IniProfile p(dir / "TOVRIK.INI");
    ControllerState s;
    LoadSettings(p, s);
    s.frequencyHz = 2.5;
    SaveSettings(p, s, std::nullopt);  // fine step selected
    ASSERT_TRUE(p.Save());
    EXPECT_EQ(ReadFile(dir / "TOVRIK.INI"),
              "; my generator\r\n[profile]\r\nstep=6\r\nfreq=2.50\r\nSaveFreq=0\r\n"
              "Display=0\r\nRevSpin=0\r\nRevWheel=0\r\nLock=0\r\nOutStart=0\r\n[Other]\r\n"
              "x=y\r\n\r\n[Preset]\r\n0=0.000000\r\n1=0.000000\r\n2=0.000000\r\n");

    // Without an earlier Step the key stays absent and the next start takes the default.
    IniProfile fresh(dir / "NEW.INI");
    SaveSettings(fresh, s, std::nullopt);
    EXPECT_EQ(fresh.ReadText("Profile", "Step", "absent"), "absent");
    ControllerState next;
    EXPECT_EQ(LoadSettings(fresh, next), 2);
}

TEST(Settings, RoundTripThroughTheFile) {
    TempDir dir;
    ControllerState s;
    s.saveFrequency = 1;
    s.frequencyHz = 12'345'678.0 + 3 * FineStepHz;  // more than two decimals
    s.reverseWheel = 1;
    s.outputAtStart = 1;
    s.presets = {0.1, -5.5e12, 1e300};
    IniProfile p(dir / "TOVRIK.INI");
    SaveSettings(p, s, 7);
    ASSERT_TRUE(p.Save());

    ControllerState back;
    EXPECT_EQ(LoadSettings(IniProfile(dir / "TOVRIK.INI"), back), 7);
    EXPECT_EQ(back.frequencyHz, 12'345'678.13);
    EXPECT_EQ(back.stepHz, 1.0);
    EXPECT_EQ(back.reverseWheel, 1);
    EXPECT_EQ(back.outputOn, 1);
    EXPECT_EQ(back.presets[0], 0.1);
    EXPECT_EQ(back.presets[1], -5.5e12);
    EXPECT_EQ(back.presets[2], 1e300);
}

template <std::size_t N>
std::string WithNuls(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// Hand-edited or damaged files load without a crash, and a later save produces a file that
// loads again.
TEST(Settings, GarbageFilesLoadAndSave) {
    std::mt19937 rng(20240611);
    std::string binary(64 * 1024, '\0');
    for (auto& c : binary) c = static_cast<char>(rng() & 0xFF);
    const std::string cases[] = {
        binary,
        "[Profile]\nSaveFreq=1\nFreq=" + binary + "\n",
        WithNuls("[Prof\0ile]\nSaveFreq=1\0\n[Profile]\nSaveFreq=1\nFreq=5\0"
                 "7\n"),
        "[Profile]\nSaveFreq=1\nFreq=" + std::string(1 << 20, '9') + "\n",
        "[Profile\nSaveFreq=1\nFreq=5\nProfile]\n[\n]\n[]\n=\n==\n[[Preset]]\n0=1\n",
        std::string(2 << 20, '['),
        "[Profile]\r\rSaveFreq=1\r\nFreq=nan\r\n[Preset]\n0=1e400\n1=-1e400\n2=0x1p-1080\n",
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        TempDir dir;
        WriteFile(dir / "TOVRIK.INI", cases[i]);
        IniProfile p(dir / "TOVRIK.INI");
        ControllerState s;
        const int step = LoadSettings(p, s);
        EXPECT_GE(step, 0) << i;
        EXPECT_LE(step, 8) << i;
        SaveSettings(p, s, step);
        ASSERT_TRUE(p.Save()) << i;
        ControllerState again;
        LoadSettings(IniProfile(dir / "TOVRIK.INI"), again);
        EXPECT_EQ(again.saveFrequency, s.saveFrequency) << i;
        EXPECT_EQ(again.presets[0], s.presets[0]) << i;
    }
}

class EnvVar {
  public:
    explicit EnvVar(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v;
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    void Set(const char* value) {
        if (value)
            ::setenv(name_, value, 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Settings, ProfileLivesInTheUsersConfigFolder) {
    EnvVar xdg("XDG_CONFIG_HOME");
    EnvVar home("HOME");
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/x/cfg", "/h/u", "/x/cfg/TOVRIK.INI"},
        {nullptr, "/h/u", "/h/u/.config/TOVRIK.INI"},
        {"", "/h/u", "/h/u/.config/TOVRIK.INI"},
        {"relative/cfg", "/h/u", "/h/u/.config/TOVRIK.INI"},
    };
    for (const auto& c : cases) {
        xdg.Set(c.xdg);
        home.Set(c.home);
        EXPECT_EQ(DefaultProfilePath("TOVRIK"), c.expected) << (c.xdg ? c.xdg : "(unset)");
    }
    xdg.Set(nullptr);
    home.Set(nullptr);
    EXPECT_EQ(DefaultProfilePath("TOVRIK").filename(), "TOVRIK.INI");
}

}  // namespace
}  // namespace tovrik
