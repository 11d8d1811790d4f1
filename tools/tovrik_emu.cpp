// tovrik-emu: runs a program against emulated TOVRIK devices. umockdev provides the test bed
// (a private sysfs and /dev), and this process answers the hidraw ioctls and writes of the
// programs it starts, so they talk to "devices" through the ordinary kernel interface.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "tools/emu_control.h"
#include "tools/emu_log.h"
#include "tools/emu_options.h"
#include "tools/emu_process.h"
#include "tools/emu_testbed.h"

using namespace tovrik::emu;

int main(int argc, char** argv) {
    ParsedOptions parsed = ParseOptions(argc, argv);
    if (parsed.help) {
        std::fputs(HelpText(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tovrik-emu: %s\nTry 'tovrik-emu --help'.\n", parsed.error.c_str());
        return kExitUsage;
    }
    Options& options = parsed.options;
    EnsurePreload(argv);

    Logger log;
    if (!options.logPath.empty()) {
        options.logPath = Absolute(options.logPath);
        tovrik::UniqueFd file(
            ::open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (!file.valid()) {
            std::fprintf(stderr, "tovrik-emu: cannot open log %s: %s\n", options.logPath.c_str(),
                         std::strerror(errno));
            return kExitSetup;
        }
        log = Logger(std::move(file));
        ::setenv("TOVRIK_EMU_LOG", options.logPath.c_str(), 1);
    }
    if (options.timestamps) log.EnableTimestamps();
    if (!options.controlPath.empty()) {
        options.controlPath = Absolute(options.controlPath);
        ::setenv("TOVRIK_EMU_CONTROL", options.controlPath.c_str(), 1);
    }

    const DeviceSettings settings{options.version, options.decode,
                                  std::chrono::microseconds(options.frameUs), &log};
    Testbed testbed(settings);
    std::string error = testbed.AddDevices(options.devices);
    ControlChannel control(testbed, log);
    if (error.empty() && !options.controlPath.empty()) error = control.Open(options.controlPath);
    if (!error.empty()) {
        std::fprintf(stderr, "tovrik-emu: %s\n", error.c_str());
        return kExitSetup;
    }
    return RunCommand(options.command);
}
