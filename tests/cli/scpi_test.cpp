// The SCPI language without sockets: responses, error queues and the reports it sends.
#include "cli/scpi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tovrik;
using namespace tovrik::cli;

class RecordingDevice : public ScpiDevice {
  public:
    std::optional<ScpiError> Carry(const DeviceOrder& order) override {
        if (missing) return ScpiError{-241, "Hardware missing"};
        channels.push_back(order.channel);
        if (order.kind == DeviceOrder::Kind::Sweep) {
            sweeps.push_back(order.sweepId);
        } else {
            sent.push_back(order.report);
        }
        return std::nullopt;
    }
    std::vector<OutputReport> sent;
    std::vector<std::uint64_t> sweeps;
    std::vector<unsigned> channels;  // whose device each order was for
    bool missing = false;
};

class Scpi : public ::testing::Test {
  protected:
    std::string operator()(const std::string& line) {
        return engine.Execute(client, line).response;
    }
    std::vector<std::string> Drain() {
        std::vector<std::string> errors;
        for (std::string e; (e = (*this)("SYST:ERR?")) != "0,\"No error\"";) errors.push_back(e);
        return errors;
    }
    void SetUp() override { engine.SetVersion("01/02/03"); }
    RecordingDevice device;
    ScpiEngine engine{device};
    ScpiClient client;
};

TEST_F(Scpi, QueriesAndSettingsInShortLongAndMixedCase) {
    EXPECT_EQ((*this)("*IDN?"), "TOVRIK,TOVRIK DDS,0,01/02/03");
    const std::vector<std::pair<std::string, std::string>> table = {
        {"FREQ 12.5MHZ;FREQ?", FormatNumber(TuningWordToHz(ComputeTuningWord(12.5e6)))},
        {":source:frequency:cw 1.5 kHz;:SOUR1:FREQ:CW?",
         FormatNumber(TuningWordToHz(ComputeTuningWord(1500)))},
        {"FREQ 1.25E+6;freq?", FormatNumber(TuningWordToHz(ComputeTuningWord(1.25e6)))},
        {"FREQ MAX;FREQ?", FormatNumber(TuningWordToHz(ComputeTuningWord(80e6)))},
        {"FREQ MIN;FREQ?", "0"},
        {"OUTP ON;OUTP?", "1"},
        {"OUTPut:STATe 0;:OUTPUT?", "0"},
        {"FREQ:STAR 1 KHZ;STOP 2KHZ;:FREQ:STAR?;STOP?", "1000;2000"},  // relative headers
        {"SWE:POIN 101;POIN?;DWEL 5 ms;DWEL?;SPAC LOG;SPAC?", "101;0.005;LOG"},
        {"SYST:VERS?", "1999.0"},
        // Below a double's resolution is 0 Hz; queries name their limits and defaults.
        {"FREQ 1e-400;FREQ?", "0"},
        {"FREQ? MAX;FREQ:CW? MIN", FormatNumber(TuningWordToHz(ComputeTuningWord(80e6))) + ";0"},
        {"SWE:POIN? MAX;POIN? DEF;DWEL? MIN;:FREQ:STAR? DEF", "10000000;11;0.001;1e+06"},
        {"*OPC?;*ESR?", "1;0"},
    };
    for (const auto& [line, answer] : table) EXPECT_EQ((*this)(line), answer) << line;
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Scpi, ReportsFollowTheOutputState) {
    (*this)("FREQ 1MHZ");  // output off: nothing is sent
    EXPECT_TRUE(device.sent.empty());
    (*this)("OUTP ON;FREQ 2 MHZ;OUTP OFF;SYST:SUSP");
    EXPECT_EQ(device.sent,
              (std::vector<OutputReport>{BuildFrequencyReport(ComputeTuningWord(1e6)),
                                         BuildFrequencyReport(ComputeTuningWord(2e6)),
                                         BuildStopReport(), BuildPowerSavingReport()}));
    (*this)("OUTP ON;*RST");
    EXPECT_EQ(device.sent.back(), BuildStopReport());
    EXPECT_EQ((*this)("OUTP?"), "0");
}

