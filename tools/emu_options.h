// tovrik-emu's command line: what it accepts and its help text. No umockdev in here, so the
// parsing can be tested on its own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovrik::emu {

struct Options {
    std::vector<bool> devices{true};  // true = TOVRIK
    std::array<std::uint8_t, 3> version{1, 0, 0};
    std::string logPath;
    std::string controlPath;
    bool decode = false;
    unsigned frameUs = 0;  // 0: writes complete at once
    bool timestamps = false;
    std::vector<std::string> command;
};

struct ParsedOptions {
    Options options;
    bool help = false;  // --help: print HelpText() and exit 0
    std::string error;  // not empty: a usage error, exit 2
};

// Parses argv the way getopt_long does (options end at the first non-option or "--").
// Resets getopt's state, so it may be called more than once.
ParsedOptions ParseOptions(int argc, char** argv);

const char* HelpText();

// A decimal number of at most `max`, nothing else.
std::optional<unsigned> ParseNumber(std::string_view text, unsigned max);

}  // namespace tovrik::emu
