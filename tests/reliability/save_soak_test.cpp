// Saves under hostile conditions: killed at random moments, on a full disk, on a read-only
// file. The settings file is always the old or the new content, never a mix or a stub.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "app/settings/save_report.h"
#include "app/settings/settings_store.h"
#include "tests/settings/temp_dir.h"

namespace tovrik {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

// A profile that says whether it is whole: the counter opens and closes it, with padding
// between, so a torn or half-written file cannot pass.
IniProfile Numbered(const fs::path& path, int n) {
    IniProfile p(path);
    p.WriteInt("S", "N", n);
    p.WriteText("S", "Pad", std::string(static_cast<std::size_t>(2000 + n % 3000), 'p'));
    p.WriteInt("S", "End", n);
    return p;
}

bool Whole(const fs::path& path, int& n) {
    const IniProfile p(path);
    n = p.ReadInt("S", "N", -1);
    const int end = p.ReadInt("S", "End", -2);
    return n == end &&
           p.ReadText("S", "Pad", "").size() == static_cast<std::size_t>(2000 + n % 3000) &&
           ReadFile(path) == Numbered(path, n).Text();
}

int TempFiles(const fs::path& dir) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        count += entry.path().filename().string().rfind(".T.INI.", 0) == 0;
    }
    return count;
}

// 500 kills of a process that saves in a loop, each after a random time.
TEST(SaveSoak, KilledSavesLeaveTheOldOrTheNewFile) {
    constexpr int kKills = 500;
    TempDir dir;
    const fs::path path = dir / "T.INI";
    ASSERT_TRUE(Numbered(path, 0).Save());
    std::mt19937 random(20240516);
    std::uniform_int_distribution<int> delayUs(0, 12000);
    int last = 0;
    int mostTemps = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int n = last + 1;; ++n) {
                if (!Numbered(path, n).Save()) ::_exit(3);
            }
        }
        ::usleep(static_cast<useconds_t>(delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving loop ended by itself: " << status;
        int n = -1;
        ASSERT_TRUE(Whole(path, n)) << "after kill " << kill << ":\n"
                                    << ReadFile(path).substr(0, 200);
        ASSERT_GE(n, last);
        last = n;
        // A killed save may leave its own temporary file; the next save takes it away.
        mostTemps = std::max(mostTemps, TempFiles(dir.path()));
        ASSERT_LE(TempFiles(dir.path()), 1);
    }
    ASSERT_TRUE(Numbered(path, last + 1).Save());
    EXPECT_EQ(TempFiles(dir.path()), 0);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d kills in %.1f s, %d saves completed, at most %d temporary file(s) at once\n",
                kKills, seconds, last, mostTemps);
}

// A tmpfs of 64 KiB filled up: the save fails with the reason and keeps the old file.
TEST(SaveSoak, AFullDiskKeepsTheOldFile) {
    TempDir dir;
    const fs::path mount = dir / "disk";
    fs::create_directory(mount);
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    if (::mount("tovrik-full", mount.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{mount};

    const fs::path path = mount / "T.INI";
    ASSERT_TRUE(Numbered(path, 1).Save());
    const std::string old = ReadFile(path);
    {
        // Fill what is left.
        std::FILE* filler = std::fopen((mount / "filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::string block(1024, 'f');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
               std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        IniProfile p = Numbered(path, 2 + attempt);
        std::error_code reason;
        ASSERT_FALSE(p.Save(&reason));
        EXPECT_EQ(reason, std::errc::no_space_on_device);
        EXPECT_EQ(ReadFile(path), old);
        EXPECT_EQ(TempFiles(mount), 0);
    }
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    EXPECT_FALSE(SaveProfileOrSay(Numbered(path, 9), "TOVRIK", out));
    std::rewind(out);
    char line[512] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    std::fclose(out);
    EXPECT_EQ(std::string(line),
              "TOVRIK: cannot save " + path.string() + ": No space left on device\n");
}

}  // namespace
}  // namespace tovrik
