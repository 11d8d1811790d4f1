#include "cli/app.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "cli/devices.h"
#include "cli/help_text.h"
#include "cli/server.h"
#include "cli/stop_requests.h"
#include "cli/sweep.h"
#include "cli/units.h"
#include "controller/readout.h"
#include "device/transport.h"

namespace tovrik::cli {
namespace {

using nlohmann::json;

constexpr const char* kFooter =
    R"(Frequencies: a decimal number, then nothing or Hz, k or kHz, M or MHz, with or
without a space: 12500000, 1.5k, 12.5M, 12.5MHz, "12.5 MHz". Unit letters are read
without regard to case (KHZ, Mhz), except that a lower-case "m" (m, mHz, mhz) is refused,
since it would mean milli. No signs, no exponents; at most 80 MHz.

The device produces the frequency of the nearest tuning word (steps of 0.0419 Hz); set
prints that frequency. The device keeps no frequency while its output is off, so "on"
needs one: "on FREQ" is "set FREQ".

Exit status: 0 done, 1 device not found, busy or refused, 2 usage error.)";

// Argument bytes need not be UTF-8; the JSON text always is (bad bytes become U+FFFD).
std::string JsonText(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

struct Globals {
    std::string path;
    int index = -1;
    std::string serial;
    bool json = false;
};

struct Context {
    DevicePlatform& platform;
    std::ostream& out;
    std::ostream& err;
    Globals globals;

    DeviceChoice Choice() const {
        DeviceChoice choice;
        if (!globals.path.empty()) choice.path = globals.path;
        if (globals.index >= 0) choice.index = globals.index;
        if (!globals.serial.empty()) choice.serial = globals.serial;
        return choice;
    }

    int Fail(int status, const std::string& message, const char* kind) {
        err << "tovrikctl: " << message << '\n';
        if (globals.json) {
            out << JsonText({{"ok", false}, {"error", message}, {"kind", kind}}) << '\n';
        }
        return status;
    }

    int Done(json result, const std::string& text) {
        if (globals.json) {
            result["ok"] = true;
            out << JsonText(result) << '\n';
        } else if (!text.empty()) {
            out << text << '\n';
        }
        return kExitOk;
    }
};

std::string HexWord(TuningWord word) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0') << word;
    return text.str();
}

int SendOnce(Context& ctx, const OutputReport& report, json result, const std::string& text) {
    const Selection selection = SelectDevice(ctx.platform, ctx.Choice());
    if (selection.path.empty())
        return ctx.Fail(kExitDevice, selection.error, selection.kind.c_str());
    const DeviceStatus sent = SendReportOnce(ctx.platform, selection.path, report);
    if (!sent) {
        const SystemError code = sent.error().code;
        return ctx.Fail(
            kExitDevice,
            sent.error().step == DeviceError::Step::Open
                ? DescribeFailure(ctx.platform, selection.path, code)
                : selection.path + ": write refused: " + ctx.platform.Describe(code).text,
            FailureKindName(ctx.platform, code));
    }
    result["device"] = selection.path;
    return ctx.Done(std::move(result), text);
}

int SetFrequency(Context& ctx, const std::vector<std::string>& words, bool off) {
    std::string joined;
    for (const auto& w : words) joined += (joined.empty() ? "" : " ") + w;
    const auto parsed = ParseFrequency(joined);
    if (const auto* error = std::get_if<ParseError>(&parsed)) {
        return ctx.Fail(kExitUsage, error->message, "usage");
    }
    const double requested = std::get<double>(parsed);
    const TuningWord word = ComputeTuningWord(requested);
    const double actual = TuningWordToHz(word);
    json result{{"command", off ? "set-off" : "set"},
                {"requested_hz", requested},
                {"actual_hz", actual},
                {"word", word},
                {"output", !off}};
    std::string text = FormatReadout(actual, kDisplayHundredths) + " (word " + HexWord(word) + ")";
    text += off ? ", output off" : ", output on";
    return SendOnce(ctx, off ? BuildStopReport() : BuildFrequencyReport(word), std::move(result),
                    text);
}

int List(Context& ctx) {
    const auto entries = ListDevices(ctx.platform, true);
    json rows = json::array();
    std::ostringstream text;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const DeviceEntry& e = entries[i];
        rows.push_back({{"index", i},
                        {"position", e.position},
                        {"path", e.path},
                        {"serial", e.serial ? json(*e.serial) : json(nullptr)},
                        {"name", DeviceName(e.serial, e.path)},
                        {"state", StateName(e.state)},
                        {"version", e.version.empty() ? json(nullptr) : json(e.version)},
                        {"reason", e.reason.empty() ? json(nullptr) : json(e.reason)}});
        text << i << "  " << e.path;
        // One that cannot be opened tells no serial number.
        if (e.serial) {
            text << "  serial " << *e.serial;
        } else if (e.state == DeviceState::Available) {
            text << "  no serial number (named by path)";
        }
        text << "  position " << e.position << "  ";
        if (e.state == DeviceState::Available) {
            text << "firmware " << (e.version.empty() ? "?" : e.version);
        } else {
            text << StateName(e.state) << " (" << e.reason << ")";
        }
        if (i + 1 < entries.size()) text << '\n';
    }
    if (entries.empty()) return ctx.Fail(kExitDevice, "no TOVRIK found", "not-found");
    return ctx.Done({{"command", "list"}, {"devices", rows}}, text.str());
}

