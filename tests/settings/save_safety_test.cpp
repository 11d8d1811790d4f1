// What a save keeps and refuses: line ends, read-only files for every user, the reason of a
// failure, and the temporary files of killed saves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/settings/posix/temp_files.h"
#include "app/settings/save_report.h"
#include "app/settings/settings_store.h"
#include "tests/settings/temp_dir.h"

namespace tovrik {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

TEST(SaveSafety, UnchangedLinesSurviveRepeatedSavesByteForByte) {
    struct Case {
        const char* before;
        const char* after;  // after K=1 was written and the file saved and reloaded twice
    };
    const Case cases[] = {
        {";note\r\r\n[S]\nK=0\n", ";note\r\r\n[S]\nK=1\n"},
        {"[S]\r\nK=0\r\n; x\r\n", "[S]\r\nK=1\r\n; x\r\n"},
        {"[S]\nK=0\r\r\nodd\rline\n", "[S]\nK=1\r\r\nodd\rline\n"},
        {"[T]\r\n", "[T]\r\n\r\n[S]\r\nK=1\r\n"},  // new lines follow the first line's end
        {"[S]\nJ=2", "[S]\nJ=2\nK=1\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir / "T.INI", c.before);
        for (int round = 0; round < 2; ++round) {
            IniProfile p(dir / "T.INI");
            p.WriteInt("S", "K", 1);
            ASSERT_TRUE(p.Save());
        }
        EXPECT_EQ(ReadFile(dir / "T.INI"), c.after) << c.before;
    }
}

// Root passes every access() test; the mode bits must stop it all the same.
TEST(SaveSafety, ModeBitsDecideForEveryUser) {
    struct Case {
        fs::perms mode;
        bool saved;
    };
    const Case cases[] = {
        {fs::perms(0444), false}, {fs::perms(0400), false}, {fs::perms(0555), false},
        {fs::perms(0644), true},  {fs::perms(0600), true},  {fs::perms(0200), true},
    };
    const std::string old = "[S]\nK=0\n";
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir / "T.INI", old);
        fs::permissions(dir / "T.INI", c.mode);
        IniProfile p(dir / "T.INI");
        p.WriteInt("S", "K", 1);
        std::error_code reason;
        EXPECT_EQ(p.Save(&reason), c.saved) << static_cast<int>(c.mode);
        fs::permissions(dir / "T.INI", fs::perms::owner_read);
        EXPECT_EQ(ReadFile(dir / "T.INI"), c.saved ? "[S]\nK=1\n" : old);
        EXPECT_EQ(reason,
                  c.saved ? std::error_code() : make_error_code(std::errc::permission_denied));
    }
}

TEST(SaveSafety, AFailedSaveNamesTheFileAndTheReasonOnOneLine) {
    TempDir dir;
    fs::create_directory(dir / "T.INI");
    IniProfile p(dir / "T.INI");
    p.WriteInt("S", "K", 1);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    ASSERT_TRUE(out);
    EXPECT_FALSE(SaveProfileOrSay(p, "TOVRIK", out.get()));
    std::rewind(out.get());
    char line[512] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out.get()), nullptr);
    EXPECT_EQ(std::string(line),
              "TOVRIK: cannot save " + (dir / "T.INI").string() + ": Is a directory\n");
    EXPECT_EQ(std::fgetc(out.get()), EOF) << "one line only";

    IniProfile good(dir / "U.INI");
    good.WriteInt("S", "K", 1);
    EXPECT_TRUE(SaveProfileOrSay(good, "TOVRIK", out.get()));
    EXPECT_EQ(std::fgetc(out.get()), EOF) << "a good save says nothing";
}

// A killed save leaves ".T.INI.XXXXXX"; the next save removes it unless a running save holds
// its lock. Other names and other kinds of file stay.
TEST(SaveSafety, StaleTemporaryFilesGoAndHeldOnesStay) {
    TempDir dir;
    WriteFile(dir / "T.INI", "[S]\nK=0\n");
    WriteFile(dir / ".T.INI.abc123", "stale");
    WriteFile(dir / ".T.INI.held01", "being written");
    WriteFile(dir / ".T.INI.abc", "short name");
    WriteFile(dir / ".T.INI.abc1234", "long name");
    WriteFile(dir / ".U.INI.abc123", "another file's");
    WriteFile(dir / "target", "linked");
    fs::create_symlink(dir / "target", dir / ".T.INI.link01");
    fs::create_directory(dir / ".T.INI.dir001");

    // flock belongs to the open file description, so this open stands for another save.
    const int held = ::open((dir / ".T.INI.held01").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    IniProfile p(dir / "T.INI");
    p.WriteInt("S", "K", 1);
    ASSERT_TRUE(p.Save());
    ::close(held);

    EXPECT_FALSE(fs::exists(dir / ".T.INI.abc123"));
    for (const char* kept : {".T.INI.held01", ".T.INI.abc", ".T.INI.abc1234", ".U.INI.abc123",
                             ".T.INI.link01", ".T.INI.dir001", "target"}) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(dir / kept))) << kept;
    }
    EXPECT_EQ(ReadFile(dir / "target"), "linked");
    EXPECT_EQ(RemoveStaleTempFiles(dir.path(), "T.INI"), 1) << "unlocked now";
}

TEST(SaveSafety, ANewTemporaryFileIsLockedUntilItIsGone) {
    TempDir dir;
    std::string path;
    const int fd = CreateLockedTempFile(dir.path(), "T.INI", path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(RemoveStaleTempFiles(dir.path(), "T.INI"), 0);
    EXPECT_TRUE(fs::exists(path));
    ::close(fd);
    EXPECT_EQ(RemoveStaleTempFiles(dir.path(), "T.INI"), 1);
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace tovrik
