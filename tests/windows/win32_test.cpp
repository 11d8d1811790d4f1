// The Win32 helpers under Wine: where DLLs are loaded from once a program has restricted the
// search, and the system's error texts as the user reads them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "win32/dll_search.h"
#include "win32/system_message.h"
#include "win32/text.h"

namespace tovrik::win {
namespace {

constexpr wchar_t kPlanted[] = L"tovrik_planted.dll";  // beside this program

// Whether a load by name finds `name`; unloaded again, so that the next load searches anew.
bool Loads(const wchar_t* name) {
    HMODULE module = ::LoadLibraryW(name);
    if (module == nullptr) return false;
    ::FreeLibrary(module);
    return true;
}

TEST(DllSearch, RestrictedSearchSkipsCopiesBesideTheProgram) {
    // A system DLL that this program has not loaded yet.
    constexpr wchar_t kSystem[] = L"version.dll";
    ASSERT_TRUE(Loads(kPlanted)) << "the default search finds the copy beside the program";
    // The system's hid.dll, never a copy beside the program (there is none by that name here,
    // and the planted one is not in System32).
    HMODULE hid = LoadSystemLibrary(L"hid.dll");
    ASSERT_NE(hid, nullptr) << ::GetLastError();
    EXPECT_NE(::GetProcAddress(hid, "HidD_GetAttributes"), nullptr);
    EXPECT_EQ(LoadSystemLibrary(kPlanted), nullptr);

    ASSERT_TRUE(RestrictDllSearch(DllSearch::ProgramFolderAndSystem));
    EXPECT_TRUE(Loads(kPlanted));
    EXPECT_TRUE(Loads(kSystem));
    ASSERT_TRUE(RestrictDllSearch(DllSearch::SystemOnly));
    EXPECT_FALSE(Loads(kPlanted));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_TRUE(Loads(kSystem));
}

TEST(SystemMessage, TextsBecomeOneLineClausesInUtf8) {
    const struct {
        std::wstring text;
        std::string clause;
    } cases[] = {
        {L"The operation completed successfully.\r\n", "The operation completed successfully"},
        {L"この操作を正しく終了しました。\r\n", "この操作を正しく終了しました"},
        {L"The first line\r\nand the second.\r\n", "The first line and the second"},
        {L"Path too long: C:\\a.b.\r\n", "Path too long: C:\\a.b"},
        {L" .\r\n", ""},
        {L"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SystemMessageClause(c.text), c.clause) << c.clause;
}

TEST(SystemMessage, ComesInTheUsersLanguageOrNotAtAll) {
    EXPECT_FALSE(SystemMessage(ERROR_TIMEOUT).empty());
    EXPECT_EQ(SystemMessage(0x2000FFFF), "");  // a code the system has no text for
    // Where the system has a Japanese text it arrives as UTF-8, not in the ANSI code page.
    const std::string japanese =
        SystemMessage(ERROR_ACCESS_DENIED, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    if (japanese.empty()) GTEST_SKIP() << "no Japanese system texts here";
    EXPECT_EQ(Narrow(Widen(japanese)), japanese);
    EXPECT_TRUE(std::any_of(japanese.begin(), japanese.end(), [](char c) {
        return (c & 0x80) != 0;
    })) << japanese;
}

}  // namespace
}  // namespace tovrik::win
