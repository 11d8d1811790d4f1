// tovrik-emu itself: its control commands and log lines, the decoding, the environment and
// exit status it gives its command, and its cleaning up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/emu_session.h"

namespace {

using tovrik::testing::EmuOptions;
using tovrik::testing::EmuSession;
using tovrik::testing::EmuToolPath;

struct ToolRun {
    int status = -1;
    std::string output;
};

// Runs tovrik-emu directly with a shell command line of arguments; stdout and stderr together.
// `input` is a printf format for its standard input.
// `environment` is a list of NAME=VALUE words for it.
ToolRun RunTool(const std::string& arguments, const std::string& input = "",
                const std::string& environment = "") {
    ToolRun run;
    const std::string command = "printf '" + input + "' | env " + environment + " '" +
                                EmuToolPath() + "' " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(EmuTool, AcknowledgesEachControlCommandOrSaysWhyNot) {
    EmuSession emu(EmuOptions{"t,o", "1.0.0", false, {}}, {"cat"});
    const std::vector<std::pair<std::string, bool>> commands = {
        {"refuse-write 0 on", true},
        {"refuse-write 0 off", true},
        {"refuse-feature 1 on", true},
        {"refuse-feature 1 off", true},
        {"hold 0", true},
        {"hold 0", false},
        {"release 0", true},
        {"release 0", false},
        {"unplug 1", true},
        {"unplug 1", false},
        {"hold 1", false},
        {"replug 1", true},
        {"replug 1", false},
        {"hold 1", true},
        {"unplug 1", true},
        {"replug 1", true},
        {"release 1", false},  // the unplug dropped the hold
        {"unplug 2", false},
        {"refuse-write 0 maybe", false},
        {"hold", false},
        {"frobnicate 0", false},
    };
    std::vector<std::string> expected;
    for (const auto& [command, ok] : commands) {
        EXPECT_EQ(emu.Control(command), ok) << command;
        expected.push_back("control " + command + (ok ? " ok" : " failed"));
    }
    // Extra blanks are no part of a command; an empty line is none.
    EXPECT_TRUE(emu.Control("  refuse-write   0 on "));
    expected.push_back("control refuse-write 0 on ok");

    const auto lines = emu.LogLines();
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // A failure carries its reason after the colon.
        EXPECT_EQ(lines[i].substr(0, lines[i].find(':')), expected[i]);
    }
    emu.CloseInput();
    EXPECT_EQ(emu.Wait(), 0);
}

TEST(EmuTool, DecodesWhatIsWritten) {
    EmuSession emu(EmuOptions{"o,t", "1.0.0", true, {}}, {TOVRIK_LINK_PROBE});
    const std::vector<std::string> commands = {
        "send-once /dev/hidraw1 00 79 56 34 12 01 00 00",
        "send-once /dev/hidraw1 00 00 00 00 00 01 00 00",
        "send-once /dev/hidraw1 00 00 00 00 00 05 00 00",
        "send-once /dev/hidraw1 00 72 1C C7 71 01 00 00",
        "send-once /dev/hidraw1 00 FF FF FF FF 01 00 00",
        "send-once /dev/hidraw1 00 01 00 00 00 09 00 00",
    };
    for (const auto& command : commands) {
        emu.SendLine(command);
        EXPECT_EQ(emu.ReadLine(), "sent") << command;
    }
    // The device link refuses to send to another device, so that one is written raw.
    emu.SendLine("send-once /dev/hidraw0 00 01 00 00 00 01 00 00");
    EXPECT_EQ(emu.ReadLine(), "not-opened");
    emu.SendLine("raw /dev/hidraw0 00 01 00 00 00 01 00 00");
    EXPECT_EQ(emu.ReadLine(), "wrote 8");
    emu.SendLine("raw /dev/hidraw1 00 01 02");
    EXPECT_EQ(emu.ReadLine(), "wrote 3");
    EXPECT_EQ(emu.LogLines(),
              (std::vector<std::string>{
                  "hidraw1 write 00 79 56 34 12 01 00 00 -> frequency word 305419897 = "
                  "12,800,000.01 Hz",
                  "hidraw1 write 00 00 00 00 00 01 00 00 -> stop",
                  "hidraw1 write 00 00 00 00 00 05 00 00 -> power-saving",
                  "hidraw1 write 00 72 1C C7 71 01 00 00 -> frequency word 1908874354 = "
                  "80,000,000.00 Hz",
                  "hidraw1 write 00 FF FF FF FF 01 00 00 -> frequency word 4294967295 = "
                  "179,999,999.95 Hz",
                  "hidraw1 write 00 01 00 00 00 09 00 00 -> control 09 word 1",
                  "hidraw0 write 00 01 00 00 00 01 00 00 -> frequency word 1 = 0.04 Hz",
                  "hidraw1 write 00 01 02 -> 3 bytes",
              }));
    EXPECT_EQ(emu.WriteLines()[0], "hidraw1 write 00 79 56 34 12 01 00 00");
}

TEST(EmuTool, GivesTheCommandItsEnvironmentAndRemovesTheTestBed) {
    EmuSession emu(EmuOptions{"t", "1.0.0", false, {"TOVRIK_E2E_MARK=42"}},
                   {"sh", "-c",
                    "echo \"$UMOCKDEV_DIR\"; echo \"$TOVRIK_EMU_LOG\"; "
                    "echo \"$TOVRIK_EMU_CONTROL\"; echo \"$TOVRIK_E2E_MARK\"; "
                    "ls /sys/class/hidraw; test -c /dev/hidraw0 && echo char"});
    const auto testbed = emu.ReadLine().value_or("");
    EXPECT_EQ(emu.ReadLine(), emu.logPath());
    const auto control = emu.ReadLine().value_or("");
    EXPECT_EQ(std::filesystem::path(control).parent_path(), emu.folder());
    EXPECT_EQ(emu.ReadLine(), "42");
    EXPECT_EQ(emu.ReadLine(), "hidraw0");
    EXPECT_EQ(emu.ReadLine(), "char");
    EXPECT_EQ(emu.Wait(), 0);
    ASSERT_FALSE(testbed.empty());
    EXPECT_FALSE(std::filesystem::exists(testbed));
    EXPECT_FALSE(std::filesystem::exists(control));  // the FIFO it made goes too
}

TEST(EmuTool, ExitsWithTheCommandsStatus) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"exit 0", 0}, {"exit 3", 3}, {"exit 255", 255}, {"kill -9 $$", 128 + 9}};
    for (const auto& [script, status] : cases) {
        EmuSession emu(EmuOptions{}, {"sh", "-c", script});
        EXPECT_EQ(emu.Wait(), status) << script;
    }
    EmuSession missing(EmuOptions{}, {"/nonexistent/program"});
    EXPECT_EQ(missing.Wait(), 127);
}

