// The server's own rules without sockets: who gives way to a new client, what counts as an
// HTTP request, and the device worker that keeps the device in the instrument's state.
#include "cli/server.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "cli/instrument/device_worker.h"
#include "tests/support/fake_platform.h"

namespace {

using namespace tovrik;
using namespace tovrik::cli;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(ServerRules, EvictionPrefersTricklersThenMuteThenIdleAndNeverABusyClient) {
    const auto now = Clock::now();
    const ClientActivity talker{now - 100s, now - 100s, std::nullopt, true, false};
    const ClientActivity busy{now - 100s, now - 100s, now - 1s, false, true};
    const ClientActivity trickler{now - 1s, now, now - 1s, false, false};
    const ClientActivity mute{now - 4s, now - 4s, std::nullopt, false, false};
    const ClientActivity fresh{now, now, std::nullopt, false, false};
    struct Case {
        std::vector<ClientActivity> clients;
        std::chrono::seconds idle;
        std::optional<std::size_t> chosen;
    };
    const std::vector<Case> cases = {
        {{talker, mute, trickler}, 60s, 2},
        {{talker, fresh, mute}, 60s, 2},  // silent since connecting, past the line deadline
        {{talker, fresh}, 200s, std::nullopt},
        {{talker, fresh}, 60s, 0},  // silent longer than --idle
        {{busy, fresh}, 1s, std::nullopt},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ChooseEviction(cases[i].clients, now, cases[i].idle), cases[i].chosen) << i;
    }
}

TEST(ServerRules, HttpFirstLinesAreRecognisedAndLogLinesEscaped) {
    for (const char* line : {"POST / HTTP/1.1", "get /x HTTP/1.0", "OPTIONS * HTTP/1.1",
                             "HEAD / HTTP/1.1", "PUT /a HTTP/1.1", "Host: localhost"}) {
        EXPECT_TRUE(LooksLikeHttp(line)) << line;
    }
    for (const char* line : {"*IDN?", "POST", "GET FREQ?", "FREQ 1 MHZ;OUTP ON", ""}) {
        EXPECT_FALSE(LooksLikeHttp(line)) << line;
    }
    EXPECT_EQ(Printable("a\x1b[2J\xff\\"), "a\\x1B[2J\\xFF\\x5C");
}

TEST(ServerRules, AllowedRangesMatchByPrefix) {
    struct Case {
        const char* range;
        const char* address;
        bool in;
    };
    for (const Case& c : std::vector<Case>{{"10.0.0.0/8", "10.200.1.2", true},
                                           {"10.0.0.0/8", "11.0.0.1", false},
                                           {"127.0.0.1", "::ffff:127.0.0.1", true},
                                           {"192.168.1.128/25", "192.168.1.127", false},
                                           {"fd00::/8", "fd12::1", true},
                                           {"fd00::/8", "10.0.0.1", false},
                                           {"0.0.0.0/0", "203.0.113.9", true},
                                           {"::ffff:127.0.0.0/104", "127.0.0.1", true},
                                           {"::ffff:127.0.0.0/104", "128.0.0.1", false},
                                           {"::/0", "10.0.0.1", true}}) {
        const auto range = ParseAddressRange(c.range);
        ASSERT_TRUE(range) << c.range;
        EXPECT_EQ(InRange(*range, c.address), c.in) << c.range << " " << c.address;
    }
    for (const char* bad :
         {"10.0.0.0/33", "10.0.0.0/", "localhost", "::/129", "1.2.3.4/x", "::ffff:1.2.3.4/129"}) {
        EXPECT_FALSE(ParseAddressRange(bad)) << bad;
    }
}

