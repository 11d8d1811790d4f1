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

}  // namespace
}  // namespace tovrik