// Whether COMMAND ends, crashes, cannot start or never starts, and when the emulator itself is
// told to stop, the test bed goes. TMPDIR leads the test bed into a folder of the test's own.
TEST(EmuTool, LeavesNoTestBedBehind) {
    std::string folder = (std::filesystem::temp_directory_path() / "emu-tmp-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"-- sh -c 'echo $UMOCKDEV_DIR'", 0, folder + "/umockdev."},  // it is there meanwhile
        {"-- sh -c 'kill -SEGV $$'", 128 + 11, ""},
        {"-- /nonexistent/program", 127, "cannot run /nonexistent/program"},
        {"--control /nonexistent-dir/fifo -- true", 125, "cannot create FIFO"},
        {"--log /nonexistent-dir/log -- true", 125, "cannot open log"},
        // SIGTERM to the emulator goes on to COMMAND, whose status it then returns.
        {"-- sh -c 'kill -TERM $PPID; exec sleep 20'", 128 + 15, ""},
    };
    for (const auto& [arguments, status, message] : cases) {
        const ToolRun run = RunTool(arguments, "", "TMPDIR=" + folder);
        EXPECT_EQ(run.status, status) << arguments << ": " << run.output;
        EXPECT_NE(run.output.find(message), std::string::npos) << arguments << ": " << run.output;
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << arguments;
    }
    std::filesystem::remove_all(folder);
}