TEST_F(Scpi, ErrorsQueueWithTheStandardCodes) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"FROB 1", "-113,\"Undefined header\""},
        {"FREQ 80000001", "-222,\"Data out of range\""},
        {"FREQ -1", "-222,\"Data out of range\""},
        {"FREQ 1 GHZ", "-131,\"Invalid suffix\""},
        {"FREQ ON", "-104,\"Data type error\""},
        {"FREQ? 5", "-108,\"Parameter not allowed\""},
        {"*IDN? x", "-108,\"Parameter not allowed\""},
        {"FREQ", "-109,\"Missing parameter\""},
        {"OUTP MAYBE", "-224,\"Illegal parameter value\""},
        {"SWE:SPAC CUBIC", "-224,\"Illegal parameter value\""},
        {"SWE:POIN 1", "-222,\"Data out of range\""},
        {"FREQ$ 1", "-102,\"Syntax error\""},
        {"FR::EQ 1", "-102,\"Syntax error\""},
        {std::string("FREQ \x01\xff", 7), "-100,\"Command error\""},
        {"*FOO", "-113,\"Undefined header\""},
        {"SOUR2:FREQ 1", "-113,\"Undefined header\""},
        {"SYST:ERR 1", "-113,\"Undefined header\""},
    };
    for (const auto& [line, error] : table) {
        EXPECT_EQ((*this)(line), "") << line;
        EXPECT_EQ(Drain(), std::vector<std::string>{error}) << line;
    }
    EXPECT_TRUE(device.sent.empty());  // nothing out of range ever reaches the device
}

TEST_F(Scpi, CommandErrorDropsTheRestOfTheLineButExecutionErrorsDoNot) {
    EXPECT_EQ((*this)("FREQ 99 MHZ;FREQ 2KHZ;FREQ?"),
              FormatNumber(TuningWordToHz(ComputeTuningWord(2000))));
    EXPECT_EQ((*this)("BOGUS;FREQ 3k;FREQ?"), "");
    EXPECT_EQ(Drain().size(), 2u);
}

TEST_F(Scpi, QueueOverflowEndsInMinus350AndStatusBytesSeeErrors) {
    for (int i = 0; i < 20; ++i) (*this)("BAD");
    EXPECT_EQ((*this)("*STB?"), "4");
    EXPECT_EQ((*this)("*ESE 32;*STB?"), "36");
    EXPECT_EQ((*this)("*ESR?"), "32");
    const auto errors = Drain();
    ASSERT_EQ(errors.size(), kErrorQueueSize);
    EXPECT_EQ(errors.back(), "-350,\"Queue overflow\"");
    (*this)("FREQ 99 MHZ;*CLS");
    EXPECT_TRUE(Drain().empty());
}

// Each class of codes sets its own event status bit, device errors included.
TEST_F(Scpi, ErrorClassesSetTheirEventStatusBits) {
    const std::vector<std::pair<int, std::string>> table = {
        {-113, "32"}, {-241, "16"}, {-363, "8"}, {-410, "4"}, {-500, "0"}, {-99, "0"}, {7, "0"}};
    for (const auto& [code, esr] : table) {
        client.Push(ScpiError{code, "x"});
        EXPECT_EQ((*this)("*ESR?"), esr) << code;
    }
}

// A decimal *ESE mask is rounded before its range is checked.
TEST_F(Scpi, EventEnableRoundsBeforeTheRangeCheck) {
    const std::vector<std::pair<std::string, std::string>> table = {{"*ESE 255.4", "255"},
                                                                    {"*ESE -0.4", "0"},
                                                                    {"*ESE 31.5", "32"},
                                                                    {"*ESE 255.5", "32"},
                                                                    {"*ESE -0.5", "32"}};
    for (const auto& [line, mask] : table) EXPECT_EQ((*this)(line + ";*ESE?"), mask) << line;
    EXPECT_EQ(Drain(), (std::vector<std::string>(2, "-222,\"Data out of range\"")));
}

TEST_F(Scpi, EachClientHasItsOwnQueue) {
    ScpiClient other;
    engine.Execute(other, "BAD");
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(engine.Execute(other, "SYST:ERR:NEXT?").response, "-113,\"Undefined header\"");
}

TEST_F(Scpi, AnUnreadableVersionIsAnsweredAndReported) {
    engine.SetVersion(std::nullopt);
    EXPECT_EQ((*this)("*IDN?"), "TOVRIK,TOVRIK DDS,0,unknown");
    EXPECT_EQ(Drain().size(), 1u);
}

TEST_F(Scpi, DeviceFaultsQueueAndLeaveTheStateAlone) {
    device.missing = true;
    (*this)("OUTP ON");
    EXPECT_EQ(Drain(), std::vector<std::string>{"-241,\"Hardware missing\""});
    EXPECT_EQ((*this)("OUTP?"), "0");
}

TEST_F(Scpi, SweepCommandsOrderSweepsAndEndThemWithTheSetState) {
    (*this)("INIT");
    EXPECT_EQ(device.sweeps.size(), 1u);
    EXPECT_EQ((*this)("OUTP?"), "1");  // the sweep has the output on
    (*this)("ABOR");
    EXPECT_EQ(device.sent, std::vector<OutputReport>{BuildStopReport()});
    (*this)("INIT:CONT ON");
    EXPECT_EQ(device.sweeps.size(), 2u);
    EXPECT_EQ((*this)("INIT:CONT?"), "1");
    (*this)("INIT");
    EXPECT_EQ(Drain(), std::vector<std::string>{"-213,\"Init ignored\""});
    engine.SweepEnded(device.sweeps.front());  // stale: the second sweep goes on
    EXPECT_TRUE(engine.instrument().sweeping);
    engine.SweepEnded(device.sweeps.back());
    EXPECT_EQ((*this)("OUTP?;INIT:CONT?"), "0;0");
}

