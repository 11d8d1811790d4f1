// Runs a program inside tovrik-emu's test bed and talks to both: the program through its
// standard input and output, the emulator through its control FIFO and its log.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/posix_io.h"

namespace tovrik::testing {

struct EmuOptions {
    std::string devices = "t";            // --devices
    std::string version = "1.0.0";        // --version
    bool decode = false;                  // --decode
    std::vector<std::string> env;         // extra NAME=VALUE for the command
    std::vector<std::string> extra = {};  // further options for tovrik-emu ("--frame-us", "1000")
};

class EmuSession {
  public:
    // Starts tovrik-emu with a fresh log and control FIFO in a private temporary folder,
    // running `command` (argv) inside the test bed with stdin/stdout on pipes. Returns once
    // the emulator is up.
    EmuSession(const EmuOptions& options, std::vector<std::string> command);
    ~EmuSession();  // ends the command and the emulator if still running; removes the folder
    EmuSession(const EmuSession&) = delete;
    EmuSession& operator=(const EmuSession&) = delete;

    // Sends one control command and waits for its "control <command> ok" log line.
    // Returns false on timeout.
    bool Control(const std::string& command,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::vector<std::string> LogLines() const;
    // Only the "hidraw<i> write ..." lines (without any --decode suffix beyond the bytes).
    std::vector<std::string> WriteLines() const;
    bool WaitForLogLine(const std::string& line,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // The command's standard input and output.
    void SendLine(const std::string& line);
    std::optional<std::string> ReadLine(
        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void CloseInput();

    // Exit status of tovrik-emu (= the command's), or -1 on timeout.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    const std::string& logPath() const { return logPath_; }
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
    std::string logPath_;
    std::string controlPath_;
    int pid_ = -1;
    UniqueFd stdinFd_;
    UniqueFd stdoutFd_;
    std::string pending_;  // bytes read from stdout that do not yet form a line
    int exitStatus_ = -1;
};

// Path of the tovrik-emu executable: $TOVRIK_EMU_TOOL, else the one this build produced.
std::string EmuToolPath();

}  // namespace tovrik::testing
