// Arbitrary input lines for tovrikctl's SCPI language, against a recording instrument.
// Holds: no report above 80 MHz reaches the device, nor any sweep point; outside a sweep the
// device holds the set state; every line with a query is answered or leaves an error in the
// queue (unless *CLS then empties it); the queue keeps its bound.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "cli/scpi.h"
#include "cli/sweep.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tovrik;
using namespace tovrik::cli;

constexpr TuningWord kLimitWord = 1'908'874'354;  // 80,000,000 Hz

TuningWord WordOf(const OutputReport& report) {
    return static_cast<TuningWord>(report[1]) | static_cast<TuningWord>(report[2]) << 8 |
           static_cast<TuningWord>(report[3]) << 16 | static_cast<TuningWord>(report[4]) << 24;
}

// A started sweep's points are what the server would send: all of them within the limit.
void CheckSweep(const SweepPlan& plan) {
    const std::uint64_t last = plan.points - 1;
    for (const std::uint64_t k : {std::uint64_t{0}, last / 2, last}) {
        FUZZ_CHECK(plan.WordAt(k) <= kLimitWord);
    }
}

// Fails on a byte of the input, so device faults come and go as the fuzzer likes.
class RecordingDevice : public ScpiDevice {
  public:
    bool failing = false;

    std::optional<ScpiError> Carry(const DeviceOrder& order) override {
        const OutputReport report = order.kind == DeviceOrder::Kind::Sweep
                                        ? BuildFrequencyReport(order.plan.WordAt(0))
                                        : order.report;
        FUZZ_CHECK(report[6] == 0 && report[7] == 0);
        FUZZ_CHECK(WordOf(report) <= kLimitWord);
        if (order.kind == DeviceOrder::Kind::Sweep) CheckSweep(order.plan);
        // A failed write or a sweep leaves the device's report unknown until the next write.
        known = !failing && order.kind == DeviceOrder::Kind::Write;
        if (failing) return ScpiError{-241, "Hardware missing"};
        last = report;
        return std::nullopt;
    }
    OutputReport last = BuildStopReport();
    bool known = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecordingDevice device;
    ScpiEngine engine(device);
    ScpiClient client;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= input.size()) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        const std::string_view line = input.substr(start, end - start);
        start = end + 1;
        // A control byte at the start of a line switches the device's faults.
        if (!line.empty() && line.front() == '\x01') {
            device.failing = !device.failing;
            continue;
        }
        // Another switches the Siglent generator dialect on and off.
        if (!line.empty() && line.front() == '\x02') {
            client.dialect = client.dialect == Dialect::Sdg ? Dialect::Scpi : Dialect::Sdg;
            continue;
        }
        client.errors.clear();
        const ScpiOutcome outcome = engine.Execute(client, line);
        FUZZ_CHECK(client.errors.size() <= kErrorQueueSize);
        // *CLS empties the queue that would have told of a query's failure.
        std::string upper(line);
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (line.find('?') != std::string_view::npos && upper.find("*CLS") == std::string::npos) {
            FUZZ_CHECK(!outcome.response.empty() || !client.errors.empty());
        }
        FUZZ_CHECK(WordOf(SteadyReport(engine.instrument())) <= kLimitWord);
        // Outside a sweep, the device holds what OUTP? and FREQ? describe.
        if (device.known && !engine.instrument().sweeping) {
            FUZZ_CHECK(device.last == SteadyReport(engine.instrument()));
        }
    }
    return 0;
}
