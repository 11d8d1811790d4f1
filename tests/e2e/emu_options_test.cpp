// tovrik-emu's option parsing, without starting a test bed.
#include "tools/emu_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tovrik::emu::ParsedOptions;

ParsedOptions Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tovrik-emu");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return tovrik::emu::ParseOptions(static_cast<int>(args.size()), argv.data());
}

TEST(EmuOptions, TakesEveryOptionAndLeavesTheCommandAlone) {
    const auto parsed =
        Parse({"--devices", "o,t,t", "--version", "2.0.255", "--log", "l", "--control", "c",
               "--decode", "--frame-us", "1000", "--timestamps", "--", "prog", "--log", "x"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.help);
    const auto& o = parsed.options;
    EXPECT_EQ(o.devices, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(o.version, (std::array<std::uint8_t, 3>{2, 0, 255}));
    EXPECT_EQ(o.logPath, "l");
    EXPECT_EQ(o.controlPath, "c");
    EXPECT_TRUE(o.decode);
    EXPECT_EQ(o.frameUs, 1000u);
    EXPECT_TRUE(o.timestamps);
    EXPECT_EQ(o.command, (std::vector<std::string>{"prog", "--log", "x"}));

    // Without "--" the first word that is no option starts the command.
    const auto bare = Parse({"prog", "--devices", "o"});
    EXPECT_EQ(bare.options.devices, std::vector<bool>{true});
    EXPECT_EQ(bare.options.command, (std::vector<std::string>{"prog", "--devices", "o"}));
    EXPECT_EQ(bare.options.version, (std::array<std::uint8_t, 3>{1, 0, 0}));
    EXPECT_EQ(bare.options.frameUs, 0u);
    EXPECT_FALSE(bare.options.timestamps);
}

TEST(EmuOptions, NamesWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--devices", "t,x", "--", "true"}, "--devices takes"},
        {{"--devices", "", "--", "true"}, "--devices needs"},
        {{"--devices", "t,", "--", "true"}, "--devices takes"},
        {{"--version", "1.2", "--", "true"}, "--version takes"},
        {{"--version", "1.2.256", "--", "true"}, "--version takes"},
        {{"--version", "1.-2.3", "--", "true"}, "--version takes"},
        {{"--frame-us", "-1", "--", "true"}, "--frame-us takes"},
        {{"--frame-us", "1000001", "--", "true"}, "--frame-us takes"},
        {{"--frame-us", "1ms", "--", "true"}, "--frame-us takes"},
        {{"--frob", "--", "true"}, "'--frob'"},
        {{"-xy", "--", "true"}, "'-x'"},
        {{"--log"}, "'--log'"},
        {{"--devices", "t"}, "no COMMAND given"},
        {{}, "no COMMAND given"},
    };
    for (const auto& [args, message] : cases) {
        const auto parsed = Parse(args);
        EXPECT_NE(parsed.error.find(message), std::string::npos)
            << args.size() << " args: " << parsed.error;
    }
}

TEST(EmuOptions, HelpWinsOverWhatFollows) {
    EXPECT_TRUE(Parse({"--help", "--frob"}).help);
    EXPECT_FALSE(Parse({"--frob", "--help"}).help);
}

}  // namespace
