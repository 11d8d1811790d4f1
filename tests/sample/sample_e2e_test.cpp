// The sample's window with the real dlopen binding and libtovrik.so, against devices emulated
// by tovrik-emu.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/emu_session.h"

namespace {

using tovrik::testing::EmuOptions;
using tovrik::testing::EmuSession;

class Sample {
  public:
    explicit Sample(const std::string& devices)
        : session_(Options(devices), {TOVRIK_SAMPLE_DRIVER_PATH}) {}

    std::string Do(const std::string& line) {
        session_.SendLine(line);
        return session_.ReadLine().value_or("<no answer to " + line + ">");
    }
    EmuSession& session() { return session_; }

  private:
    static EmuOptions Options(const std::string& devices) {
        EmuOptions options;
        options.devices = devices;
        options.env = {"QT_QPA_PLATFORM=offscreen"};
        return options;
    }
    EmuSession session_;
};

TEST(SampleE2E, SendsTheTypedFrequenciesAndSuspends) {
    Sample sample("o,t");
    ASSERT_EQ(sample.Do("load"), "message TOVRIKを検出しました");
    EXPECT_EQ(sample.Do("path"), "path /dev/hidraw1");

    struct Case {
        const char* text;
        const char* bytes;
    };
    const Case cases[] = {
        {"12800000", "00 79 56 34 12 01 00 00"},  // word 305419897
        {"80000000", "00 72 1C C7 71 01 00 00"},  // 1908874354
        {"1", "00 18 00 00 00 01 00 00"},         // 24
        {"0", "00 00 00 00 00 01 00 00"},
        {"85000000", "00 39 8E E3 78 01 00 00"},  // 2028179001
        {"-1", "00 E8 FF FF FF 01 00 00"},        // -24
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        ASSERT_EQ(sample.Do(std::string("text ") + c.text), "ok");
        EXPECT_EQ(sample.Do("click1"), "ok") << c.text;
        expected.push_back(std::string("hidraw1 write ") + c.bytes);
    }
    for (const char* refused : {"abc", "90000000"}) {
        ASSERT_EQ(sample.Do(std::string("text ") + refused), "ok");
        EXPECT_EQ(sample.Do("click1"), "message この周波数は使用できません") << refused;
    }
    EXPECT_EQ(sample.Do("click2"), "ok");
    expected.push_back("hidraw1 write 00 00 00 00 00 05 00 00");
    ASSERT_TRUE(sample.session().WaitForLogLine(expected.back()));
    EXPECT_EQ(sample.session().WriteLines(), expected);
}

TEST(SampleE2E, NoDeviceAtStartSendsNothingLater) {
    Sample sample("o");
    ASSERT_EQ(sample.Do("load"), "message TOVRIKが検出できません");
    EXPECT_EQ(sample.Do("click1"), "ok");
    EXPECT_EQ(sample.Do("click2"), "ok");
    EXPECT_TRUE(sample.session().WriteLines().empty());
}

// While another program holds the TOVRIK the sample cannot reach it; once it lets go, the
// sample's sends get through.
TEST(SampleE2E, DeviceHeldElsewhereIsUnreachableUntilReleased) {
    Sample sample("t");
    ASSERT_TRUE(sample.session().Control("hold 0"));
    ASSERT_EQ(sample.Do("load"), "message TOVRIKが検出できません");

    Sample second("t");
    ASSERT_EQ(second.Do("load"), "message TOVRIKを検出しました");
    ASSERT_TRUE(second.session().Control("hold 0"));
    EXPECT_EQ(second.Do("click2"), "ok");  // the status is not shown
    ASSERT_TRUE(second.session().Control("release 0"));
    EXPECT_EQ(second.Do("click2"), "ok");
    ASSERT_TRUE(second.session().WaitForLogLine("hidraw0 write 00 00 00 00 00 05 00 00"));
    EXPECT_EQ(second.session().WriteLines().size(), 1u);
}

}  // namespace