// A bank of TOVRIKs: channels by first arrival, numeric suffixes, the selected channel.
class Bank : public Scpi {
  protected:
    void SetUp() override {
        engine.MakeBank();
        for (const char* name : {"TVK00001", "/dev/hidraw9", "TVK00003"}) engine.Arrive(name, "1");
    }
};

TEST_F(Bank, ChannelsKeepTheirNumberByName) {
    engine.Leave(2);
    const std::vector<std::pair<std::string, unsigned>> arrivals = {
        {"TVK00004", 4}, {"/dev/hidraw9", 2}, {"TVK00001", 1}, {"TVK00005", 5}};
    for (const auto& [name, number] : arrivals) EXPECT_EQ(engine.Arrive(name, "1"), number) << name;
    EXPECT_TRUE(engine.channels()[1].present);
}

TEST_F(Bank, SuffixesAndTheSelectedChannelRouteCommands) {
    const auto hz = [](double f) { return FormatNumber(TuningWordToHz(ComputeTuningWord(f))); };
    const std::string hz2 = hz(2e6);
    struct Row {
        std::string line, answer;
        std::vector<unsigned> channels;  // of the orders the line gave
    };
    const std::vector<Row> table = {
        {"SOUR3:FREQ 1MHZ;:OUTP3 ON", "", {3}},
        {"SOURce:FREQ 2MHZ;:OUTP ON;:SOUR1:FREQ?;:SOUR3:FREQ?", hz2 + ";" + hz(1e6), {1}},
        {"OUTP2 ON;:OUTP2:STAT?;:OUTP3?", "1;1", {2}},
        {"INST:NSEL 2;:INST:NSEL?;:FREQ 2MHZ;:SOUR2:FREQ?", "2;" + hz2, {2}},
        {"OUTP OFF;SYST:SUSP3;:INIT;:ABOR", "", {2, 3, 2, 2}},
        {"OUTP ON;*RST;:SOUR2:FREQ?;:OUTP1?", hz(kDefaultFrequencyHz) + ";1", {2, 2}},
        {"INST:NSEL 1;:FREQ?", hz2, {}},
    };
    for (const Row& row : table) {
        device.channels.clear();
        EXPECT_EQ((*this)(row.line), row.answer) << row.line;
        EXPECT_EQ(device.channels, row.channels) << row.line;
    }
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Bank, AbsentChannelsAndBadSuffixesChangeNothing) {
    engine.Leave(2);
    const std::vector<std::pair<std::string, std::string>> table = {
        {"OUTP2 ON", "-241,\"Hardware missing; no TOVRIK on channel 2\""},
        {"SOUR9:FREQ 1", "-241,\"Hardware missing; no TOVRIK on channel 9\""},
        {"SOUR0:FREQ 1", "-113,\"Undefined header\""},
        {"SOUR01:FREQ 1", "-113,\"Undefined header\""},
        {"SYST2:ERR?", "-113,\"Undefined header\""},  // only channel keywords take a number
        {"INST:NSEL 4", "-222,\"Data out of range\""},
    };
    for (const auto& [line, error] : table) {
        (*this)(line);
        EXPECT_EQ(Drain(), std::vector<std::string>{error}) << line;
    }
    EXPECT_TRUE(device.channels.empty());
    EXPECT_EQ((*this)("OUTP2?;:INST:NSEL?"), "0;1");  // an away channel keeps its settings
}

TEST_F(Bank, CatalogNamesThePresentChannels) {
    EXPECT_EQ((*this)("INST:CAT:FULL?"), "\"TVK00001\",1,\"/dev/hidraw9\",2,\"TVK00003\",3");
    engine.Leave(2);
    EXPECT_EQ((*this)("INSTrument:CATalog:FULL?"), "\"TVK00001\",1,\"TVK00003\",3");
    EXPECT_EQ((*this)("*IDN?"), "TOVRIK,TOVRIK DDS,TVK00001,1");
    ScpiEngine empty;
    empty.MakeBank();
    EXPECT_EQ(empty.Execute(client, "INST:CAT:FULL?").response, "\"\"");
}

TEST_F(Scpi, OneTovrikTakesNoSuffixButOne) {
    (*this)("SOUR2:FREQ 1");
    EXPECT_EQ(Drain(), std::vector<std::string>{"-113,\"Undefined header\""});
}

}  // namespace
