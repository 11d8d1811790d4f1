#include "tools/emu_control.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "tools/emu_options.h"

namespace tovrik::emu {

std::string RunControl(Testbed& testbed, const std::vector<std::string>& words) {
    if (words.empty()) return "empty command";
    const std::string& verb = words[0];
    const bool takesSwitch =
        verb == "refuse-write" || verb == "refuse-feature" || verb == "stall-write";
    const bool known =
        takesSwitch || verb == "unplug" || verb == "replug" || verb == "hold" || verb == "release";
    if (!known) return "unknown command";
    if (words.size() != (takesSwitch ? 3u : 2u)) return "wrong number of arguments";
    const auto index = ParseNumber(words[1], 0xFFFF);
    if (!index || *index >= testbed.size()) return "no device " + words[1];
    Device& device = testbed.device(*index);
    if (takesSwitch) {
        if (words[2] != "on" && words[2] != "off") return "expected on or off";
        const bool on = words[2] == "on";
        if (verb == "stall-write") {
            device.StallWrites(on);
        } else {
            (verb == "refuse-write" ? device.refuseWrite : device.refuseFeature) = on;
        }
        return {};
    }
    if (verb == "unplug") return device.present ? testbed.Unplug(device) : "already unplugged";
    if (verb == "replug") return device.present ? "not unplugged" : testbed.Replug(device);
    if (verb == "hold") {
        if (!device.present) return "unplugged";
        if (device.hold.valid()) return "already held";
        return testbed.Hold(device);
    }
    // release
    if (!device.hold.valid()) return "not held";
    device.hold.Reset();
    return {};
}

std::string ControlChannel::Open(const std::string& path) {
    struct stat st {};
    if (::mkfifo(path.c_str(), 0600) == 0) {
        created_.emplace(path);
    } else if (!(errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))) {
        return "cannot create FIFO " + path + ": " + std::strerror(errno);
    }
    // Read and write: with our own writer open the pipe never reports end-of-file between
    // the writers that come and go.
    fd_.Reset(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.valid()) return "cannot open FIFO " + path + ": " + std::strerror(errno);
    watch_.emplace(g_unix_fd_add(fd_.get(), G_IO_IN, OnReadable, this));
    return {};
}

void ControlChannel::HandleLine(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    if (words.empty()) return;  // blank lines are no commands
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
    const std::string error = RunControl(testbed_, words);
    log_("control " + text + (error.empty() ? " ok" : " failed: " + error));
}

gboolean ControlChannel::OnReadable(gint fd, GIOCondition, gpointer self) {
    auto& channel = *static_cast<ControlChannel*>(self);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            channel.pending_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EAGAIN: drained. We hold a writer ourselves, so there is no EOF.
    }
    std::size_t newline = 0;
    while ((newline = channel.pending_.find('\n')) != std::string::npos) {
        const std::string line = channel.pending_.substr(0, newline);
        channel.pending_.erase(0, newline + 1);
        channel.HandleLine(line);
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace tovrik::emu