TEST(EmuTool, SessionOutlivesItsCommand) {
    EmuSession emu(EmuOptions{}, {"sh", "-c", "grep SigIgn /proc/self/status"});
    // Ignored signals would be inherited: the command must see SIGPIPE (13) at its default.
    const auto ignored = emu.ReadLine().value_or("");
    ASSERT_TRUE(ignored.starts_with("SigIgn:")) << ignored;
    EXPECT_EQ(std::stoull(ignored.substr(7), nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u);
    EXPECT_EQ(emu.Wait(), 0);
    for (int i = 0; i < 100; ++i) emu.SendLine("nobody reads this");  // no SIGPIPE for us
    EXPECT_EQ(emu.ReadLine(std::chrono::milliseconds(100)), std::nullopt);
}

TEST(EmuTool, StalledWritesWaitForOffOrTheLimitThenTimeOut) {
    EmuSession emu(EmuOptions{"t", "1.0.0", false, {}}, {TOVRIK_LINK_PROBE});
    const std::string send = "send-once /dev/hidraw0 00 00 00 00 00 01 00 00";
    ASSERT_TRUE(emu.Control("stall-write 0 on"));
    emu.SendLine(send);
    EXPECT_EQ(emu.ReadLine(std::chrono::milliseconds(500)), std::nullopt);  // still waiting
    ASSERT_TRUE(emu.Control("stall-write 0 off"));
    EXPECT_EQ(emu.ReadLine(), "refused " + std::to_string(ETIMEDOUT));
    ASSERT_TRUE(emu.Control("stall-write 0 on"));
    const auto start = std::chrono::steady_clock::now();
    emu.SendLine(send);
    EXPECT_EQ(emu.ReadLine(std::chrono::seconds(8)), "refused " + std::to_string(ETIMEDOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
    ASSERT_TRUE(emu.Control("stall-write 0 off"));
    emu.SendLine(send);
    EXPECT_EQ(emu.ReadLine(), "sent");
    EXPECT_TRUE(emu.WaitForLogLine("hidraw0 write timed out"));
    emu.CloseInput();
    EXPECT_EQ(emu.Wait(), 0);
}

TEST(EmuTool, HelpDocumentsTheInterface) {
    const ToolRun help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"--devices",
                             "--version",
                             "--log",
                             "--control",
                             "--decode",
                             "unplug <i>",
                             "replug <i>",
                             "refuse-write <i> on|off",
                             "refuse-feature <i> on|off",
                             "stall-write <i> on|off",
                             "hold <i>",
                             "release <i>",
                             "control <command> ok",
                             "hidraw<i> write",
                             "hidraw<i> get-feature",
                             "hidraw<i> refused write",
                             "hidraw<i> refused get-feature",
                             "exit status",
                             "127",
                             "125"}) {
        EXPECT_NE(help.output.find(word), std::string::npos) << word;
    }
}

TEST(EmuTool, RejectsBadArgumentsAndSaysWhich) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--devices t,x -- true", "--devices"},
        {"--devices '' -- true", "--devices"},
        {"--version 1.2 -- true", "--version"},
        {"--version 1.2.256 -- true", "--version"},
        {"--frob -- true", "'--frob'"},
        {"-xy -- true", "'-x'"},
        {"-- true --log", ""},  // after "--" everything is the command's
        {"--log", "'--log'"},
        {"--devices t", "no COMMAND"},
    };
    for (const auto& [arguments, named] : cases) {
        const ToolRun run = RunTool(arguments);
        if (named.empty()) {
            EXPECT_EQ(run.status, 0) << arguments << ": " << run.output;
            continue;
        }
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_NE(run.output.find("tovrik-emu: "), std::string::npos) << arguments;
        EXPECT_NE(run.output.find(named), std::string::npos) << arguments << ": " << run.output;
    }
}

TEST(EmuTool, LogsToStandardErrorWithoutLogOption) {
    const ToolRun run = RunTool("--devices o,t --version 2.3.4 -- '" TOVRIK_LINK_PROBE "'",
                                "raw /dev/hidraw1 78\\nversion-once /dev/hidraw1\\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("hidraw1 write 78\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("hidraw1 get-feature 00 02 03 04 00 00 00 00\n"), std::string::npos)
        << run.output;
}

}  // namespace
