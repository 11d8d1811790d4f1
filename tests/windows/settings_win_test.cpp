// The settings file's Windows side, under Wine: the atomic replace, the refusals, the choice
// of an older installation's file on a first run, and a round trip through IniProfile.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/settings/ini_profile.h"
#include "app/settings/save_report.h"
#include "app/settings/settings_store.h"
#include "app/settings/windows/file_io.h"

namespace tovrik {
namespace {

namespace fs = std::filesystem;

class Folder {
  public:
    Folder() {
        path_ = fs::temp_directory_path() /
                ("tovrik-settings-" + std::to_string(::GetCurrentProcessId()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::vector<fs::path> Files() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(path_))
            files.push_back(entry.path().filename());
        return files;
    }

  private:
    fs::path path_;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(WindowsSettingsFile, ReplacesAtomicallyAndLeavesNoTemporaryFile) {
    Folder folder;
    const fs::path target = folder.path() / "sub" / "TOVRIK.INI";
    ASSERT_TRUE(windows_files::ReplaceAtomically(target, "[Profile]\nFreq=1.00\n"));
    EXPECT_EQ(ReadAll(target), "[Profile]\nFreq=1.00\n");
    ASSERT_TRUE(windows_files::ReplaceAtomically(target, "[Profile]\nFreq=2.00\n"));
    EXPECT_EQ(ReadAll(target), "[Profile]\nFreq=2.00\n");
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(target.parent_path()))
        left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<fs::path>{"TOVRIK.INI"});
}

TEST(WindowsSettingsFile, ReadOnlyFilesAndFoldersStayAsTheyAre) {
    Folder folder;
    const fs::path file = folder.path() / "TOVRIK.INI";
    { std::ofstream(file, std::ios::binary) << "old"; }
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(windows_files::ReplaceAtomically(file, "new"));
    EXPECT_EQ(ReadAll(file), "old");
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);

    const fs::path dir = folder.path() / "DIR.INI";
    fs::create_directory(dir);
    EXPECT_FALSE(windows_files::ReplaceAtomically(dir, "new"));
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(folder.Files().size(), 2u);  // no temporary file left beside them
}

// A first run reads the file an older installation left, and saves to the new place.
TEST(WindowsSettingsFile, FirstRunReadsTheOlderInstallationsFile) {
    Folder folder;
    const fs::path profile = folder.path() / "new" / "TOVRIK.INI";
    const fs::path store = folder.path() / "VirtualStore.INI";
    const fs::path windows = folder.path() / "Windows.INI";
    const std::vector<fs::path> candidates{store, windows};
    EXPECT_EQ(windows_files::FirstExisting(profile, candidates), profile);
    { std::ofstream(windows, std::ios::binary) << "[Profile]\r\nSaveFreq=1\r\nFreq=123.45\r\n"; }
    EXPECT_EQ(windows_files::FirstExisting(profile, candidates), windows);
    { std::ofstream(store, std::ios::binary) << "[Profile]\nFreq=7\n"; }
    EXPECT_EQ(windows_files::FirstExisting(profile, candidates), store);

    IniProfile old(windows, profile);
    EXPECT_EQ(old.ReadText("profile", "FREQ", ""), "123.45");
    old.WriteText("Profile", "Display", "2");
    ASSERT_TRUE(old.Save());
    EXPECT_EQ(ReadAll(profile), "[Profile]\r\nSaveFreq=1\r\nFreq=123.45\r\nDisplay=2\r\n");
    EXPECT_EQ(windows_files::FirstExisting(profile, candidates), profile);
    EXPECT_EQ(ReadAll(windows), "[Profile]\r\nSaveFreq=1\r\nFreq=123.45\r\n");  // left alone
}

// Fails as Windows does when a scanner holds the new file: ReplaceFileW moves the target away
// and then cannot rename the replacement (1176), and the first moves meet a sharing violation.
class ScannerHeldFile : public windows_files::FileOperations {
  public:
    explicit ScannerHeldFile(int busyMoves) : busyMoves_(busyMoves) {}
    unsigned long Replace(const fs::path& target, const fs::path&) override {
        fs::rename(target, target.string() + ".moved-away");
        return ERROR_UNABLE_TO_MOVE_REPLACEMENT;
    }
    unsigned long Move(const fs::path& from, const fs::path& to) override {
        if (busyMoves_-- > 0) return ERROR_SHARING_VIOLATION;
        return FileOperations::Move(from, to);
    }
    void Pause(unsigned) override {}

