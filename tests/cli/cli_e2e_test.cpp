// tovrikctl as a process against devices that tovrik-emu emulates: a shell inside the test
// bed runs one command per line, so the emulator can be disturbed between commands.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/emu_session.h"

namespace {

using tovrik::testing::EmuOptions;
using tovrik::testing::EmuSession;

constexpr const char* kShell =
    "while IFS= read -r line; do eval \"$line\" 2>&1; echo \"exit $?\"; done";

struct Result {
    int status = -1;
    std::vector<std::string> lines;
    std::string Text() const {
        std::string text;
        for (const auto& l : lines) text += l + "\n";
        return text;
    }
};

class Ctl {
  public:
    explicit Ctl(const std::string& devices, std::vector<std::string> extra = {})
        : session_(EmuOptions{devices, "6.1.5", false, {}, std::move(extra)},
                   {"/bin/sh", "-c", kShell}) {}
    ~Ctl() { session_.CloseInput(); }

    Result operator()(const std::string& args) {
        session_.SendLine(std::string(TOVRIKCTL) + " " + args);
        Result result;
        while (auto line = session_.ReadLine()) {
            if (line->starts_with("exit ")) {
                result.status = std::stoi(line->substr(5));
                break;
            }
            result.lines.push_back(*line);
        }
        return result;
    }
    EmuSession& emu() { return session_; }

  private:
    EmuSession session_;
};

TEST(CtlE2e, EachCommandSendsItsReportByteForByte) {
    Ctl ctl("o,t");
    struct Case {
        std::string args, output, report;
    };
    const std::vector<Case> cases = {
        {"set 12.5M", "12,500,000.00Hz (word 0x11C71C72), output on", "00 72 1C C7 11 01 00 00"},
        {"set '12.5 MHz'", "12,500,000.00Hz (word 0x11C71C72), output on",
         "00 72 1C C7 11 01 00 00"},
        {"set 12.5 MHz", "12,500,000.00Hz (word 0x11C71C72), output on", "00 72 1C C7 11 01 00 00"},
        {"on 1.5kHz", "1,499.98Hz (word 0x00008BCF), output on", "00 CF 8B 00 00 01 00 00"},
        {"set 80000000", "80,000,000.00Hz (word 0x71C71C72), output on", "00 72 1C C7 71 01 00 00"},
        {"set 1k --off", "1,000.00Hz (word 0x00005D35), output off", "00 00 00 00 00 01 00 00"},
        {"off", "output off", "00 00 00 00 00 01 00 00"},
        {"suspend", "power saving", "00 00 00 00 00 05 00 00"},
    };
    for (const auto& c : cases) {
        const Result r = ctl(c.args);
        EXPECT_EQ(r.status, 0) << c.args << "\n" << r.Text();
        EXPECT_EQ(r.lines, std::vector<std::string>{c.output}) << c.args;
        const auto writes = ctl.emu().WriteLines();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back(), "hidraw1 write " + c.report) << c.args;
    }
    EXPECT_EQ(ctl.emu().WriteLines().size(), cases.size());
    const Result version = ctl("version");
    EXPECT_EQ(version.lines, std::vector<std::string>{"06/01/05"});
}

TEST(CtlE2e, UsageErrorsExitTwoAndSendNothing) {
    Ctl ctl("t");
    for (const std::string args :
         {"set 12.5m", "set 80.1M", "set 1e6", "set -- -5", "set", "frobnicate", "set 1 2 3",
          "sweep 1M 2M --dwell 1ms", "sweep 1M 2M --points 5 --dwell 0.5ms",
          "sweep 1M 2M --points 5 --step 1k --dwell 1ms", "serve --listen nowhere"}) {
        const Result r = ctl(args);
        EXPECT_EQ(r.status, 2) << args << "\n" << r.Text();
        EXPECT_FALSE(r.lines.empty()) << args;  // something tells the user why
    }
    EXPECT_TRUE(ctl.emu().WriteLines().empty());
    EXPECT_EQ(ctl("--help").status, 0);
}

TEST(CtlE2e, SerialNumbersAreListedAndSelectADevice) {
    Ctl ctl("o,t,t");
    const Result list = ctl("list --json");
    ASSERT_EQ(list.status, 0);
    const auto rows = nlohmann::json::parse(list.lines.at(0))["devices"];
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1]["serial"], "TVK00003");
    EXPECT_EQ(rows[1]["name"], "TVK00003");
    EXPECT_NE(ctl("list").Text().find("/dev/hidraw2  serial TVK00003  position 2"),
              std::string::npos);
    EXPECT_EQ(ctl("--serial TVK00003 set 1M").status, 0);
    EXPECT_EQ(ctl.emu().WriteLines().back().rfind("hidraw2 write ", 0), 0u);
    const Result missing = ctl("--serial TVK00009 set 1M");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.Text().find("no TOVRIK with serial number TVK00009"), std::string::npos);
    EXPECT_EQ(ctl("--serial TVK00002 --index 0 off").status, 2);  // one choice at a time
    EXPECT_EQ(ctl("serve --all --serial TVK00002").status, 2);
}

