// Siglent's generator commands as an oscilloscope's Bode plot sends them, over the SCPI engine.
#include "cli/sdg_dialect.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/scpi.h"

namespace {

using namespace tovrik;
using namespace tovrik::cli;

class Device : public ScpiDevice {
  public:
    std::optional<ScpiError> Carry(const DeviceOrder& order) override {
        if (missing) return ScpiError{-241, "Hardware missing"};
        sent.emplace_back(order.channel, order.report);
        return std::nullopt;
    }
    std::vector<std::pair<unsigned, OutputReport>> sent;
    bool missing = false;
};

class Sdg : public ::testing::Test {
  protected:
    std::string operator()(const std::string& line) {
        return engine.Execute(client, line).response;
    }
    std::vector<int> Errors() {
        std::vector<int> codes;
        for (const ScpiError& e : client.errors) codes.push_back(e.code);
        client.errors.clear();
        return codes;
    }
    static std::string Hz(double hz) { return FormatNumber(TuningWordToHz(ComputeTuningWord(hz))); }
    static std::pair<unsigned, OutputReport> Tone(double hz, unsigned channel = 1) {
        return {channel, BuildFrequencyReport(ComputeTuningWord(hz))};
    }
    void SetUp() override {
        engine.SetVersion("1");
        client.dialect = Dialect::Sdg;
    }
    Device device;
    ScpiEngine engine{device};
    ScpiClient client;
};

TEST_F(Sdg, TheScopesSequenceDrivesTheDeviceAndReadsBackWhatItGave) {
    EXPECT_EQ((*this)("IDN-SGLT-PRI?"), "IDN-SGLT-PRI SDG0000X");
    EXPECT_EQ((*this)("C1:OUTP LOAD,50;BSWV WVTP,SINE,PHSE,0,FRQ,15000,AMP,2,OFST,0;OUTP ON"), "");
    const std::string wave = (*this)("C1:BSWV?");
    EXPECT_EQ(wave.rfind("C1:BSWV WVTP,SINE,FRQ," + Hz(15000) + "HZ,PERI,", 0), 0U) << wave;
    EXPECT_TRUE(wave.ends_with(",AMP,2V,OFST,0V,HLEV,1V,LLEV,-1V,PHSE,0")) << wave;
    (*this)("c1:bswv frq,10.8890427");
    (*this)("C1:BSWV FRQ,20kHz");
    EXPECT_EQ((*this)("C1:OUTP?"), "C1:OUTP ON,LOAD,50,PLRT,NOR");
    (*this)("C1:OUTP OFF");
    EXPECT_EQ((*this)("C1:OUTP?;FREQ?"), "C1:OUTP OFF,LOAD,50,PLRT,NOR;" + Hz(20000));
    EXPECT_EQ(device.sent, (std::vector{Tone(15000), Tone(10.8890427), Tone(20000),
                                        std::pair{1U, BuildStopReport()}}));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(Sdg, RefusalsLeaveEverySettingAsItWas) {
    (*this)("C1:OUTP ON,LOAD,HZ;BSWV FRQ,1000,AMP,2");
    const std::string wave = (*this)("C1:BSWV?");
    device.sent.clear();
    const std::vector<std::pair<std::string, int>> table = {
        {"C1:BSWV AMP,1,FRQ,80000001", -222},  // the limit of SCPI's FREQ, and all or nothing
        {"C1:BSWV FRQ", -109},
        {"C1:BSWV AMP,2A", -104},
        {"C1:BSWV OFST,-1E300V", -222},
        {"C1:BSWV PHSE,400", -222},
        {"C1:BSWV OFST,1,WVTP,SQUARE", -224},
        {"C1:BSWV DUTY,50", -224},
        {"C1:BSWV? FRQ", -108},
        {"C1:OUTP LOAD,10", -222},
        {"C1:OUTP LOAD", -109},
        {"C1:OUTP PLRT,INVT", -224},
        {"C2:BSWV FRQ,10", -113},  // one TOVRIK: C1 only
        {"C1:MDWV STATE,OFF", -113},
        {"BSWV FRQ,10", -113},  // no C<n>: header before it
    };
    for (const auto& [line, code] : table) {
        (*this)(line);
        EXPECT_EQ(Errors(), std::vector{code}) << line;
    }
    device.missing = true;
    (*this)("C1:OUTP OFF,LOAD,75");
    EXPECT_EQ(Errors(), std::vector{-241});
    device.missing = false;
    EXPECT_EQ((*this)("C1:BSWV?;OUTP?"), wave + ";C1:OUTP ON,LOAD,HZ,PLRT,NOR");
    EXPECT_TRUE(device.sent.empty());
}

TEST_F(Sdg, ABanksChannelNIsCnAndScpiStaysUnderstood) {
    engine.MakeBank();
    engine.Arrive("a", "1");
    engine.Arrive("b", "1");
    (*this)("C2:OUTP ON;BSWV FRQ,5000;:SOUR1:FREQ 7000;OUTP1 ON");
    EXPECT_EQ(device.sent, (std::vector{Tone(1e6, 2), Tone(5000, 2), Tone(7000, 1)}));
    EXPECT_EQ((*this)("C1:BSWV?").substr(0, 22), "C1:BSWV WVTP,SINE,FRQ,");
    engine.Leave(2);
    (*this)("C2:BSWV FRQ,10");
    ASSERT_EQ(client.errors.size(), 1U);
    EXPECT_EQ(client.errors.front().text, "Hardware missing; no TOVRIK on channel 2");
    client.errors.clear();
    EXPECT_EQ((*this)("C2:OUTP?"), "C2:OUTP ON,LOAD,HZ,PLRT,NOR");  // kept while away
    client.dialect = Dialect::Scpi;
    (*this)("C1:BSWV?;IDN-SGLT-PRI?");
    EXPECT_EQ(Errors(), (std::vector{-113}));
}

}  // namespace