  private:
    int busyMoves_;
};

TEST(WindowsSettingsFile, AReplacementThatCannotBeRenamedIsMovedInOrKept) {
    Folder folder;
    const fs::path target = folder.path() / "TOVRIK.INI";
    for (const int busyMoves : {2, 1000}) {
        { std::ofstream(target, std::ios::binary) << "old"; }
        ScannerHeldFile scanner(busyMoves);
        std::error_code reason;
        const bool saved = windows_files::ReplaceAtomically(target, "new", &reason, &scanner);
        std::vector<fs::path> kept;
        for (const fs::path& name : folder.Files()) {
            if (name.string().starts_with(".TOVRIK.INI.")) kept.push_back(folder.path() / name);
        }
        if (busyMoves == 2) {
            EXPECT_TRUE(saved) << reason.message();
            EXPECT_EQ(ReadAll(target), "new");
            EXPECT_TRUE(kept.empty());
        } else {
            // Never in place: the new file is the only copy and stays, with the reason why.
            EXPECT_FALSE(saved);
            EXPECT_EQ(reason.value(), ERROR_SHARING_VIOLATION);
            EXPECT_FALSE(reason.message().empty());
            ASSERT_EQ(kept.size(), 1u);
            EXPECT_EQ(ReadAll(kept[0]), "new");
            // Nor does the next save's cleanup take it while the target is missing.
            fs::remove(target.string() + ".moved-away");
            EXPECT_EQ(windows_files::RemoveStaleTempFiles(target), 0);
            EXPECT_TRUE(fs::exists(kept[0]));
            // The next start reads it, the next save puts it in place, and the one after
            // that clears it away.
            const fs::path read = ProfileToRead(target, "TOVRIK-none");
            EXPECT_EQ(read, kept[0]);
            IniProfile reread(read, target);
            ASSERT_TRUE(reread.Save());
            EXPECT_TRUE(ReadAll(target).starts_with("new")) << ReadAll(target);
            ASSERT_TRUE(IniProfile(target).Save());
            EXPECT_FALSE(fs::exists(kept[0]));
        }
        fs::remove(target.string() + ".moved-away");
    }
}

// Another instance's save cleans up just as this one has closed its finished temporary file
// and not yet put it in place: the save still succeeds, and nothing is left behind.
class CleanupBeforeReplace : public windows_files::FileOperations {
  public:
    unsigned long Replace(const fs::path& target, const fs::path& replacement) override {
        if (!cleaned_) {
            cleaned_ = true;
            removed_ = windows_files::RemoveStaleTempFiles(target);
        }
        return FileOperations::Replace(target, replacement);
    }
    void Pause(unsigned) override {}
    bool cleaned_ = false;
    int removed_ = 0;
};

TEST(WindowsSettingsFile, AnotherInstancesCleanupCannotFailTheSave) {
    Folder folder;
    const fs::path target = folder.path() / "TOVRIK.INI";
    { std::ofstream(target, std::ios::binary) << "old"; }
    CleanupBeforeReplace otherInstance;
    std::error_code reason;
    EXPECT_TRUE(windows_files::ReplaceAtomically(target, "new", &reason, &otherInstance))
        << reason.message();
    EXPECT_EQ(otherInstance.removed_, 1);  // it did take the finished file
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_EQ(folder.Files(), std::vector<fs::path>{"TOVRIK.INI"});
}

// A killed save's temporary file goes with the next save; one a running save holds stays.
TEST(WindowsSettingsFile, StaleTemporaryFilesGoHeldOnesStay) {
    Folder folder;
    const fs::path target = folder.path() / "TOVRIK.INI";
    const fs::path stale = folder.path() / ".TOVRIK.INI.a1b2c3";
    const fs::path held = folder.path() / ".TOVRIK.INI.d4e5f6";
    const fs::path other = folder.path() / ".OTHER.INI.a1b2c3";
    for (const fs::path& p : {target, stale, held, other})
        std::ofstream(p, std::ios::binary) << "x";
    const HANDLE holder = ::CreateFileW(held.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(windows_files::LockAsSaveInProgress(holder, false));
    ASSERT_TRUE(IniProfile(target).Save());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(other));
    ::CloseHandle(holder);
}

// A file written from nothing has Windows' line ends; an existing LF file keeps its own.
TEST(WindowsSettingsFile, NewFilesGetCrLf) {
    Folder folder;
    IniProfile fresh(folder.path() / "NEW.INI");
    fresh.WriteInt("Profile", "Step", 5);
    std::error_code reason;
    ASSERT_TRUE(fresh.Save(&reason));
    EXPECT_EQ(ReadAll(fresh.path()), "[Profile]\r\nStep=5\r\n");
    { std::ofstream(folder.path() / "LF.INI", std::ios::binary) << "[Profile]\nStep=1\n"; }
    IniProfile lf(folder.path() / "LF.INI");
    lf.WriteInt("Profile", "Lock", 1);
    ASSERT_TRUE(lf.Save());
    EXPECT_EQ(ReadAll(lf.path()), "[Profile]\nStep=1\nLock=1\n");
}

// The reason of a failed save is the system's, as the save report shows it.
TEST(WindowsSettingsFile, AFailedSaveNamesTheSystemsReason) {
    Folder folder;
    const fs::path file = folder.path() / "TOVRIK.INI";
    { std::ofstream(file, std::ios::binary) << "old"; }
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    const SaveResult result = SaveProfile(IniProfile(file));
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(result.saved);
    EXPECT_EQ(result.reason, std::error_code(ERROR_ACCESS_DENIED, windows_files::Win32Category()));
    EXPECT_EQ(result.Line("TOVRIK"), "TOVRIK: cannot save " + file.string() + ": " +
                                         windows_files::Win32Error(ERROR_ACCESS_DENIED).message());
    EXPECT_FALSE(result.reason.message().empty());
}

}  // namespace
}  // namespace tovrik