class Worker : public ::testing::Test {
  protected:
    // Runs what the worker posts on the test's thread, as the server's loop would.
    void RunPosted(std::size_t count) {
        std::unique_lock lock(mutex);
        for (std::size_t done = 0; done < count;) {
            ASSERT_TRUE(wake.wait_for(lock, 10s, [&] { return !posted.empty(); }));
            auto f = std::move(posted.front());
            posted.erase(posted.begin());
            lock.unlock();
            f();
            lock.lock();
            ++done;
        }
    }
    std::optional<ScpiError> Carry(const DeviceOrder& order) {
        std::optional<ScpiError> result;
        worker.Carry(order, [&](std::optional<ScpiError> e) { result = std::move(e); });
        RunPosted(1);
        return result;
    }
    OutputReport LastAt(const std::string& path) {
        OutputReport last{};
        for (const auto& s : platform.sent()) {
            if (s.path == path) last = s.bytes;
        }
        return last;
    }
    bool Settles() {
        for (int i = 0; i < 400 && !worker.DeviceMatchesInstrument(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        return worker.DeviceMatchesInstrument();
    }

    tovrik::testing::FakePlatform platform{tovrik::testing::FakePlatform::WithLayout("t,t")};
    ReconnectingDevice device{platform, ReconnectPolicy::ByIdentity, "/dev/hidraw0"};
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::function<void()>> posted;
    std::vector<std::pair<std::uint64_t, std::optional<ScpiError>>> sweepEnds;
    DeviceWorker::Post Poster() {
        return [this](std::function<void()> f) {
            const std::lock_guard lock(mutex);
            posted.push_back(std::move(f));
            wake.notify_all();
        };
    }
    DeviceWorker::SweepEnd Ends() {
        return [this](std::uint64_t id, std::optional<ScpiError> e) {
            sweepEnds.emplace_back(id, std::move(e));
        };
    }
    DeviceWorker worker{device, BuildStopReport(), Poster(), Ends()};
};

TEST_F(Worker, AnAbsentDeviceIsWaitedForAndBroughtBackToTheSetState) {
    const OutputReport one = BuildFrequencyReport(ComputeTuningWord(1e6));
    ASSERT_EQ(Carry({DeviceOrder::Kind::Write, one}), std::nullopt);
    platform.Unplug(0);
    const auto missing = Carry({DeviceOrder::Kind::Write, BuildStopReport()});
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->code, -241);
    worker.Follow(one, false);  // the failed command changed nothing
    platform.Replug(0);
    ASSERT_TRUE(Settles());
    EXPECT_EQ(LastAt("/dev/hidraw0"), one);
    EXPECT_EQ(LastAt("/dev/hidraw1"), OutputReport{});  // the other TOVRIK is never touched
}

TEST_F(Worker, ASweepThatCannotSendEndsTellsAndReturnsToTheSetState) {
    SweepRequest request{1e6, 2e6, 3, std::nullopt, 1e-3, false, 1};
    const SweepPlan plan = std::get<SweepPlan>(MakeSweepPlan(request));
    worker.Follow(BuildStopReport(), true);
    ASSERT_EQ(Carry({DeviceOrder::Kind::Sweep, {}, plan, 7}), std::nullopt);
    EXPECT_TRUE(worker.DeviceMatchesInstrument());  // on a sweep point
    platform.Edit(0, [](tovrik::testing::FakeInterface& i) { i.writeError = EIO; });
    RunPosted(1);
    ASSERT_EQ(sweepEnds.size(), 1u);
    EXPECT_EQ(sweepEnds[0].first, 7u);
    ASSERT_TRUE(sweepEnds[0].second);
    EXPECT_EQ(sweepEnds[0].second->code, -240);
    platform.Edit(0, [](tovrik::testing::FakeInterface& i) { i.writeError = 0; });
    ASSERT_TRUE(Settles());
    EXPECT_EQ(LastAt("/dev/hidraw0"), BuildStopReport());
}

// Notes every deadline a worker sleeps until, and sleeps on the real pacer.
class RecordingPacer : public Pacer {
  public:
    bool SleepUntil(std::uint64_t deadline) override {
        if (deadline != kNoDeadline) {
            const std::lock_guard lock(mutex);
            deadlines.insert(deadline);
        }
        return real->SleepUntil(deadline);
    }
    void Wake() override { real->Wake(); }
    std::mutex mutex;
    std::set<std::uint64_t> deadlines;
    const std::unique_ptr<Pacer> real = MakePacer();
};

TEST_F(Worker, SweepsWaitOnThePacerForAbsoluteDeadlines) {
    auto recording = std::make_unique<RecordingPacer>();
    RecordingPacer& pacer = *recording;
    ReconnectingDevice other{platform, ReconnectPolicy::ByIdentity, "/dev/hidraw1"};
    DeviceWorker paced{other, BuildStopReport(), Poster(), Ends(), std::move(recording)};
    const SweepRequest request{1e6, 2e6, 4, std::nullopt, 0.02, false, 1};
    const SweepPlan plan = std::get<SweepPlan>(MakeSweepPlan(request));
    std::optional<ScpiError> started{ScpiError{}};
    paced.Carry({DeviceOrder::Kind::Sweep, {}, plan, 3, 1},
                [&](std::optional<ScpiError> e) { started = std::move(e); });
    RunPosted(2);  // the first point, then the sweep's end
    EXPECT_EQ(started, std::nullopt);
    ASSERT_EQ(sweepEnds.size(), 1u);
    const std::lock_guard lock(pacer.mutex);
    // Points 1..3 and the end: each at start + k * dwell, whatever the lateness before.
    ASSERT_GE(pacer.deadlines.size(), 2u);
    const std::uint64_t first = *pacer.deadlines.begin();
    for (const std::uint64_t d : pacer.deadlines) EXPECT_EQ((d - first) % 20'000'000u, 0u);
    EXPECT_LE(*pacer.deadlines.rbegin() - first, 60'000'000u);
}

// Power saving is left by OUTP ON while a sweep runs, so that its end or ABOR returns to
// the frequency OUTP? and FREQ? describe.
TEST(InstrumentState, OutputOnDuringASweepLeavesPowerSaving) {
    struct LastReport : ScpiDevice {
        std::optional<ScpiError> Carry(const DeviceOrder& order) override {
            last = order.kind == DeviceOrder::Kind::Write
                       ? order.report
                       : BuildFrequencyReport(order.plan.WordAt(0));
            return std::nullopt;
        }
        OutputReport last{};
    };
    for (const bool abort : {true, false}) {
        LastReport device;
        ScpiEngine engine(device);
        ScpiClient client;
        engine.Execute(client, "SYST:SUSP;:INIT;:OUTP ON");
        if (abort) {
            engine.Execute(client, "ABOR");
            EXPECT_EQ(device.last, SteadyReport(engine.instrument()));
        } else {
            engine.SweepEnded(engine.instrument().sweepId);
        }
        EXPECT_EQ(SteadyReport(engine.instrument()),
                  BuildFrequencyReport(ComputeTuningWord(kDefaultFrequencyHz)))
            << abort;
        EXPECT_EQ(engine.Execute(client, "OUTP?;:SYST:ERR?").response, "1;0,\"No error\"") << abort;
    }
}

}  // namespace

namespace {

// A list sweep runs on the same worker loop: its points in order, each for its own dwell.
TEST_F(Worker, AListSweepSendsItsPointsForTheirDwellsThenTheSetState) {
    const auto planned = MakeListPlan({10, 20, 30}, {1e-3, 4e-3, 1e-3}, false);
    const SweepPlan plan = std::get<SweepPlan>(planned);
    worker.Follow(BuildStopReport(), false);
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(Carry({DeviceOrder::Kind::Sweep, {}, plan, 3}), std::nullopt);
    RunPosted(1);
    EXPECT_GE(std::chrono::steady_clock::now() - began, 6ms);
    ASSERT_EQ(sweepEnds.size(), 1u);
    EXPECT_EQ(sweepEnds[0].second, std::nullopt);
    std::vector<OutputReport> sent;
    for (const auto& s : platform.sent()) sent.push_back(s.bytes);
    const std::vector<OutputReport> wanted = {
        BuildFrequencyReport(ComputeTuningWord(10)), BuildFrequencyReport(ComputeTuningWord(20)),
        BuildFrequencyReport(ComputeTuningWord(30)), BuildStopReport()};
    EXPECT_EQ(sent, wanted);
}

}  // namespace
