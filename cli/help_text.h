// The parts of tovrikctl's --help that differ between systems: how a device is named, what
// stops a sweep, how to quote. Both variants are compiled everywhere, so that tests read the
// Windows text on Linux too.
#pragma once

#include <string_view>

namespace tovrik::cli {

struct HelpText {
    std::string_view device;  // the --device option
    std::string_view stop;    // what ends a sweep with the output off
    std::string_view footer;  // after the common footer
};

inline constexpr HelpText kPosixHelp{"Device node, e.g. /dev/hidraw3",
                                     "Ctrl+C, SIGTERM or a closed terminal", ""};

// Device paths hold '&' and braces: cmd.exe splits a command at '&', PowerShell refuses it
// and reads braces as a script block, so the examples quote.
inline constexpr HelpText kWindowsHelp{
    "Device path as 'tovrikctl list' prints it, in quotes (it contains &)",
    "Ctrl+C, Ctrl+Break or closing the console window",
    R"(

Examples (cmd.exe; in PowerShell quote the path with ' instead of "):
  tovrikctl list
  tovrikctl set 12.8M
  tovrikctl --device "\\?\hid#vid_1774&pid_9851#7&2b1f0a3c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}" set 12.8M
  tovrikctl --index 1 sweep 1M 10M --points 1000 --dwell 1ms
  tovrikctl serve --listen 0.0.0.0:5025 --allow 192.168.1.0/24)"};

#ifdef _WIN32
inline constexpr const HelpText& kSystemHelp = kWindowsHelp;
#else
inline constexpr const HelpText& kSystemHelp = kPosixHelp;
#endif

}  // namespace tovrik::cli
