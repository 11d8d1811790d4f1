#include "tests/support/emu_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tovrik::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollStep = std::chrono::milliseconds(10);

// A decoded write line is "<bytes> -> <meaning>"; the bytes part is what callers compare.
std::string WithoutDecoding(const std::string& line) {
    const auto arrow = line.find(" -> ");
    return arrow == std::string::npos ? line : line.substr(0, arrow);
}

std::size_t CountLine(const std::vector<std::string>& lines, const std::string& line) {
    std::size_t count = 0;
    for (const auto& l : lines) count += l == line || WithoutDecoding(l) == line ? 1 : 0;
    return count;
}

}  // namespace

std::string EmuToolPath() {
    if (const char* tool = std::getenv("TOVRIK_EMU_TOOL"); tool != nullptr && *tool != '\0')
        return tool;
#ifdef TOVRIK_EMU_DEFAULT_PATH
    return TOVRIK_EMU_DEFAULT_PATH;
#else
    return "tovrik-emu";
#endif
}

EmuSession::EmuSession(const EmuOptions& options, std::vector<std::string> command) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovrik-emu-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    folder_ = pattern;
    logPath_ = folder_ + "/log";
    controlPath_ = folder_ + "/control";

    std::vector<std::string> args = {EmuToolPath(), "--devices",     options.devices,
                                     "--version",   options.version, "--log",
                                     logPath_,      "--control",     controlPath_};
    if (options.decode) args.push_back("--decode");
    args.insert(args.end(), options.extra.begin(), options.extra.end());
    args.push_back("--");
    args.insert(args.end(), command.begin(), command.end());

    std::vector<std::string> envStrings;
    const auto overridden = [&options](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (const auto& e : options.env)
            if (e.compare(0, name.size(), name) == 0) return true;
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
        if (!overridden(*e)) envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), options.env.begin(), options.env.end());

    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("pipe");
    }
    // A command that has ended must fail the test that writes to it, not kill the test program.
    ::signal(SIGPIPE, SIG_IGN);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGPIPE, SIG_DFL);  // the emulator and its command get the usual disposition
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(in[1]);
        ::close(out[0]);
        throw std::runtime_error("fork");
    }
    pid_ = pid;
    stdinFd_.Reset(in[1]);
    stdoutFd_.Reset(out[0]);

    // Up means: the FIFO exists and the emulator reads it (commands would otherwise be lost).
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        const int fd = ::open(controlPath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return;  // the emulator failed to start; Wait() reports its status
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

EmuSession::~EmuSession() {
    CloseInput();
    if (pid_ > 0) {
        if (Wait(std::chrono::seconds(5)) < 0) {
            ::kill(pid_, SIGTERM);
            if (Wait(std::chrono::seconds(5)) < 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
    }
    stdoutFd_.Reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

bool EmuSession::Control(const std::string& command, std::chrono::milliseconds timeout) {
    // The emulator acknowledges the command with its words separated by single blanks.
    std::string words;
    std::istringstream in(command);
    for (std::string word; in >> word;) words += (words.empty() ? "" : " ") + word;
    const std::string ack = "control " + words + " ok";
    const std::string failure = "control " + words + " failed";
    const auto failures = [&failure](const std::vector<std::string>& lines) {
        std::size_t count = 0;
        for (const auto& l : lines) count += l.starts_with(failure) ? 1 : 0;
        return count;
    };
    const auto linesBefore = LogLines();
    const std::size_t acksBefore = CountLine(linesBefore, ack);
    const std::size_t failuresBefore = failures(linesBefore);
    const UniqueFd fd(::open(controlPath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid() || !WriteAll(fd.get(), command + "\n")) return false;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const auto lines = LogLines();
        if (CountLine(lines, ack) > acksBefore) return true;
        if (failures(lines) > failuresBefore) return false;
        std::this_thread::sleep_for(kPollStep);
    }
    return false;
}

std::vector<std::string> EmuSession::LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
    std::string line;
    // Only complete lines: the emulator may be writing the last one right now.
    while (std::getline(in, line)) {
        if (in.eof()) break;
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> EmuSession::WriteLines() const {
    std::vector<std::string> writes;
    for (const auto& line : LogLines()) {
        const auto space = line.find(' ');
        if (line.starts_with("hidraw") && space != std::string::npos &&
            line.compare(space, 7, " write ") == 0)
            writes.push_back(WithoutDecoding(line));
    }
    return writes;
}

bool EmuSession::WaitForLogLine(const std::string& line, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    do {
        if (CountLine(LogLines(), line) > 0) return true;
        std::this_thread::sleep_for(kPollStep);
    } while (Clock::now() < deadline);
    return false;
}

void EmuSession::SendLine(const std::string& line) {
    if (stdinFd_.valid()) WriteAll(stdinFd_.get(), line + "\n");
}

std::optional<std::string> EmuSession::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        if (!stdoutFd_.valid()) return std::nullopt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{stdoutFd_.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::read(stdoutFd_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            stdoutFd_.Reset();  // end of output: what is pending is no complete line
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

void EmuSession::CloseInput() {
    stdinFd_.Reset();
}

int EmuSession::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return exitStatus_;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            exitStatus_ = WIFEXITED(status)     ? WEXITSTATUS(status)
                          : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                                : -1;
            return exitStatus_;
        }
        if (done < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(kPollStep);
    }
}

}  // namespace tovrik::testing
