// Sweeps, lists and triggers as lab drivers send them; the status registers; *SAV/*RCL.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/scpi.h"
#include "cli/state_file.h"

namespace {

using namespace tovrik;
using namespace tovrik::cli;

class PlanDevice : public ScpiDevice {
  public:
    std::optional<ScpiError> Carry(const DeviceOrder& order) override {
        if (order.kind == DeviceOrder::Kind::Sweep)
            plans.push_back(order.plan);
        else
            sent.push_back(order.report);
        return std::nullopt;
    }
    std::vector<SweepPlan> plans;
    std::vector<OutputReport> sent;
};

class Lab : public ::testing::Test {
  protected:
    std::string operator()(const std::string& line) {
        return engine.Execute(client, line).response;
    }
    std::string Errors() { return (*this)("SYST:ERR:ALL?"); }
    std::vector<double> PlanHz(const SweepPlan& plan) {
        std::vector<double> hz;
        for (std::uint64_t k = 0; k < plan.points; ++k) {
            hz.push_back(TuningWordToHz(plan.WordAt(k)));
        }
        return hz;
    }
    PlanDevice device;
    ScpiEngine engine{device};
    ScpiClient client;
};

double Tuned(double hz) {
    return TuningWordToHz(ComputeTuningWord(hz));
}

std::string Hz(double hz) {
    return FormatNumber(Tuned(hz));
}

TEST_F(Lab, SettingsAnswerAndRefuseAsTabled) {
    struct Row {
        const char* line;
        std::string answer;
        std::string errors = "0,\"No error\"";
    };
    const std::vector<Row> table = {
        {"FREQ:MODE SWE;MODE?;MODE FIX;MODE?;MODE list;MODE?", "SWE;CW;LIST"},
        {"FREQ:STAR 1e6;STOP 3e6;:FREQ:CENT?;SPAN?", "2e+06;2e+06"},
        {"FREQ:STAR 1e6;STOP 3e6;CENT 10 MHz;:FREQ:STAR?;STOP?", "9e+06;1.1e+07"},
        {"FREQ:STAR 1e6;STOP 3e6;SPAN 4e6;:FREQ:STAR?;STOP?", "0;4e+06"},  // clipped at 0
        {"FREQ:CENT 79e6;SPAN 10e6;:FREQ:STAR?;STOP?", "7.8e+07;8e+07"},
        {"SWE:GEN STEP;GEN?", "STEP"},
        {"SWE:GEN ANAL", "", "-221,\"Settings conflict; the TOVRIK steps; only STEPped sweeps\""},
        {"SWE:MODE MAN;MODE?;DIR DOWN;DIR?;DWEL1 0.002;DWEL?", "MAN;DOWN;0.002"},
        {"SWE:POINT 2", "", "-221,\"Settings conflict; SWE:MODE is not MANual\""},
        {"LIST:FREQ 1 kHz,2MHz, 3;POIN?;FREQ?", "3;1000,2e+06,3"},
        {"LIST:FREQ 1,90MHz;:LIST:POIN?;FREQ?", "0;9.91E+37", "-222,\"Data out of range\""},
        {"LIST:DWEL 1ms,2 ms;DWEL?;DIR DOWN;DIR?", "0.001,0.002;DOWN"},
        {"LIST:DWEL 0.1ms", "", "-222,\"Data out of range\""},
        {"TRIG:SOUR BUS;SOUR?;:TRIG:SEQ:SOUR IMM;:TRIG:SOUR?", "BUS;IMM"},
        {"TRIG:SOUR EXT", "", "-224,\"Illegal parameter value; the TOVRIK has no trigger input\""},
        {"TRIG:SEQ:SLOP NEG;SLOP?", "NEG"},
        {"*TRG", "", "-211,\"Trigger ignored; TRIG:SOUR is not BUS\""},
        {"SWE:CONT:STAT ON;:SWE:CONT?;:INIT:CONT?", "1;1"},
    };
    for (const Row& row : table) {
        ScpiEngine fresh{device};
        ScpiClient own;
        EXPECT_EQ(fresh.Execute(own, row.line).response, row.answer) << row.line;
        EXPECT_EQ(fresh.Execute(own, "SYST:ERR:ALL?").response, row.errors) << row.line;
    }
}

TEST_F(Lab, ModesSweepTheirPointsInTheirDirection) {
    (*this)("FREQ:STAR 1000;STOP 3000;:SWE:POIN 3;DIR DOWN;:TSW");
    ASSERT_EQ(device.plans.size(), 1u);
    EXPECT_EQ(PlanHz(device.plans[0]),
              (std::vector<double>{Tuned(3000), Tuned(2000), Tuned(1000)}));
    (*this)("ABOR;:LIST:FREQ 10,20,30;DWEL 1ms,2ms,3ms;DIR DOWN;:FREQ:MODE LIST;:INIT");
    ASSERT_EQ(device.plans.size(), 2u);
    const SweepPlan& list = device.plans[1];
    EXPECT_EQ(PlanHz(list), (std::vector<double>{Tuned(30), Tuned(20), Tuned(10)}));
    // Dwells follow their points; the second pass starts where the first ended (6 ms).
    const std::vector<std::uint64_t> starts = {0, 3'000'000, 5'000'000, 6'000'000, 9'000'000};
    for (std::uint64_t slot = 0; slot < starts.size(); ++slot) {
        EXPECT_EQ(list.SlotStartNanoseconds(slot), starts[slot]) << slot;
    }
    // Per-point dwells that do not match the list conflict; nothing runs.
    (*this)("ABOR;:LIST:DWEL 1ms,2ms;:INIT");
    EXPECT_EQ(device.plans.size(), 2u);
    EXPECT_EQ(Errors(),
              "-221,\"Settings conflict; the list needs one dwell, or one per frequency\"");
    // MANual: a point of the set sweep becomes the frequency.
    (*this)("FREQ:MODE CW;:SWE:MODE MAN;DIR UP;POINT 2;:FREQ?");
    EXPECT_EQ((*this)("FREQ?"), Hz(2000));
}

TEST_F(Lab, ListsTakeTenThousandPointsAndNoMore) {
    std::string line = "LIST:FREQ 1";
    for (int i = 2; i <= 10'000; ++i) line += "," + std::to_string(i);
    EXPECT_EQ((*this)(line + ";POIN?"), "10000");
    EXPECT_EQ((*this)(line + ",1;POIN?"), "10000");
    EXPECT_EQ(Errors(), "-222,\"Data out of range; at most 10,000 points\"");
}

TEST_F(Lab, BusTriggerArmsAndTrgStarts) {
    (*this)("TRIG:SOUR BUS;:INIT");
    EXPECT_TRUE(device.plans.empty());
    (*this)("*TRG");
    EXPECT_EQ(device.plans.size(), 1u);
    EXPECT_EQ((*this)("STAT:OPER:COND?"), "8");
    (*this)("*TRG");
    EXPECT_EQ(Errors(), "-211,\"Trigger ignored; a sweep runs\"");
    (*this)("OUTP OFF");
    EXPECT_EQ(device.sent.back(), BuildStopReport());
    EXPECT_EQ((*this)("STAT:OPER:COND?"), "0");
}

TEST_F(Lab, StatusByteSummarisesQueueAnswersAndEvents) {
    struct Row {
        const char* line;
        std::string answer;
    };
    const std::vector<Row> table = {
        {"*STB?", "0"},
        {"*IDN?;*STB?", "TOVRIK,TOVRIK DDS,0,unknown;20"},  // MAV, and the version error's EAV
        {"*CLS;*ESE 32;*SRE 36;*SRE?", "36"},
        {"BOGUS", ""},
        {"*STB?", "100"},  // EAV + ESB + RQS
        {"SYST:ERR:COUN?;*ESR?;*ESR?", "1;32;0"},
        {"*CLS;SYST:ERR:COUN?;*STB?", "0;16"},  // the count waits to be read: MAV
        {"*SRE 256", ""},
    };
    for (const Row& row : table) EXPECT_EQ((*this)(row.line), row.answer) << row.line;
    EXPECT_EQ(Errors(), "-222,\"Data out of range\"");
    (*this)("FREQ 99MHz;BOGUS");
    EXPECT_EQ(StatusByte(client), 0x04 | 0x20 | 0x40);
    EXPECT_EQ(Errors(), "-222,\"Data out of range\",-113,\"Undefined header\"");
}

std::filesystem::path TestDirectory() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::filesystem::temp_directory_path() /
           (std::string("tovrik-") + test->test_suite_name() + "-" + test->name());
}

class Saved : public Lab {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(dir);
        engine.SetStateStore(&store);
        engine.SetName("TVK 7/1");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    const std::filesystem::path dir = TestDirectory();
    const std::filesystem::path file = dir / "TVK_7_1.states";
    FileStateStore store{dir};
};

TEST_F(Saved, SlotsSurviveResetAndRecallRestores) {
    (*this)(
        "FREQ 2e6;:FREQ:STAR 5;STOP 9;:SWE:POIN 4;DWEL 2ms;DIR DOWN;:FREQ:MODE LIST;"
        ":LIST:FREQ 1,2;:OUTP ON;*SAV 3");
    (*this)("*RST;*SAV 4");
    EXPECT_TRUE(std::filesystem::exists(file));
    (*this)("*RCL 3");
    EXPECT_EQ((*this)("FREQ?;OUTP?;FREQ:STAR?;STOP?;:SWE:POIN?;DWEL?;DIR?;:FREQ:MODE?;:LIST:FREQ?"),
              Hz(2e6) + ";1;5;9;4;0.002;DOWN;LIST;1,2");
    EXPECT_EQ(device.sent.back(), BuildFrequencyReport(ComputeTuningWord(2e6)));
    (*this)("*RCL 4");
    EXPECT_EQ((*this)("OUTP?;FREQ:MODE?"), "0;CW");
    EXPECT_EQ(device.sent.back(), BuildStopReport());
    (*this)("*RCL 5;*SAV 10;*RCL 2.5");
    EXPECT_EQ(Errors(),
              "-224,\"Illegal parameter value; nothing saved as 5\",-222,\"Data out of "
              "range\",-222,\"Data out of range\"");
}

TEST_F(Saved, DamageIsReportedNeverOverwrittenNorApplied) {
    std::filesystem::create_directories(dir);
    const auto write = [&](const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    };
    for (const std::string& text :
         std::vector<std::string>{"garbage\n", "1 a\n1 b\n", std::string("\0\xff", 2)}) {
        write(text);
        (*this)("*RCL 3;*SAV 1");
        EXPECT_EQ(Errors(), "-250,\"Mass storage error; " + file.string() +
                                " is damaged\",-250,"
                                "\"Mass storage error; " +
                                file.string() + " is damaged\"");
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    }
    for (const std::string text : {"3 freq=1\n",
                                   "3 freq=1e99 output=0 start=1 stop=2 points=2 "
                                   "dwell=1 log=0 mode=0 down=0 listdown=0 list= "
                                   "listdwell=1\n"}) {
        write(text);
        (*this)("FREQ 5;*RCL 3");
        EXPECT_EQ(Errors(), "-250,\"Mass storage error; saved state 3 is damaged\"") << text;
        EXPECT_EQ((*this)("FREQ?"), Hz(5));
    }
    FileStateStore none{std::nullopt};
    engine.SetStateStore(&none);
    (*this)("*SAV 1");
    EXPECT_EQ(Errors(), "-250,\"Mass storage error; no state directory\"");
}

}  // namespace