TEST(CtlE2e, BusyMissingAndRefusedDevicesExitOneAndSayWhy) {
    Ctl ctl("o,t");
    ASSERT_TRUE(ctl.emu().Control("hold 1"));
    for (const std::string args :
         {"set 1M", "off", "version", "--index 0 set 1M", "--device /dev/hidraw1 set 1M"}) {
        const Result r = ctl(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.Text().find("held by another program"), std::string::npos) << r.Text();
    }
    const Result list = ctl("list");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.Text().find("/dev/hidraw1  position 1  busy (held by another program)"),
              std::string::npos)
        << list.Text();
    ASSERT_TRUE(ctl.emu().Control("release 1"));

    EXPECT_NE(ctl("--device /dev/hidraw0 set 1M").Text().find("not a TOVRIK"), std::string::npos);
    EXPECT_EQ(ctl("--index 1 set 1M").status, 1);
    ASSERT_TRUE(ctl.emu().Control("refuse-write 1 on"));
    EXPECT_NE(ctl("set 1M").Text().find("write refused"), std::string::npos);
    ASSERT_TRUE(ctl.emu().Control("refuse-write 1 off"));
    ASSERT_TRUE(ctl.emu().Control("unplug 1"));
    const Result gone = ctl("set 1M");
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.Text().find("no TOVRIK found"), std::string::npos);
    EXPECT_EQ(ctl("--device /dev/hidraw1 off").status, 1);
    EXPECT_TRUE(ctl.emu().WriteLines().empty());
    ASSERT_TRUE(ctl.emu().Control("replug 1"));
    EXPECT_EQ(ctl("set 1M").status, 0);
}

TEST(CtlE2e, JsonOutputParses) {
    Ctl ctl("t,o,t");
    ASSERT_TRUE(ctl.emu().Control("hold 2"));
    const auto json = [&](const std::string& args, int status) {
        const Result r = ctl("--json " + args + " 2>/dev/null");
        EXPECT_EQ(r.status, status) << args;
        EXPECT_EQ(r.lines.size(), 1u) << r.Text();
        return nlohmann::json::parse(r.lines.empty() ? "null" : r.lines.front());
    };
    const auto list = json("list", 0);
    ASSERT_EQ(list["devices"].size(), 2u);
    EXPECT_EQ(list["devices"][0]["path"], "/dev/hidraw0");
    EXPECT_EQ(list["devices"][0]["state"], "available");
    EXPECT_EQ(list["devices"][0]["version"], "06/01/05");
    EXPECT_EQ(list["devices"][1]["position"], 2);
    EXPECT_EQ(list["devices"][1]["state"], "busy");

    const auto set = json("set 10M", 0);
    EXPECT_EQ(set["word"], 238609294);
    EXPECT_DOUBLE_EQ(set["actual_hz"].get<double>(), 238609294 * 0.041909515857696533203125);
    EXPECT_EQ(set["device"], "/dev/hidraw0");

    const auto busy = json("--index 1 off", 1);
    EXPECT_EQ(busy["ok"], false);
    EXPECT_EQ(busy["kind"], "busy");
    EXPECT_EQ(json("set 90M", 2)["kind"], "usage");
    EXPECT_EQ(json("version", 0)["version"], "06/01/05");
}

// Log lines "<seconds> hidraw0 write <bytes>" of a --timestamps run.
std::vector<std::pair<double, std::string>> TimedWrites(const EmuSession& emu) {
    std::vector<std::pair<double, std::string>> writes;
    for (const auto& line : emu.LogLines()) {
        std::istringstream in(line);
        double at = 0;
        std::string node, verb;
        if (!(in >> at >> node >> verb) || verb != "write") continue;
        std::string bytes;
        std::getline(in, bytes);
        writes.emplace_back(at, bytes.substr(1));
    }
    return writes;
}

std::string Bytes(std::uint32_t word, int control) {
    char text[32];
    std::snprintf(text, sizeof text, "00 %02X %02X %02X %02X %02X 00 00", word & 0xFF,
                  (word >> 8) & 0xFF, (word >> 16) & 0xFF, word >> 24, control);
    return text;
}

