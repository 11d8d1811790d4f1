// tovrik-emu: runs a program against emulated TOVRIK devices. umockdev provides the test bed
// (a private sysfs and /dev), and this process answers the hidraw ioctls and writes of the
// programs it starts, so they talk to "devices" through the ordinary kernel interface.
#include <fcntl.h>
#include <getopt.h>
#include <glib-unix.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>
// hidraw.h needs the ioctl macros first.
#include <linux/hidraw.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "device/reports.h"
#include "tools/emu_text.h"

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
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
  --help           Show this text

Log lines (bytes in upper-case hex):
  hidraw<i> write XX XX XX XX XX XX XX XX     an output report, as written (a write of
                                              another length shows all its bytes)
  hidraw<i> get-feature XX XX XX XX XX XX XX XX   the feature bytes returned
  hidraw<i> refused write                     an injected write failure (EIO)
  hidraw<i> refused get-feature               an injected get-feature failure (EIO)
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
  refuse-write <i> on|off     writes fail with EIO
  refuse-feature <i> on|off   get-feature requests fail with EIO
  hold <i>                    this program opens the device and holds an exclusive
                              flock on it, as another program would
  release <i>                 drops that hold

Environment of COMMAND: umockdev's preload library and UMOCKDEV_DIR, plus
TOVRIK_EMU_LOG and TOVRIK_EMU_CONTROL (absolute paths) when --log and --control are given.
)";

struct Options {
    std::vector<bool> devices{true};  // true = TOVRIK
    std::array<std::uint8_t, 3> version{1, 0, 0};
    std::string logPath;
    std::string controlPath;
    bool decode = false;
    std::vector<std::string> command;
};

struct Device;

struct Emulator {
    Options options;
    int logFd = STDERR_FILENO;
    UMockdevTestbed* testbed = nullptr;
    std::string rootDir;
    std::vector<std::unique_ptr<Device>> devices;
    int controlFd = -1;
    bool createdControl = false;
    std::string controlPending;
    std::vector<int> ptyMasters;  // nodes of replugged devices
    GMainLoop* loop = nullptr;
    GPid child = 0;
    int childStatus = 0;
    bool childDone = false;