int Version(Context& ctx) {
    const Selection selection = SelectDevice(ctx.platform, ctx.Choice());
    if (selection.path.empty())
        return ctx.Fail(kExitDevice, selection.error, selection.kind.c_str());
    const auto version = ReadVersionOnce(ctx.platform, selection.path);
    if (!version) {
        const SystemError error = version.error().code;
        return ctx.Fail(kExitDevice, DescribeFailure(ctx.platform, selection.path, error),
                        FailureKindName(ctx.platform, error));
    }
    return ctx.Done({{"command", "version"}, {"device", selection.path}, {"version", *version}},
                    *version);
}

struct SweepArgs {
    std::string start, stop, step, dwell;
    std::uint64_t points = 0;
    std::uint64_t repeat = 1;
    bool log = false;
    bool forever = false;
};

int Sweep(Context& ctx, const SweepArgs& args) {
    SweepRequest request;
    for (const auto& [text, target] :
         {std::pair{&args.start, &request.startHz}, std::pair{&args.stop, &request.stopHz}}) {
        const auto parsed = ParseFrequency(*text);
        if (const auto* error = std::get_if<ParseError>(&parsed)) {
            return ctx.Fail(kExitUsage, error->message, "usage");
        }
        *target = std::get<double>(parsed);
    }
    if (!args.step.empty()) {
        const auto parsed = ParseFrequency(args.step);
        if (const auto* error = std::get_if<ParseError>(&parsed)) {
            return ctx.Fail(kExitUsage, error->message, "usage");
        }
        request.stepHz = std::get<double>(parsed);
    }
    if (args.points != 0) request.points = args.points;
    const auto dwell = ParseDuration(args.dwell);
    if (const auto* error = std::get_if<ParseError>(&dwell)) {
        return ctx.Fail(kExitUsage, error->message, "usage");
    }
    request.dwellSeconds = std::get<double>(dwell);
    request.logarithmic = args.log;
    request.repeats = args.forever ? 0 : args.repeat;
    if (!args.forever && args.repeat == 0)
        return ctx.Fail(kExitUsage, "--repeat must be at least 1", "usage");
    const auto planned = MakeSweepPlan(request);
    if (const auto* error = std::get_if<ParseError>(&planned)) {
        return ctx.Fail(kExitUsage, error->message, "usage");
    }
    const SweepPlan& plan = std::get<SweepPlan>(planned);

    const Selection selection = SelectDevice(ctx.platform, ctx.Choice());
    if (selection.path.empty())
        return ctx.Fail(kExitDevice, selection.error, selection.kind.c_str());
    const auto handle = OpenTovrik(ctx.platform, selection.path, ShareMode::Exclusive);
    if (!handle) {
        const SystemError error = handle.error().code;
        return ctx.Fail(kExitDevice, DescribeFailure(ctx.platform, selection.path, error),
                        FailureKindName(ctx.platform, error));
    }
    SystemError writeError = 0;
    const auto send = [&](const OutputReport& report) {
        const DeviceStatus sent = WriteReport(*handle, report);
        writeError = sent ? 0 : sent.error().code;
        return sent.ok();
    };
    const StopRequests stops;
    const SweepResult result = RunSweep(plan, send, stops.flag());
    if (result.writeFailed) {
        return ctx.Fail(
            kExitDevice,
            selection.path + ": write refused: " + ctx.platform.Describe(writeError).text,
            FailureKindName(ctx.platform, writeError));
    }
    const int status = ctx.Done({{"command", "sweep"},
                                 {"device", selection.path},
                                 {"points", plan.points},
                                 {"reports", result.reportsSent},
                                 {"interrupted", result.interrupted},
                                 {"output", false}},
                                result.interrupted ? "sweep stopped, output off" : "");
    return result.interrupted && status == kExitOk ? stops.exitStatus() : status;
}

}  // namespace