TEST(CtlE2e, SweepSendsEveryPointInOrderThenTheStopReport) {
    Ctl ctl("t", {"--frame-us", "1000", "--timestamps"});
    const Result r = ctl("sweep 1M 2M --points 11 --dwell 2ms --repeat 2");
    EXPECT_EQ(r.status, 0) << r.Text();
    const auto writes = TimedWrites(ctl.emu());
    ASSERT_EQ(writes.size(), 23u);
    for (std::size_t i = 0; i < 22; ++i) {
        const double hz = 1e6 + 1e5 * static_cast<double>(i % 11);
        const auto word = static_cast<std::uint32_t>(hz * 4294967296.0 / 180e6 + 0.5);
        EXPECT_EQ(writes[i].second, Bytes(word, 1)) << i;
        if (i > 0) {
            EXPECT_GT(writes[i].first, writes[i - 1].first);
        }
    }
    EXPECT_EQ(writes.back().second, Bytes(0, 1));

    const Result log = ctl("sweep 1k 1M --points 4 --dwell 1ms --log-spacing");
    EXPECT_EQ(log.status, 0);
    const auto logWrites = TimedWrites(ctl.emu());
    ASSERT_EQ(logWrites.size(), 28u);
    EXPECT_EQ(logWrites[23].second, Bytes(23861, 1));     // 1 kHz
    EXPECT_EQ(logWrites[24].second, Bytes(238609, 1));    // 10 kHz
    EXPECT_EQ(logWrites[25].second, Bytes(2386093, 1));   // 100 kHz
    EXPECT_EQ(logWrites[26].second, Bytes(23860929, 1));  // 1 MHz; then the stop report
}

TEST(CtlE2e, InterruptedSweepLeavesTheOutputOffAndHoldsTheDeviceMeanwhile) {
    Ctl ctl("t", {"--frame-us", "1000", "--timestamps"});
    const Result r = ctl(std::string("sweep 1M 2M --step 100k --dwell 5ms --forever & pid=$!; "
                                     "sleep 0.3; ") +
                         TOVRIKCTL + " set 1M; kill -INT $pid; wait $pid");
    EXPECT_EQ(r.status, 130) << r.Text();  // as a shell reports Ctrl+C: `&& next` stops
    EXPECT_NE(r.Text().find("held by another program"), std::string::npos) << r.Text();
    EXPECT_NE(r.Text().find("sweep stopped, output off"), std::string::npos) << r.Text();
    const auto writes = TimedWrites(ctl.emu());
    ASSERT_GT(writes.size(), 20u);
    EXPECT_EQ(writes.back().second, Bytes(0, 1));
    EXPECT_EQ(writes[11].second, writes[0].second);  // 11 points, then again from the start
}

}  // namespace

namespace {

TEST(CtlE2e, ArgumentBytesThatAreNotUtf8StillGiveJsonAndSendNothing) {
    Ctl ctl("t");
    const Result r = ctl("--json set \"$(printf '\\3775')\" 2>/dev/null");
    EXPECT_EQ(r.status, 2) << r.Text();
    ASSERT_EQ(r.lines.size(), 1u) << r.Text();
    const auto parsed = nlohmann::json::parse(r.lines.front());  // throws on bad UTF-8
    EXPECT_EQ(parsed["kind"], "usage");
    EXPECT_TRUE(ctl.emu().WriteLines().empty());
}

TEST(CtlE2e, EveryJsonRunPrintsOneObjectWithThePlainExitStatus) {
    Ctl ctl("o");
    const std::vector<std::pair<std::string, int>> cases = {
        {"set", 2},
        {"--frob off", 2},
        {"set 5 mHz", 2},
        {"serve --listen nowhere", 2},
        {"serve --listen 127.0.0.1:0", 1},
        {"list", 1},
    };
    for (const auto& [args, status] : cases) {
        EXPECT_EQ(ctl(args + " >/dev/null 2>&1").status, status) << args;
        const Result r = ctl("--json " + args + " 2>/dev/null");
        EXPECT_EQ(r.status, status) << args;
        ASSERT_EQ(r.lines.size(), 1u) << args << "\n" << r.Text();
        EXPECT_EQ(nlohmann::json::parse(r.lines.front())["ok"], false) << args;
    }
}

TEST(CtlE2e, ListeningEverywhereWarnsAndShowsTheAddressAsGiven) {
    Ctl ctl("t");
    for (const std::string listen : {"0.0.0.0:0", "[::]:0"}) {
        const Result r =
            ctl("serve --listen " + listen + " 2>&1 & pid=$!; sleep 0.5; kill $pid; wait $pid");
        EXPECT_EQ(r.status, 0) << r.Text();
        EXPECT_NE(r.Text().find("warning: "), std::string::npos) << r.Text();
        EXPECT_NE(r.Text().find("listening on " + listen.substr(0, listen.size() - 1)),
                  std::string::npos)
            << r.Text();
    }
    EXPECT_EQ(ctl("serve --allow 10.0.0.0/33").status, 2);
}

TEST(CtlE2e, HangupEndsASweepWithTheStopReport) {
    Ctl ctl("t", {"--frame-us", "1000"});
    const Result r =
        ctl("sweep 1M 2M --step 100k --dwell 5ms --forever & pid=$!; sleep 0.3; "
            "kill -HUP $pid; wait $pid");
    EXPECT_EQ(r.status, 0) << r.Text();
    const auto writes = ctl.emu().WriteLines();
    ASSERT_GT(writes.size(), 5u);
    EXPECT_EQ(writes.back(), "hidraw0 write 00 00 00 00 00 01 00 00");
}

}  // namespace