    void Log(const std::string& line) const {
        const std::string text = line + "\n";
        // One write per line keeps lines whole for readers polling the file.
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(logFd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
};

struct Device {
    Emulator* emu = nullptr;
    int index = 0;
    bool tovrik = true;
    bool present = true;
    bool refuseWrite = false;
    bool refuseFeature = false;
    int holdFd = -1;
    // Bumped by every unplug: descriptors opened before stay dead after a replug, as on a
    // real bus where the device comes back as a new one.
    int generation = 0;
    std::map<UMockdevIoctlClient*, int> clients;  // open descriptors and their generation
    std::vector<std::pair<std::string, std::string>> stashed;  // test-bed path, hiding place
    UMockdevIoctlBase* handler = nullptr;

    std::string Name() const { return "hidraw" + std::to_string(index); }
    std::string DevNode() const { return "/dev/" + Name(); }
    std::uint16_t Vendor() const { return tovrik ? 0x1774 : 0x046D; }
    std::uint16_t Product() const { return tovrik ? 0x9851 : 0xC077; }
    // One USB port per interface, so every device has its own parent.
    std::string HidSysPath() const {
        char id[64];
        std::snprintf(id, sizeof id, "0003:%04X:%04X.%04X", Vendor(), Product(), index + 1);
        const std::string port = "1-" + std::to_string(index + 1);
        return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port + "/" + port + ":1.0/" + id;
    }
    // Everything in the test bed by which the device can be found or opened.
    std::vector<std::string> Traces() const {
        const std::string hid = HidSysPath();
        return {"/sys/class/hidraw/" + Name(),
                "/sys/dev/char/247:" + std::to_string(index),
                "/sys/bus/hid/devices/" + hid.substr(hid.rfind('/') + 1),
                DevNode(),
                "/dev/.node/" + Name(),
                hid};
    }
    std::string Description() const {
        char hidId[64];
        std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", Vendor(), Product());
        const std::string hidPath = HidSysPath().substr(4);  // without "/sys"
        std::ostringstream s;
        s << "P: " << hidPath << "\nE: SUBSYSTEM=hid\nE: HID_ID=" << hidId
          << "\nE: HID_NAME=" << (tovrik ? "TOVRIK" : "Generic USB Mouse") << "\n\n"
          << "P: " << hidPath << "/hidraw/" << Name() << "\nN: " << Name()
          << "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=" << DevNode() << "\nA: dev=247:" << index << "\n";
        return s.str();
    }
};

std::optional<unsigned> ParseNumber(std::string_view text, unsigned max) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

[[noreturn]] void Usage(const std::string& message) {
    std::fprintf(stderr, "tovrik-emu: %s\nTry 'tovrik-emu --help'.\n", message.c_str());
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    enum { kDevices = 1, kVersion, kLog, kControl, kDecode, kHelpOpt };
    static const option longOptions[] = {
        {"devices", required_argument, nullptr, kDevices},
        {"version", required_argument, nullptr, kVersion},
        {"log", required_argument, nullptr, kLog},
        {"control", required_argument, nullptr, kControl},
        {"decode", no_argument, nullptr, kDecode},
        {"help", no_argument, nullptr, kHelpOpt},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    opterr = 0;
    int opt = 0;
    // '+' stops at the first non-option, so COMMAND's own options stay COMMAND's.
    while ((opt = getopt_long(argc, argv, "+", longOptions, nullptr)) != -1) {
        switch (opt) {
            case kDevices: {
                options.devices.clear();
                for (const std::string& kind : Split(optarg, ',')) {
                    if (kind != "t" && kind != "o")
                        Usage("--devices takes a comma-separated list of t and o");
                    options.devices.push_back(kind == "t");
                }
                if (options.devices.empty()) Usage("--devices needs at least one device");
                break;
            }
            case kVersion: {
                const auto parts = Split(optarg, '.');
                bool ok = parts.size() == 3;
                for (std::size_t i = 0; ok && i < 3; ++i) {
                    const auto number = ParseNumber(parts[i], 255);
                    ok = number.has_value();
                    if (ok) options.version[i] = static_cast<std::uint8_t>(*number);
                }
                if (!ok) Usage("--version takes A.B.C with numbers from 0 to 255");
                break;
            }
            case kLog:
                options.logPath = optarg;
                break;
            case kControl:
                options.controlPath = optarg;
                break;
            case kDecode:
                options.decode = true;
                break;
            case kHelpOpt:
                std::fputs(kHelp, stdout);
                std::exit(0);
            default: {
                // A short option inside a group ("-xy") has no argv entry of its own.
                const std::string name = optopt > kHelpOpt
                                             ? std::string("-") + static_cast<char>(optopt)
                                             : std::string(argv[optind - 1]);
                Usage("unknown or incomplete option '" + name + "'");
            }
        }
    }
    for (int i = optind; i < argc; ++i) options.command.emplace_back(argv[i]);
    if (options.command.empty()) Usage("no COMMAND given");
    return options;
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) return path;
    std::string result = std::string(cwd) + "/" + path;
    std::free(cwd);
    return result;
}

// The children must run with umockdev's preload so that their /sys and /dev lead into the
// test bed; they inherit it from us. Restart once with it in place when it is missing.
void EnsurePreload(char** argv) {
    const char* current = std::getenv("LD_PRELOAD");
    const std::string preload = current != nullptr ? current : "";
    if (preload.find("libumockdev-preload") != std::string::npos) return;
    const std::string value = preload.empty() ? std::string(kPreloadLibrary)
                                              : std::string(kPreloadLibrary) + ":" + preload;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
#if defined(__SANITIZE_ADDRESS__)
    // The preload goes ahead of the sanitizer runtime; tell the runtime that is intended.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanOptions = asan != nullptr ? asan : "";
    if (asanOptions.find("verify_asan_link_order") == std::string::npos) {
        asanOptions = asanOptions.empty() ? "verify_asan_link_order=0"
                                          : asanOptions + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    }
#endif
    ::execv("/proc/self/exe", argv);
    std::fprintf(stderr, "tovrik-emu: cannot restart with %s: %s\n", kPreloadLibrary,
                 std::strerror(errno));
    std::exit(125);
}

// ---- device side ----

std::vector<std::uint8_t> Bytes(const guint8* data, std::size_t size) {
    return data == nullptr ? std::vector<std::uint8_t>{}
                           : std::vector<std::uint8_t>(data, data + size);
}

void Answer(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::size_t size, const void* data,
            glong result) {
    GError* error = nullptr;
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    if (buffer == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    umockdev_ioctl_data_update(buffer, 0, static_cast<guint8*>(const_cast<void*>(data)),
                               static_cast<gint>(size));
    g_object_unref(buffer);
    umockdev_ioctl_client_complete(client, result, 0);
}

void AnswerText(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::size_t capacity,
                const std::string& text) {
    if (capacity == 0) {
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    std::vector<char> buffer(capacity, '\0');
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(buffer.data(), text.data(), n);
    Answer(client, arg, capacity, buffer.data(), static_cast<glong>(n + 1));
}

void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Device& device = *static_cast<Device*>(data);
    device.clients[client] = device.generation;
}

void OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    static_cast<Device*>(data)->clients.erase(client);
}

bool Gone(const Device& device, UMockdevIoctlClient* client) {
    if (!device.present) return true;
    const auto it = device.clients.find(client);
    return it != device.clients.end() && it->second != device.generation;
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Device& device = *static_cast<Device*>(data);
    if (Gone(device, client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (_IOC_TYPE(request) != 'H') {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    const std::size_t size = _IOC_SIZE(request);
    switch (_IOC_NR(request)) {
        case _IOC_NR(HIDIOCGRAWINFO): {
            hidraw_devinfo info{};
            info.bustype = 3;  // BUS_USB
            info.vendor = static_cast<__s16>(device.Vendor());
            info.product = static_cast<__s16>(device.Product());
            Answer(client, arg, sizeof info, &info, 0);
            return TRUE;
        }
        case _IOC_NR(HIDIOCGRAWNAME(0)):
            AnswerText(client, arg, size, device.tovrik ? "TOVRIK" : "Generic USB Mouse");
            return TRUE;
        case _IOC_NR(HIDIOCGRAWPHYS(0)):
            AnswerText(client, arg, size,
                       "usb-0000:00:14.0-" + std::to_string(device.index + 1) + "/input0");
            return TRUE;
        case _IOC_NR(HIDIOCGFEATURE(0)): {
            if (!device.tovrik) {
                // Other devices have no such report.
                umockdev_ioctl_client_complete(client, -1, EPIPE);
                return TRUE;
            }
            if (device.refuseFeature) {
                device.emu->Log(device.Name() + " refused get-feature");
                umockdev_ioctl_client_complete(client, -1, EIO);
                return TRUE;
            }
            const auto& v = device.emu->options.version;
            const std::uint8_t feature[8] = {0, v[0], v[1], v[2], 0, 0, 0, 0};
            const std::size_t n = std::min<std::size_t>(size, sizeof feature);
            if (n == 0) {
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                return TRUE;
            }
            device.emu->Log(device.Name() + " get-feature " +
                            tovrik::emu::HexBytes(Bytes(feature, n)));
            Answer(client, arg, n, feature, static_cast<glong>(n));
            return TRUE;
        }
        default:
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
    }
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    Device& device = *static_cast<Device*>(data);
    if (Gone(device, client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (device.refuseWrite) {
        device.emu->Log(device.Name() + " refused write");
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::size_t size = arg->data_len > 0 ? static_cast<std::size_t>(arg->data_len) : 0;
    const auto bytes = Bytes(arg->data, size);
    std::string line = device.Name() + " write " + tovrik::emu::HexBytes(bytes);
    if (device.emu->options.decode) line += " -> " + tovrik::emu::DecodeWrite(bytes);
    device.emu->Log(line);
    umockdev_ioctl_client_complete(client, static_cast<glong>(size), 0);
    return TRUE;
}

bool AddToTestbed(Emulator& emu, Device& device, std::string& error) {
    GError* gerror = nullptr;
    if (!umockdev_testbed_add_from_string(emu.testbed, device.Description().c_str(), &gerror)) {
        error = gerror != nullptr ? gerror->message : "cannot add device";
        g_clear_error(&gerror);
        return false;
    }
    return true;
}

// A replugged device is a new node on a real system: locks that stale descriptors still
// hold on the old one must not bind it. Give it a pseudo-terminal of its own, as umockdev
// does for every node, and map that to the device's number.
std::string FreshNode(Emulator& emu, Device& device) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return std::string("cannot create node: ") + std::strerror(errno);
    char slave[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, slave, sizeof slave) != 0) {
        const int err = errno;
        ::close(master);
        return std::string("cannot create node: ") + std::strerror(err);
    }
    emu.ptyMasters.push_back(master);
    std::string mapName = slave;
    std::replace(mapName.begin(), mapName.end(), '/', '_');
    const std::string number = "247:" + std::to_string(device.index);
    const std::string node = emu.rootDir + device.DevNode();
    const std::string map = emu.rootDir + "/dev/.ptymap/" + mapName;
    ::unlink(map.c_str());
    ::unlink(node.c_str());
    if (::symlink(number.c_str(), map.c_str()) != 0 || ::symlink(slave, node.c_str()) != 0)
        return std::string("cannot create node: ") + std::strerror(errno);
    return {};
}

void DropHold(Device& device) {
    if (device.holdFd >= 0) ::close(device.holdFd);
    device.holdFd = -1;
}

// ---- control commands ----

std::string RunControl(Emulator& emu, const std::vector<std::string>& words) {
    if (words.empty()) return "empty command";
    const std::string& verb = words[0];
    const bool takesSwitch = verb == "refuse-write" || verb == "refuse-feature";
    const bool known =
        takesSwitch || verb == "unplug" || verb == "replug" || verb == "hold" || verb == "release";
    if (!known) return "unknown command";
    if (words.size() != (takesSwitch ? 3u : 2u)) return "wrong number of arguments";
    const auto index = ParseNumber(words[1], 0xFFFF);
    if (!index || *index >= emu.devices.size()) return "no device " + words[1];
    Device& device = *emu.devices[*index];
    if (takesSwitch) {
        if (words[2] != "on" && words[2] != "off") return "expected on or off";
        (verb == "refuse-write" ? device.refuseWrite : device.refuseFeature) = words[2] == "on";
        return {};
    }
    if (verb == "unplug") {
        if (!device.present) return "already unplugged";
        DropHold(device);
        // Stale descriptors learn about it from the handler, which now answers ENODEV.
        device.present = false;
        ++device.generation;
        // umockdev cannot add a node again once removed, so the device's traces are moved
        // aside instead and put back by replug.
        const std::string stash = emu.rootDir + "/.unplugged/" + device.Name();
        g_mkdir_with_parents(stash.c_str(), 0700);
        device.stashed.clear();
        for (const std::string& path : device.Traces()) {
            const std::string target = stash + "/" + std::to_string(device.stashed.size());
            if (::rename((emu.rootDir + path).c_str(), target.c_str()) == 0)
                device.stashed.emplace_back(path, target);
        }
        return {};
    }
    if (verb == "replug") {
        if (device.present) return "not unplugged";
        for (auto it = device.stashed.rbegin(); it != device.stashed.rend(); ++it)
            ::rename(it->second.c_str(), (emu.rootDir + it->first).c_str());
        device.stashed.clear();
        const std::string error = FreshNode(emu, device);
        if (!error.empty()) return error;
        device.present = true;
        return {};
    }
    if (verb == "hold") {
        if (!device.present) return "unplugged";
        if (device.holdFd >= 0) return "already held";
        // The test bed's node leads to the same file the programs open, so they see this lock.
        const std::string node = emu.rootDir + device.DevNode();
        const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) return std::string("cannot open: ") + std::strerror(errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            return std::string("cannot lock: ") + std::strerror(err);
        }
        device.holdFd = fd;
        return {};
    }
    // release
    if (device.holdFd < 0) return "not held";
    DropHold(device);
    return {};
}

void HandleControlLine(Emulator& emu, const std::string& raw) {
    std::istringstream in(raw);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    if (words.empty()) return;  // blank lines are no commands
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
    const std::string error = RunControl(emu, words);
    emu.Log("control " + text + (error.empty() ? " ok" : " failed: " + error));
}

gboolean OnControlReadable(gint fd, GIOCondition, gpointer data) {
    Emulator& emu = *static_cast<Emulator*>(data);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            emu.controlPending.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // EAGAIN: drained. We hold a writer ourselves, so there is no EOF.
    }
    std::size_t newline = 0;
    while ((newline = emu.controlPending.find('\n')) != std::string::npos) {
        const std::string line = emu.controlPending.substr(0, newline);
        emu.controlPending.erase(0, newline + 1);
        HandleControlLine(emu, line);
    }
    return G_SOURCE_CONTINUE;
}

void OnChildExit(GPid, gint status, gpointer data) {
    Emulator& emu = *static_cast<Emulator*>(data);
    emu.childStatus = status;
    emu.childDone = true;
    g_main_loop_quit(emu.loop);
}

struct SignalForward {
    Emulator* emu;
    int signal;
};

gboolean OnSignal(gpointer data) {
    const auto& forward = *static_cast<SignalForward*>(data);
    if (forward.emu->child > 0 && !forward.emu->childDone)
        ::kill(forward.emu->child, forward.signal);
    return G_SOURCE_CONTINUE;
}

bool SetUpControl(Emulator& emu) {
    const std::string& path = emu.options.controlPath;
    struct stat st {};
    if (::mkfifo(path.c_str(), 0600) == 0) {
        emu.createdControl = true;
    } else if (!(errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode))) {
        std::fprintf(stderr, "tovrik-emu: cannot create FIFO %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    // Read and write: with our own writer open the pipe never reports end-of-file between
    // the writers that come and go.
    emu.controlFd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (emu.controlFd < 0) {
        std::fprintf(stderr, "tovrik-emu: cannot open FIFO %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    g_unix_fd_add(emu.controlFd, G_IO_IN, OnControlReadable, &emu);
    return true;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

void RemoveTree(const std::string& path) {
    if (path.empty()) return;
    GFile* file = g_file_new_for_path(path.c_str());
    // A short recursive delete; the test bed normally removes itself already.
    std::vector<GFile*> stack{g_object_ref(file)};
    std::vector<GFile*> order;
    while (!stack.empty()) {
        GFile* current = stack.back();
        stack.pop_back();
        order.push_back(current);
        GFileEnumerator* children = g_file_enumerate_children(
            current, G_FILE_ATTRIBUTE_STANDARD_NAME "," G_FILE_ATTRIBUTE_STANDARD_TYPE,
            G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, nullptr, nullptr);
        if (children == nullptr) continue;
        while (GFileInfo* info = g_file_enumerator_next_file(children, nullptr, nullptr)) {
            GFile* child = g_file_get_child(current, g_file_info_get_name(info));
            if (g_file_info_get_file_type(info) == G_FILE_TYPE_DIRECTORY) {
                stack.push_back(child);
            } else {
                g_file_delete(child, nullptr, nullptr);
                g_object_unref(child);
            }
            g_object_unref(info);
        }
        g_object_unref(children);
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        g_file_delete(*it, nullptr, nullptr);
        g_object_unref(*it);
    }
    g_object_unref(file);
}

}  // namespace

int main(int argc, char** argv) {
    Emulator emu;
    emu.options = ParseOptions(argc, argv);
    EnsurePreload(argv);

    if (!emu.options.logPath.empty()) {
        emu.options.logPath = Absolute(emu.options.logPath);
        emu.logFd =
            ::open(emu.options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (emu.logFd < 0) {
            std::fprintf(stderr, "tovrik-emu: cannot open log %s: %s\n",
                         emu.options.logPath.c_str(), std::strerror(errno));
            return 125;
        }
        ::setenv("TOVRIK_EMU_LOG", emu.options.logPath.c_str(), 1);
    }
    if (!emu.options.controlPath.empty()) {
        emu.options.controlPath = Absolute(emu.options.controlPath);
        ::setenv("TOVRIK_EMU_CONTROL", emu.options.controlPath.c_str(), 1);
    }

    // Sets UMOCKDEV_DIR in our environment, which the children inherit.
    emu.testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(emu.testbed);
    emu.rootDir = root;
    g_free(root);

    int exitCode = 125;
    bool ready = true;
    for (std::size_t i = 0; i < emu.options.devices.size() && ready; ++i) {
        auto device = std::make_unique<Device>();
        device->emu = &emu;
        device->index = static_cast<int>(i);
        device->tovrik = emu.options.devices[i];
        device->handler = umockdev_ioctl_base_new();
        g_signal_connect(device->handler, "handle-ioctl", G_CALLBACK(OnIoctl), device.get());
        g_signal_connect(device->handler, "handle-write", G_CALLBACK(OnWrite), device.get());
        g_signal_connect(device->handler, "client-connected", G_CALLBACK(OnClientConnected),
                         device.get());
        g_signal_connect(device->handler, "client-vanished", G_CALLBACK(OnClientVanished),
                         device.get());
        // The handler has to be in place before the node exists.
        GError* error = nullptr;
        std::string message;
        if (!umockdev_testbed_attach_ioctl(emu.testbed, device->DevNode().c_str(), device->handler,
                                           &error)) {
            message = error != nullptr ? error->message : "cannot attach handler";
            g_clear_error(&error);
            ready = false;
        } else if (!AddToTestbed(emu, *device, message)) {
            ready = false;
        }
        if (!ready)
            std::fprintf(stderr, "tovrik-emu: %s: %s\n", device->Name().c_str(), message.c_str());
        emu.devices.push_back(std::move(device));
    }

    emu.loop = g_main_loop_new(nullptr, FALSE);
    if (ready && !emu.options.controlPath.empty()) ready = SetUpControl(emu);

    SignalForward forwards[] = {{&emu, SIGTERM}, {&emu, SIGINT}, {&emu, SIGHUP}};
    if (ready) {
        for (auto& forward : forwards) g_unix_signal_add(forward.signal, OnSignal, &forward);
        std::vector<gchar*> childArgv;
        for (auto& arg : emu.options.command) childArgv.push_back(arg.data());
        childArgv.push_back(nullptr);
        GError* error = nullptr;
        const auto flags = static_cast<GSpawnFlags>(
            G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_CHILD_INHERITS_STDIN);
        if (g_spawn_async(nullptr, childArgv.data(), nullptr, flags, nullptr, nullptr, &emu.child,
                          &error)) {
            g_child_watch_add(emu.child, OnChildExit, &emu);
            g_main_loop_run(emu.loop);
            exitCode = ExitCode(emu.childStatus);
        } else {
            std::fprintf(stderr, "tovrik-emu: cannot run %s: %s\n", emu.options.command[0].c_str(),
                         error->message);
            g_clear_error(&error);
            exitCode = 127;
        }
    }

    for (auto& device : emu.devices) DropHold(*device);
    if (emu.controlFd >= 0) ::close(emu.controlFd);
    for (const int master : emu.ptyMasters) ::close(master);
    if (emu.createdControl) ::unlink(emu.options.controlPath.c_str());
    for (auto& device : emu.devices) {
        umockdev_testbed_detach_ioctl(emu.testbed, device->DevNode().c_str(), nullptr);
        g_object_unref(device->handler);
    }
    g_object_unref(emu.testbed);
    RemoveTree(emu.rootDir);  // in case the test bed left anything behind
    g_main_loop_unref(emu.loop);
    if (emu.logFd != STDERR_FILENO) ::close(emu.logFd);
    return exitCode;
}
