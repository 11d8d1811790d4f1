// Drives the device link over the real hidraw backend from line commands on stdin, one result
// line per command on stdout. Run inside tovrik-emu by the end-to-end tests.
//
//   list                      -> paths P0 P1 ...
//   find <start>              -> found <path> <next start> | none <next start>
//   open|open-shared <path>   -> handle <id> | failed
//   ids <id>                  -> ids <vendor hex> <product hex> | failed
//   write <id> <hex bytes>    -> ok | error <errno>          (the platform's raw write)
//   send <id> <word> <flag>   -> ok | failed <open|closed>   (the tests' WriteOutputReport)
//   version <id>              -> version <text> | failed <open|closed>
//   close <id>                -> closed
//   send-once <path> <hex>    -> sent | not-opened | refused <errno>
//   version-once <path>       -> version <text> | failed
//   raw <path> <hex bytes>    -> wrote <n> | error <errno>   (plain open and write, any length)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device/enumeration.h"
#include "device/linux/hidraw_platform.h"
#include "device/transport.h"
#include "tests/support/device_access.h"

namespace {

using tovrik::DeviceHandle;

bool ParseReport(std::istringstream& in, tovrik::OutputReport& report) {
    for (auto& byte : report) {
        std::string hex;
        if (!(in >> hex) || hex.size() != 2) return false;
        byte = static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16));
    }
    return true;
}

}  // namespace

int main() {
    tovrik::HidrawPlatform platform;
    std::map<int, DeviceHandle> handles;
    int nextId = 1;
    std::string line;
    const auto reply = [](const std::string& text) { std::cout << text << std::endl; };
    const auto state = [&](int id) {
        return handles.count(id) != 0 && handles[id] ? "open" : "closed";
    };
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        if (verb == "list") {
            std::string text = "paths";
            for (const auto& path : platform.EnumerateHidInterfaces()) text += " " + path;
            reply(text);
        } else if (verb == "find") {
            int start = 0;
            in >> start;
            const auto found =
                tovrik::FindDevice(platform, start < 0 ? 0 : static_cast<std::size_t>(start));
            reply(found ? "found " + found->path + " " + std::to_string(found->position + 1)
                        : "none 0");
        } else if (verb == "open" || verb == "open-shared") {
            std::string path;
            in >> path;
            DeviceHandle handle = verb == "open"
                                      ? tovrik::testing::OpenDevice(platform, path)
                                      : tovrik::testing::OpenDeviceShared(platform, path);
            if (!handle) {
                reply("failed");
                continue;
            }
            handles[nextId] = std::move(handle);
            reply("handle " + std::to_string(nextId++));
        } else if (verb == "ids") {
            int id = 0;
            in >> id;
            const auto ids = handles.count(id) != 0 && handles[id]
                                 ? platform.GetIds(handles[id].native())
                                 : std::nullopt;
            char text[32];
            if (ids)
                std::snprintf(text, sizeof text, "ids %04x %04x", ids->vendorId, ids->productId);
            reply(ids ? text : "failed");
        } else if (verb == "write") {
            int id = 0;
            tovrik::OutputReport report{};
            in >> id;
            if (!ParseReport(in, report)) {
                reply("bad command");
                continue;
            }
            const int error = platform.WriteReport(handles[id].native(), report);
            reply(error == 0 ? "ok" : "error " + std::to_string(error));
        } else if (verb == "send") {
            int id = 0;
            unsigned long word = 0;
            int flag = 0;
            in >> id >> word >> flag;
            const bool ok = tovrik::testing::WriteOutputReport(
                handles[id], static_cast<tovrik::TuningWord>(word), 0, flag);
            reply(ok ? "ok" : std::string("failed ") + state(id));
        } else if (verb == "version") {
            int id = 0;
            in >> id;
            const auto text = tovrik::ReadFirmwareVersion(handles[id]);
            reply(text ? "version " + *text : std::string("failed ") + state(id));
        } else if (verb == "close") {
            int id = 0;
            in >> id;
            handles.erase(id);
            reply("closed");
        } else if (verb == "send-once") {
            std::string path;
            tovrik::OutputReport report{};
            in >> path;
            if (!ParseReport(in, report)) {
                reply("bad command");
                continue;
            }
            const auto sent = tovrik::SendReportOnce(platform, path, report);
            if (sent) {
                reply("sent");
            } else if (sent.error().step == tovrik::DeviceError::Step::Open) {
                reply("not-opened");
            } else {
                reply("refused " + std::to_string(sent.error().code));
            }
        } else if (verb == "version-once") {
            std::string path;
            in >> path;
            const auto text = tovrik::ReadVersionOnce(platform, path);
            reply(text ? "version " + *text : "failed");
        } else if (verb == "raw") {
            std::string path, hex;
            in >> path;
            std::vector<std::uint8_t> bytes;
            while (in >> hex)
                bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            const ssize_t n = fd < 0 ? -1 : ::write(fd, bytes.data(), bytes.size());
            const int error = errno;
            if (fd >= 0) ::close(fd);
            reply(n < 0 ? "error " + std::to_string(error) : "wrote " + std::to_string(n));
        } else if (verb == "quit") {
            break;
        } else {
            reply("bad command");
        }
    }
    return 0;
}