int Run(int argc, const char* const* argv, DevicePlatform& platform, std::ostream& out,
        std::ostream& err, const HotplugSource& watch) {
    Context ctx{platform, out, err, {}};
    CLI::App app{
        "Controls TOVRIK signal generators from scripts and serves them as an SCPI "
        "instrument.",
        "tovrikctl"};
    app.footer(std::string(kFooter) + std::string(kSystemHelp.footer));
    app.require_subcommand(1);
    app.add_option("--device", ctx.globals.path, std::string(kSystemHelp.device));
    // CLI::NonNegativeNumber would name a double's maximum, 309 digits, as the bound.
    const CLI::Validator row(
        [](const std::string& text) {
            return text.starts_with('-') ? "a row of 'tovrikctl list' is 0 or more, not " + text
                                         : std::string();
        },
        "NONNEGATIVE");
    auto* index =
        app.add_option("--index", ctx.globals.index, "Row of 'tovrikctl list', from 0")->check(row);
    auto* serial = app.add_option("--serial", ctx.globals.serial,
                                  "USB serial number, as 'tovrikctl list' shows it");
    auto* device = app.get_option("--device");
    serial->excludes(index)->excludes(device);
    app.add_flag("--json", ctx.globals.json, "One JSON object on standard output");

    auto* list = app.add_subcommand("list", "Every TOVRIK: index, path, firmware, busy or not");
    std::vector<std::string> frequency;
    bool off = false;
    auto* set = app.add_subcommand("set", "Output FREQ (prints the frequency really produced)");
    set->add_option("FREQ", frequency, "Frequency, e.g. 12.5M")->required()->expected(1, 2);
    set->add_flag("--off", off, "Check FREQ but send the stop report: output off");
    std::vector<std::string> onFrequency;
    auto* on = app.add_subcommand("on", "Same as set FREQ");
    on->add_option("FREQ", onFrequency, "Frequency, e.g. 12.5M")->required()->expected(1, 2);
    auto* offCmd = app.add_subcommand("off", "Send the stop report: output off");
    auto* suspend = app.add_subcommand("suspend", "Send the power-saving report");
    auto* version = app.add_subcommand("version", "Print the firmware version");

    SweepArgs sweepArgs;
    auto* sweep = app.add_subcommand(
        "sweep",
        "Step from START to STOP, each point held for --dwell, paced by the monotonic clock. "
        "The device is held exclusively. At the end, on " +
            std::string(kSystemHelp.stop) +
            " the stop report is sent: the output is off afterwards.");
    sweep->add_option("START", sweepArgs.start, "First frequency")->required();
    sweep->add_option("STOP", sweepArgs.stop, "Last frequency")->required();
    auto* points = sweep->add_option("--points", sweepArgs.points, "Number of points, 2 or more");
    auto* step = sweep->add_option("--step", sweepArgs.step, "Distance between points, e.g. 1k");
    points->excludes(step);
    sweep
        ->add_option("--dwell", sweepArgs.dwell,
                     "Time per point: 1ms, 2.5ms, 0.1s, 500us (>= 1 ms)")
        ->required();
    sweep->add_flag("--log-spacing", sweepArgs.log,
                    "Points at equal ratios instead of equal steps");
    auto* repeat = sweep->add_option("--repeat", sweepArgs.repeat, "Passes (default 1)");
    auto* forever = sweep->add_flag("--forever", sweepArgs.forever, "Repeat until stopped");
    repeat->excludes(forever);

    ServerOptions serverOptions;
    auto* serve = app.add_subcommand(
        "serve",
        "SCPI instrument over TCP (one command line per line, '\\n' terminated). Holds the "
        "device exclusively and finds it again after an unplug.");
    serve->add_option("--listen", serverOptions.listen,
                      "ADDR:PORT, default 127.0.0.1:5025; port 0 picks a free one");
    serve->add_option("--idle", serverOptions.idleSeconds,
                      "With all connections taken (16 raw, 32 VXI-11), a new client replaces "
                      "the one silent longest once it has been silent this many seconds "
                      "(default 60)");
    serve->add_option("--allow", serverOptions.allow,
                      "Accept clients only from this address or CIDR range, e.g. 10.0.0.0/8 "
                      "(repeatable); others are closed at once");
    serve->add_flag("--all", serverOptions.all,
                    "Every TOVRIK, present and arriving later, as channels 1, 2, ... of one "
                    "instrument (SOURce<n>:..., INSTrument:NSELect)");
    bool noMdns = false;
    serve->add_flag("--no-mdns", noMdns,
                    "Do not announce the instrument by mDNS (where avahi-daemon runs)");
    serve->add_option("--http", serverOptions.http,
                      "[ADDR:]PORT: also serve a web page (front panel, LXI identification, "
                      "JSON API); ADDR defaults to --listen's");
    serve->add_option("--http-token-file", serverOptions.httpTokenFile,
                      "Read the web page's write token from this file (first line) instead of "
                      "making a fresh one");
    serve
        ->add_option("--vxi11-port", serverOptions.vxi11Port,
                     "VXI-11 core channel port (default 9009; 0 picks a free one); the "
                     "portmapper on port 111 tells clients")
        ->check(CLI::Range(0, 65535));
    serve->add_flag(
        "--no-vxi11", [&serverOptions](std::int64_t) { serverOptions.vxi11 = false; },
        "Serve the raw socket alone: no portmapper, no VXI-11 channels");
    std::string dialect = "scpi";
    serve
        ->add_option("--dialect", dialect,
                     "scpi (default), or sdg: SCPI and Siglent's generator commands "
                     "(IDN-SGLT-PRI?, C1:BSWV FRQ,..., C1:OUTP ON), so that a Siglent "
                     "oscilloscope's Bode plot sweeps the TOVRIK over VXI-11; channel n is Cn")
        ->check(CLI::IsMember({"scpi", "sdg"}));
    for (auto* sub : {list, set, on, offCmd, suspend, version, sweep, serve}) sub->fallthrough();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // The parser may stop before it reached --json; a usage error still honours it.
        ctx.globals.json = std::any_of(argv + 1, argv + argc, [](const char* arg) {
            return std::string_view(arg) == "--json";
        });
        if (e.get_exit_code() != 0 && ctx.globals.json)
            return ctx.Fail(kExitUsage, e.what(), "usage");
        if (ctx.globals.json) {  // --help: the same text, as one JSON object
            std::ostringstream help;
            app.exit(e, help, err);
            return ctx.Done({{"command", "help"}, {"help", help.str()}}, "");
        }
        const int status = app.exit(e, out, err);
        return status == 0 ? kExitOk : kExitUsage;
    }

    if (*list) return List(ctx);
    if (*set) return SetFrequency(ctx, frequency, off);
    if (*on) return SetFrequency(ctx, onFrequency, false);
    if (*offCmd) {
        return SendOnce(ctx, BuildStopReport(), {{"command", "off"}, {"output", false}},
                        "output off");
    }
    if (*suspend) {
        return SendOnce(ctx, BuildPowerSavingReport(), {{"command", "suspend"}}, "power saving");
    }
    if (*version) return Version(ctx);
    if (*sweep) return Sweep(ctx, sweepArgs);
    if (*serve) {
        serverOptions.device = ctx.Choice();
        serverOptions.watch = watch;
        serverOptions.announce = !noMdns;
        serverOptions.dialect = dialect == "sdg" ? Dialect::Sdg : Dialect::Scpi;
        if (serverOptions.all && (serverOptions.device.path || serverOptions.device.index ||
                                  serverOptions.device.serial)) {
            return ctx.Fail(kExitUsage, "serve --all takes no --device, --index or --serial",
                            "usage");
        }
        const auto listening = [&](const std::string& address, const std::string& path) {
            if (ctx.globals.json) {
                out << JsonText({{"ok", true},
                                 {"command", "serve"},
                                 {"listening", address},
                                 {"device", path}})
                    << std::endl;
            } else {
                out << "listening on " << address << " for " << path << std::endl;
            }
        };
        return RunServer(platform, serverOptions, listening, err,
                         [&](int status, const std::string& message, const char* kind) {
                             return ctx.Fail(status, message, kind);
                         });
    }
    return kExitUsage;
}

}  // namespace tovrik::cli
