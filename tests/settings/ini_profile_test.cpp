#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>

#include "app/settings/settings_store.h"
#include "tests/settings/temp_dir.h"

namespace tovrik {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

IniProfile Load(const TempDir& dir, const std::string& text) {
    WriteFile(dir / "T.INI", text);
    return IniProfile(dir / "T.INI");
}

bool HasTempLeftovers(const TempDir& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().rfind(".T.INI.", 0) == 0) return true;
    }
    return false;
}

TEST(IniProfile, LookupIgnoresCaseOfSectionAndKey) {
    TempDir dir;
    const IniProfile p = Load(dir, "[pRoFiLe]\nfreq = 12.5 \nSTEP=4\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"Profile", "Freq", "12.5"},  {"PROFILE", "FREQ", "12.5"}, {"profile", "step", "4"},
        {"Profile", "Fre", "absent"}, {"Prof", "Freq", "absent"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(p.ReadText(c.section, c.key, "absent"), c.expected) << c.section << "/" << c.key;
    }
}

TEST(IniProfile, ReplacesInPlaceAndKeepsEverythingElse) {
    TempDir dir;
    IniProfile p = Load(dir,
                        "; written by hand\r\n"
                        "[Other]\r\n"
                        "freq=1\r\n"
                        "\r\n"
                        "[profile]\r\n"
                        "; the frequency\r\n"
                        "FREQ = 5\r\n"
                        "Step=3\r\n"
                        "stray line\r\n");
    p.WriteText("Profile", "Freq", "7.00");
    EXPECT_EQ(p.Text(),
              "; written by hand\r\n"
              "[Other]\r\n"
              "freq=1\r\n"
              "\r\n"
              "[profile]\r\n"
              "; the frequency\r\n"
              "FREQ=7.00\r\n"
              "Step=3\r\n"
              "stray line\r\n");
    ASSERT_TRUE(p.Save());
    EXPECT_EQ(ReadFile(dir / "T.INI"), p.Text());
}

TEST(IniProfile, NewKeysFollowTheSectionsLastKeyAndNewSectionsGoLast) {
    TempDir dir;
    IniProfile p = Load(dir,
                        "[Profile]\n"
                        "Freq=1\n"
                        "\n"
                        "; about presets\n"
                        "[Preset]\n"
                        "0=2\n");
    p.WriteInt("profile", "Step", 4);
    p.WriteInt("Profile", "Display", 1);
    p.WriteText("Preset", "1", "3");
    p.WriteText("Extra", "A", "x");
    EXPECT_EQ(p.Text(),
              "[Profile]\n"
              "Freq=1\n"
              "Step=4\n"
              "Display=1\n"
              "\n"
              "; about presets\n"
              "[Preset]\n"
              "0=2\n"
              "1=3\n"
              "\n"
              "[Extra]\n"
              "A=x\n");
}

TEST(IniProfile, KeyGoesRightAfterAHeaderWithoutKeys) {
    TempDir dir;
    IniProfile p = Load(dir, "[Profile]\n; nothing yet\n\n[Preset]\n");
    p.WriteInt("Profile", "Lock", 1);
    EXPECT_EQ(p.Text(), "[Profile]\nLock=1\n; nothing yet\n\n[Preset]\n");
}

TEST(IniProfile, DuplicateSectionsAreSearchedInOrder) {
    TempDir dir;
    IniProfile p = Load(dir, "[Profile]\nA=1\n[Preset]\n0=9\n[PROFILE]\nA=2\nB=3\n");
    EXPECT_EQ(p.ReadInt("Profile", "A", 0), 1);
    EXPECT_EQ(p.ReadInt("Profile", "B", 0), 3);
    p.WriteInt("Profile", "B", 4);
    p.WriteInt("Profile", "C", 5);
    EXPECT_EQ(p.Text(), "[Profile]\nA=1\nC=5\n[Preset]\n0=9\n[PROFILE]\nA=2\nB=4\n");
}

TEST(IniProfile, LineBreaksInValuesCannotSplitTheFile) {
    IniProfile p;
    p.WriteText("Profile", "Freq", "1\n[Preset]\n0=5");
    EXPECT_EQ(p.Text(), "[Profile]\nFreq=1\n");
    EXPECT_EQ(p.ReadText("Preset", "0", "absent"), "absent");
}

TEST(IniProfile, MalformedLinesAreKeptButNeverMatch) {
    TempDir dir;
    IniProfile p = Load(dir,
                        "Freq=1\n"    // before any section
                        "[Profile\n"  // no closing bracket: opens nothing
                        "Freq=2\n"
                        "[Profile]\n"
                        ";Freq=3\n"  // comment
                        "=4\n"
                        "Freq\n"  // no '='
                        "  [ Preset ]  tail\n"
                        "0=5\n");
    EXPECT_EQ(p.ReadText("Profile", "Freq", "absent"), "absent");
    EXPECT_EQ(p.ReadText("Preset", "0", "absent"), "5");
    const std::string before = p.Text();
    p.WriteText("Profile", "Freq", "6");
    EXPECT_EQ(p.ReadText("Profile", "Freq", ""), "6");
    EXPECT_NE(p.Text().find("[Profile]\n;Freq=3\n=4\nFreq=6\nFreq\n"), std::string::npos)
        << p.Text();
    EXPECT_EQ(p.Text().size(), before.size() + 7);
}

TEST(IniProfile, IntegerReadingRules) {
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {"12", 12},
        {"  12", 12},
        {"+7", 7},
        {"-3", -3},
        {"12abc", 12},
        {"3.9", 3},
        {"abc", 0},
        {"-", 0},
        {"- 5", 0},
        {"0x10", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999", INT_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseProfileInt(c.text), c.expected) << c.text;

    TempDir dir;
    const IniProfile p = Load(dir, "[S]\nEmpty=\nBlank=   \nJunk=x\n");
    EXPECT_EQ(p.ReadInt("S", "Empty", 7), 7);
    EXPECT_EQ(p.ReadInt("S", "Blank", 7), 7);
    EXPECT_EQ(p.ReadInt("S", "Junk", 7), 0);
    EXPECT_EQ(p.ReadInt("S", "Missing", 7), 7);
}

// Only decimal numbers: NaN, infinity and hex never reach the controller from the file.
TEST(IniProfile, DoubleReadingTakesOnlyDecimalNumbers) {
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"12.5", 12.5},       {"  -3e2", -300.0},
        {"+.5", 0.5},         {"10000000.04xyz", 10000000.04},
        {" 12.5e3", 12500.0}, {"12abc", 12.0},
        {"5.", 5.0},          {"1e", 1.0},
        {"2e+", 2.0},         {"\t7E-1", 0.7},
        {"abc", 0.0},         {"", 0.0},
        {".", 0.0},           {"-", 0.0},
        {"nan", 0.0},         {" -NaN(123)", 0.0},
        {"inf", 0.0},         {"-inf", 0.0},
        {"INFINITY", 0.0},    {"0x10", 0.0},
        {"1e400", 0.0},       {"-1e400", 0.0},
        {"1,5", 1.0},         {"1e-400", 0.0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseProfileDouble(c.text), c.expected) << c.text;
    EXPECT_EQ(ParseProfileDouble(std::string("5\0"
                                             "7",
                                             3)),
              5.0);
}

TEST(IniProfile, NumbersIgnoreTheProcessLocale) {
    // A locale with a decimal comma, compiled for this test when none is installed.
    TempDir localeDir;
    const std::string command = "localedef -i de_DE -f UTF-8 '" +
                                (localeDir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    const char* oldLocPath = std::getenv("LOCPATH");
    const std::optional<std::string> savedLocPath =
        oldLocPath ? std::optional<std::string>(oldLocPath) : std::nullopt;
    if (::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE";
        ::setenv("LOCPATH", localeDir.path().c_str(), 1);
        if (::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE locale";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    const std::string localised = probe;
    EXPECT_EQ(ParseProfileDouble("12.5"), 12.5);
    EXPECT_EQ(ParseProfileDouble("12,5"), 12.0);
    EXPECT_EQ(FormatFixed(12.5, 2), "12.50");
    ::setlocale(LC_ALL, "C");
    if (savedLocPath) {
        ::setenv("LOCPATH", savedLocPath->c_str(), 1);
    } else {
        ::unsetenv("LOCPATH");
    }
    EXPECT_EQ(localised, "0,5");  // the locale really was in effect
}

TEST(IniProfile, FixedFormattingMatchesPrintf) {
    struct Case {
        double value;
        int decimals;
        const char* expected;
    } cases[] = {
        {0.1, 6, "0.100000"},
        {0.0, 6, "0.000000"},
        {10'000'000.041909515857696533203125, 2, "10000000.04"},
        {1.005, 2, "1.00"},
        {-2.5, 6, "-2.500000"},
        {std::numeric_limits<double>::infinity(), 2, "inf"},
        {-std::numeric_limits<double>::infinity(), 6, "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), 6, "nan"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFixed(c.value, c.decimals), c.expected) << c.value;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", c.decimals, c.value);
        EXPECT_EQ(FormatFixed(c.value, c.decimals), buf);
    }
    // Far beyond any fixed buffer, and read back unchanged.
    const double huge = std::numeric_limits<double>::max();
    const std::string text = FormatFixed(huge, 6);
    EXPECT_EQ(text.size(), 309u + 7u);
    EXPECT_EQ(ParseProfileDouble(text), huge);
    EXPECT_EQ(ParseProfileDouble(FormatFixed(1e300, 6)), 1e300);
}

TEST(IniProfile, SaveCreatesFoldersAndKeepsTheFileMode) {
    TempDir dir;
    IniProfile fresh(dir / "a" / "b" / "T.INI");
    fresh.WriteInt("S", "K", 1);
    ASSERT_TRUE(fresh.Save());
    EXPECT_EQ(ReadFile(dir / "a" / "b" / "T.INI"), "[S]\nK=1\n");
    EXPECT_EQ(std::filesystem::status(dir / "a" / "b").permissions(),
              std::filesystem::perms::owner_all);

    WriteFile(dir / "T.INI", "[S]\nK=0\n");
    std::filesystem::permissions(dir / "T.INI", std::filesystem::perms(0640));
    IniProfile existing(dir / "T.INI");
    existing.WriteInt("S", "K", 2);
    ASSERT_TRUE(existing.Save());
    EXPECT_EQ(ReadFile(dir / "T.INI"), "[S]\nK=2\n");
    EXPECT_EQ(std::filesystem::status(dir / "T.INI").permissions(), std::filesystem::perms(0640));
    EXPECT_FALSE(HasTempLeftovers(dir));
}

TEST(IniProfile, SaveThroughASymlinkReplacesItsTarget) {
    TempDir dir;
    WriteFile(dir / "real.ini", "[S]\nK=0\n");
    std::filesystem::create_symlink(dir / "real.ini", dir / "T.INI");
    IniProfile p(dir / "T.INI");
    p.WriteInt("S", "K", 3);
    ASSERT_TRUE(p.Save());
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "T.INI"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[S]\nK=3\n");
}

// Saves that fail leave the old file byte for byte and no temporary file behind.
TEST(IniProfile, FailedSavesKeepTheOldFile) {
    const std::string old = "; keep me\r\n[S]\r\nK=0\r\n";
    {
        // The temporary file cannot be written in full: the write fails half-way, as on a
        // full disk.
        TempDir dir;
        IniProfile p = Load(dir, old);
        p.WriteText("S", "Long", std::string(4096, 'x'));
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool saved_ok = p.Save();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(saved_ok);
        EXPECT_EQ(ReadFile(dir / "T.INI"), old);
        EXPECT_FALSE(HasTempLeftovers(dir));
    }
    {
        // The rename cannot replace the target.
        TempDir dir;
        std::filesystem::create_directory(dir / "T.INI");
        IniProfile p(dir / "T.INI");
        p.WriteInt("S", "K", 1);
        EXPECT_FALSE(p.Save());
        EXPECT_TRUE(std::filesystem::is_directory(dir / "T.INI"));
        EXPECT_FALSE(HasTempLeftovers(dir));
    }
    {
        // The folder cannot exist because a file has its name.
        TempDir dir;
        WriteFile(dir / "cfg", old);
        IniProfile p(dir / "cfg" / "T.INI");
        p.WriteInt("S", "K", 1);
        EXPECT_FALSE(p.Save());
        EXPECT_EQ(ReadFile(dir / "cfg"), old);
    }
}

// Runs `save` as an unprivileged user when the tests run as root, whom permissions do not
// stop. 1: saved, 0: refused, 2: could not switch user.
int SaveAsUser(const TempDir& dir, const std::function<bool()>& save) {
    if (::geteuid() != 0) return save() ? 1 : 0;
    constexpr uid_t kNobody = 65534;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (::lchown(entry.path().c_str(), kNobody, kNobody) != 0) return 2;
    }
    if (::chown(dir.path().c_str(), kNobody, kNobody) != 0) return 2;
    const pid_t pid = ::fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
        ::_exit(save() ? 1 : 0);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 2;
    return WEXITSTATUS(status);
}

TEST(IniProfile, ReadOnlyFileOrFolderIsLeftAlone) {
    const std::string old = "[S]\nK=0\n";
    for (const bool readOnlyFolder : {false, true}) {
        TempDir dir;
        WriteFile(dir / "T.INI", old);
        const auto save = [&] {
            IniProfile p(dir / "T.INI");
            p.WriteInt("S", "K", 1);
            return p.Save();
        };
        if (readOnlyFolder) {
            std::filesystem::permissions(dir.path(), std::filesystem::perms(0555));
        } else {
            std::filesystem::permissions(dir / "T.INI", std::filesystem::perms(0444));
        }
        const int result = SaveAsUser(dir, save);
        if (result == 2) GTEST_SKIP() << "cannot drop privileges here";
        EXPECT_EQ(result, 0) << (readOnlyFolder ? "folder" : "file");
        EXPECT_EQ(ReadFile(dir / "T.INI"), old);
        EXPECT_FALSE(HasTempLeftovers(dir));
    }
}

}  // namespace
}  // namespace tovrik
