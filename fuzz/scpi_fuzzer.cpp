// Arbitrary input lines for tovrikctl's SCPI language, against a recording instrument.
// Holds: no report above 80 MHz reaches the device, nor any sweep point; every line with a
// query is answered or leaves an error in the queue; the queue keeps its bound.
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

// Fails on a byte of the input, so device faults come and go as the fuzzer likes.
class RecordingDevice : public ScpiDevice {
  public:
    bool failing = false;

    std::optional<ScpiError> Send(const OutputReport& report) override {
        FUZZ_CHECK(report[6] == 0 && report[7] == 0);
        FUZZ_CHECK(WordOf(report) <= kLimitWord);
        if (failing) return ScpiError{-241, "Hardware missing"};
        return std::nullopt;
    }
    std::optional<std::string> Version() override {
        if (failing) return std::nullopt;
        return "01/02/03";
    }
};

// A started sweep's points are what the server would send: all of them within the limit.
void CheckSweep(const ScpiInstrument& instrument) {
    const auto planned = MakeSweepPlan(instrument.sweep);
    const auto* plan = std::get_if<SweepPlan>(&planned);
    if (plan == nullptr) return;
    const std::uint64_t last = plan->points - 1;
    for (const std::uint64_t k : {std::uint64_t{0}, last / 2, last}) {
        FUZZ_CHECK(plan->WordAt(k) <= kLimitWord);
    }
}

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
        client.errors.clear();
        const ScpiOutcome outcome = engine.Execute(client, line);
        FUZZ_CHECK(client.errors.size() <= kErrorQueueSize);
        if (line.find('?') != std::string_view::npos) {
            FUZZ_CHECK(!outcome.response.empty() || !client.errors.empty());
        }
        if (outcome.sweep == ScpiOutcome::Sweep::Start) CheckSweep(engine.instrument());
        FUZZ_CHECK(WordOf(engine.SteadyReport()) <= kLimitWord);
    }
    return 0;
}
