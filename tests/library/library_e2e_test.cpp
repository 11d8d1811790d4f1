// libtovrik.so bound with dlopen/dlsym by a separate client process, against devices emulated
// by tovrik-emu and reached through the real hidraw backend.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/emu_session.h"

namespace {

using tovrik::testing::EmuOptions;
using tovrik::testing::EmuSession;

class Client {
  public:
    explicit Client(EmuOptions options) : session_(options, {TOVRIK_CLIENT_PATH}) {}

    std::string Call(const std::string& line) {
        session_.SendLine(line);
        return session_.ReadLine().value_or("<no answer to " + line + ">");
    }
    EmuSession& session() { return session_; }

  private:
    EmuSession session_;
};

EmuOptions Devices(std::string layout, std::string version = "1.0.0") {
    EmuOptions options;
    options.devices = std::move(layout);
    options.version = std::move(version);
    return options;
}

TEST(LibraryE2E, FindUsbListsEachDeviceThenStartsOver) {
    Client client(Devices("o,o,o,t,o,o,o,t"));
    const std::string before = client.Call("fds");
    EXPECT_EQ(client.Call("find 0"), "find 4 12 /dev/hidraw3");
    EXPECT_EQ(client.Call("find 4"), "find 8 12 /dev/hidraw7");
    EXPECT_EQ(client.Call("find 8"), "find 0 0 ");
    EXPECT_EQ(client.Call("find 0"), "find 4 12 /dev/hidraw3");
    EXPECT_EQ(client.Call("find 3"), "find 4 12 /dev/hidraw3");
    EXPECT_EQ(client.Call("find null"), "find - 0 ");
    EXPECT_EQ(client.Call("fds"), before) << "discovery left a descriptor open";
}

TEST(LibraryE2E, SendsReportsAndReadsTheVersion) {
    Client client(Devices("o,t", "1.2.3"));
    const std::string before = client.Call("fds");
    EXPECT_EQ(client.Call("out /dev/hidraw1 305419897 1"), "out 0");
    EXPECT_EQ(client.Call("out /dev/hidraw1 305419897 0"), "out 0");
    EXPECT_EQ(client.Call("out /dev/hidraw1 4294967272 1"), "out 0");
    EXPECT_EQ(client.Call("suspend /dev/hidraw1"), "suspend 0");
    EXPECT_EQ(client.Call("vers /dev/hidraw1"), "vers 8 01/02/03");
    EXPECT_EQ(client.Call("fds"), before);
    ASSERT_TRUE(client.session().WaitForLogLine("hidraw1 write 00 00 00 00 00 05 00 00"));
    const std::vector<std::string> expected = {
        "hidraw1 write 00 79 56 34 12 01 00 00",
        "hidraw1 write 00 00 00 00 00 01 00 00",
        "hidraw1 write 00 E8 FF FF FF 01 00 00",
        "hidraw1 write 00 00 00 00 00 05 00 00",
    };
    EXPECT_EQ(client.session().WriteLines(), expected);
}

TEST(LibraryE2E, FailuresReportStatusesAndSendNothing) {
    Client client(Devices("t,t"));
    const std::string before = client.Call("fds");
    ASSERT_TRUE(client.session().Control("refuse-write 0 on"));
    EXPECT_EQ(client.Call("suspend /dev/hidraw0"), "suspend -5");  // -EIO
    EXPECT_EQ(client.Call("out /dev/hidraw0 1 1"), "out 1");
    ASSERT_TRUE(client.session().Control("refuse-feature 0 on"));
    EXPECT_EQ(client.Call("vers /dev/hidraw0"), "vers 0 ");
    ASSERT_TRUE(client.session().Control("unplug 1"));
    EXPECT_EQ(client.Call("suspend /dev/hidraw1"), "suspend -1");
    EXPECT_EQ(client.Call("out /dev/hidraw1 1 1"), "out 1");
    EXPECT_EQ(client.Call("vers /dev/hidraw1"), "vers 0 ");
    for (const char* path : {"-", "null", "/dev/hidraw9", "/dev/null"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(client.Call(std::string("suspend ") + path), "suspend -1");
        EXPECT_EQ(client.Call(std::string("out ") + path + " 1 1"), "out 1");
        EXPECT_EQ(client.Call(std::string("vers ") + path), "vers 0 ");
    }
    EXPECT_EQ(client.Call("fds"), before);

    // Nothing above reached a device: the first line in the log is the one sent now.
    ASSERT_TRUE(client.session().Control("refuse-write 0 off"));
    EXPECT_EQ(client.Call("suspend /dev/hidraw0"), "suspend 0");
    ASSERT_TRUE(client.session().WaitForLogLine("hidraw0 write 00 00 00 00 00 05 00 00"));
    EXPECT_EQ(client.session().WriteLines().size(), 1u);
}

// Another process (the emulator's `hold`, as the control application would) owns the device:
// library clients neither find nor open it until it is released.
TEST(LibraryE2E, DeviceHeldByAnotherProcessIsUnreachableUntilReleased) {
    Client client(Devices("t,o,t"));
    ASSERT_TRUE(client.session().Control("hold 0"));
    EXPECT_EQ(client.Call("find 0"), "find 3 12 /dev/hidraw2");
    ASSERT_TRUE(client.session().Control("hold 2"));
    EXPECT_EQ(client.Call("find 0"), "find 0 0 ");
    EXPECT_EQ(client.Call("out /dev/hidraw0 305419897 1"), "out 1");
    EXPECT_EQ(client.Call("suspend /dev/hidraw0"), "suspend -1");
    EXPECT_EQ(client.Call("vers /dev/hidraw0"), "vers 0 ");

    ASSERT_TRUE(client.session().Control("release 0"));
    EXPECT_EQ(client.Call("find 0"), "find 1 12 /dev/hidraw0");
    EXPECT_EQ(client.Call("out /dev/hidraw0 305419897 1"), "out 0");
    ASSERT_TRUE(client.session().WaitForLogLine("hidraw0 write 00 79 56 34 12 01 00 00"));
    EXPECT_EQ(client.session().WriteLines().size(), 1u);
}

TEST(LibraryE2E, ExampleProgramSetsTheFrequency) {
    EmuSession session(Devices("o,t"), {TOVRIK_EXAMPLE_PATH, "12800000"});
    EXPECT_EQ(session.Wait(), 0);
    EXPECT_TRUE(session.WaitForLogLine("hidraw1 write 00 79 56 34 12 01 00 00"));
    EXPECT_EQ(session.WriteLines().size(), 1u);
}

// A frequency the example cannot read exactly must not reach the device: "abc" would otherwise
// read as 0 Hz and "12.8M" as 12.8 Hz.
TEST(LibraryE2E, ExampleProgramRefusesWhatIsNotAFrequency) {
    for (const char* arg : {"abc", "12.8M", "", "100000000", "nan"}) {
        SCOPED_TRACE(arg);
        EmuSession session(Devices("t"), {TOVRIK_EXAMPLE_PATH, arg});
        EXPECT_EQ(session.Wait(), 2);
        EXPECT_TRUE(session.WriteLines().empty());
    }
}

}  // namespace
