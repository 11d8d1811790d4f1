// tovrikctl --help speaks each system's own language: no /dev/hidraw or signal names on
// Windows, device paths quoted where cmd.exe and PowerShell need it.
#include "cli/help_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli/app.h"
#include "tests/support/fake_platform.h"

namespace {

using namespace tovrik;
using namespace tovrik::cli;

std::string Whole(const HelpText& help) {
    return std::string(help.device) + "\n" + std::string(help.stop) + "\n" +
           std::string(help.footer);
}

TEST(HelpText, WindowsTextNamesNothingOfLinux) {
    const std::string text = Whole(kWindowsHelp);
    for (const char* foreign : {"/dev/", "hidraw", "SIG", "terminal"})
        EXPECT_EQ(text.find(foreign), std::string::npos) << foreign;
    EXPECT_NE(text.find("Ctrl+C"), std::string::npos);
    // Every example path with '&' is inside double quotes, as cmd.exe needs.
    const std::string footer(kWindowsHelp.footer);
    for (size_t at = footer.find('&'); at != std::string::npos; at = footer.find('&', at + 1)) {
        const size_t lineStart = footer.rfind('\n', at) + 1;
        const std::string before = footer.substr(lineStart, at - lineStart);
        EXPECT_EQ(std::count(before.begin(), before.end(), '"') % 2, 1) << before;
    }
    EXPECT_EQ(Whole(kPosixHelp).find("\\\\?\\"), std::string::npos);
}

TEST(HelpText, HelpPrintsThisSystemsText) {
    auto platform = tovrik::testing::FakePlatform::WithLayout("t");
    for (const char* command : {"", "sweep"}) {
        std::ostringstream out, err;
        std::vector<const char*> argv{"tovrikctl"};
        if (*command) argv.push_back(command);
        argv.push_back("--help");
        EXPECT_EQ(cli::Run(static_cast<int>(argv.size()), argv.data(), platform, out, err), 0);
        const std::string expected(*command ? kSystemHelp.stop : kSystemHelp.device);
        EXPECT_NE(out.str().find(expected), std::string::npos) << out.str();
        const HelpText& other = &kSystemHelp == &kWindowsHelp ? kPosixHelp : kWindowsHelp;
        EXPECT_EQ(out.str().find(std::string(other.stop)), std::string::npos);
    }
}

}  // namespace
