#include "tools/emu_options.h"

#include <getopt.h>

#include <charconv>
#include <sstream>

namespace tovrik::emu {
namespace {

constexpr const char* kHelp = R"(Usage: tovrik-emu [OPTION...] -- COMMAND [ARG...]

Runs COMMAND against emulated HID devices: a umockdev test bed with its own
/sys/class/hidraw and /dev/hidraw<i> nodes, served by this program. No root and no
hardware are needed. tovrik-emu exits with COMMAND's exit status (128 + N when COMMAND
was killed by signal N, 127 when it could not be started) and removes the test bed.
It exits with 2 on a usage error and with 125 when it cannot set up the log, the FIFO
or the test bed; COMMAND does not run then. SIGTERM, SIGINT and SIGHUP go on to COMMAND.

Options:
  --devices LIST   The emulated HID interfaces in enumeration order, comma-separated:
                   t = a TOVRIK (vendor 1774, product 9851), o = another HID device
                   (vendor 046D, product C077). Position i is /dev/hidraw<i>. Default: t
  --version A.B.C  The version every TOVRIK answers to get-feature (bytes 1 to 3),
                   each 0 to 255. Default: 1.0.0
  --log FILE       Append one line per event to FILE, flushed at once. Default: stderr
  --control FIFO   Create the named pipe FIFO and obey the commands written to it, one
                   per line, while COMMAND runs (see below)
  --decode         Append a readable decoding to each write line
  --frame-us N     USB frame length in microseconds: each write completes at the first
                   frame boundary after the previous one, as an interrupt OUT transfer
                   does, and its writer waits until then. 1000 is a full-speed device.
                   Default: 0 (writes complete at once)
  --timestamps     Start each log line with the monotonic clock in seconds to the
                   microsecond (a timed write: the moment its frame completes it)
  --help           Show this text

Devices: each interface sits in a sysfs tree of its own, as the kernel builds it: USB device
(port 1-<i+1>; idVendor, idProduct, manufacturer, product, serial, speed 12), interface 0
(class 03), HID device (uevent with HID_ID, HID_NAME, HID_PHYS, HID_UNIQ; report_descriptor)
and hidraw node, so hidapi and other HID stacks find them. The nodes answer HIDIOCGRAWINFO,
HIDIOCGRAWNAME, HIDIOCGRAWPHYS, HIDIOCGRAWUNIQ, HIDIOCGRDESCSIZE, HIDIOCGRDESC and, on a
TOVRIK, HIDIOCGFEATURE.

Log lines (bytes in upper-case hex):
  hidraw<i> write XX XX XX XX XX XX XX XX     an output report, as written (a write of
                                              another length shows all its bytes)
  hidraw<i> get-feature XX XX XX XX XX XX XX XX   the feature bytes returned
  hidraw<i> refused write                     an injected write failure (EIO)
  hidraw<i> refused get-feature               an injected get-feature failure (EIO)
  hidraw<i> write stalled                     a write held by stall-write
  hidraw<i> write timed out                   a held write failing (ETIMEDOUT)
  control <command> ok                        a control command was carried out
  control <command> failed: <reason>          a control command could not be carried out
With --decode a write line ends in " -> " and one of:
  frequency word <word> = <Hz> Hz   (e.g. frequency word 305419897 = 12,800,000.01 Hz)
  stop   power-saving   control <XX> word <word>   <n> bytes

Control commands (i is the position in --devices):
  unplug <i>                  the device disappears: it is no longer enumerated, cannot
                              be opened, and writes and ioctls on descriptors opened
                              before fail with ENODEV
  replug <i>                  the device comes back at the same position
                              (both send uevents for the device and its parents)
  refuse-write <i> on|off     writes fail with EIO
  refuse-feature <i> on|off   get-feature requests fail with EIO
  stall-write <i> on|off      writes wait until off or 5 s, then fail with ETIMEDOUT
  hold <i>                    this program opens the device and holds an exclusive
                              flock on it, as another program would
  release <i>                 drops that hold

Environment of COMMAND: umockdev's preload library and UMOCKDEV_DIR, plus
TOVRIK_EMU_LOG and TOVRIK_EMU_CONTROL (absolute paths) when --log and --control are given.
)";

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// The first usage error found is the one reported.
std::string ParseDevices(const std::string& text, std::vector<bool>& devices) {
    devices.clear();
    for (const std::string& kind : Split(text, ',')) {
        if (kind != "t" && kind != "o") return "--devices takes a comma-separated list of t and o";
        devices.push_back(kind == "t");
    }
    if (devices.empty()) return "--devices needs at least one device";
    return {};
}

std::string ParseVersion(const std::string& text, std::array<std::uint8_t, 3>& version) {
    const auto parts = Split(text, '.');
    bool ok = parts.size() == 3;
    for (std::size_t i = 0; ok && i < 3; ++i) {
        const auto number = ParseNumber(parts[i], 255);
        ok = number.has_value();
        if (ok) version[i] = static_cast<std::uint8_t>(*number);
    }
    return ok ? std::string() : "--version takes A.B.C with numbers from 0 to 255";
}

}  // namespace

const char* HelpText() {
    return kHelp;
}

std::optional<unsigned> ParseNumber(std::string_view text, unsigned max) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

ParsedOptions ParseOptions(int argc, char** argv) {
    enum { kDevices = 1, kVersion, kLog, kControl, kDecode, kFrame, kTimestamps, kHelpOpt };
    static const option longOptions[] = {
        {"devices", required_argument, nullptr, kDevices},
        {"version", required_argument, nullptr, kVersion},
        {"log", required_argument, nullptr, kLog},
        {"control", required_argument, nullptr, kControl},
        {"decode", no_argument, nullptr, kDecode},
        {"frame-us", required_argument, nullptr, kFrame},
        {"timestamps", no_argument, nullptr, kTimestamps},
        {"help", no_argument, nullptr, kHelpOpt},
        {nullptr, 0, nullptr, 0},
    };
    ParsedOptions parsed;
    Options& options = parsed.options;
    opterr = 0;
    optind = 0;  // 0, not 1: glibc then starts over completely
    int opt = 0;
    // '+' stops at the first non-option, so COMMAND's own options stay COMMAND's.
    while ((opt = getopt_long(argc, argv, "+", longOptions, nullptr)) != -1) {
        switch (opt) {
            case kDevices:
                parsed.error = ParseDevices(optarg, options.devices);
                break;
            case kVersion:
                parsed.error = ParseVersion(optarg, options.version);
                break;
            case kLog:
                options.logPath = optarg;
                break;
            case kControl:
                options.controlPath = optarg;
                break;
            case kDecode:
                options.decode = true;
                break;
            case kFrame: {
                const auto frame = ParseNumber(optarg, 1'000'000);
                if (frame)
                    options.frameUs = *frame;
                else
                    parsed.error = "--frame-us takes microseconds from 0 to 1000000";
                break;
            }
            case kTimestamps:
                options.timestamps = true;
                break;
            case kHelpOpt:
                parsed.help = true;
                return parsed;
            default: {
                // A short option inside a group ("-xy") has no argv entry of its own.
                const std::string name = optopt > kHelpOpt
                                             ? std::string("-") + static_cast<char>(optopt)
                                             : std::string(argv[optind - 1]);
                parsed.error = "unknown or incomplete option '" + name + "'";
            }
        }
        if (!parsed.error.empty()) return parsed;
    }
    for (int i = optind; i < argc; ++i) options.command.emplace_back(argv[i]);
    if (options.command.empty()) parsed.error = "no COMMAND given";
    return parsed;
}

}  // namespace tovrik::emu
