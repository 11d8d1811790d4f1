// The SCPI command language of `tovrikctl serve`, apart from any socket: a line goes in,
// the response line, the errors and the device reports come out.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "cli/sweep.h"
#include "device/reports.h"

namespace tovrik::cli {

struct ScpiError {
    int code = 0;
    std::string text;
};

// What the language needs of the instrument; the server's implementation finds the device
// again after an unplug, tests record.
class ScpiDevice {
  public:
    virtual ~ScpiDevice() = default;
    // Empty on success, else -240 (hardware error) or -241 (hardware missing).
    virtual std::optional<ScpiError> Send(const OutputReport& report) = 0;
    virtual std::optional<std::string> Version() = 0;
};

inline constexpr std::size_t kErrorQueueSize = 16;

// One connection: its own error queue and event status.
struct ScpiClient {
    std::deque<ScpiError> errors;
    std::uint8_t esr = 0;  // standard event status register
    std::uint8_t ese = 0;  // its enable mask
    std::string path;      // header path the next relative header starts from

    void Push(int code, std::string text);
};

struct ScpiInstrument {
    TuningWord word = ComputeTuningWord(1e6);
    bool output = false;
    SweepRequest sweep{1e6, 10e6, 11, std::nullopt, 0.01, false, 1};
    bool continuous = false;
    bool sweeping = false;
};

struct ScpiOutcome {
    std::string response;  // the query answers joined by ';', empty when there were none
    enum class Sweep { None, Start, Abort } sweep = Sweep::None;
};

class ScpiEngine {
  public:
    explicit ScpiEngine(ScpiDevice& device) : device_(device) {}

    ScpiOutcome Execute(ScpiClient& client, std::string_view line);
    ScpiInstrument& instrument() { return instrument_; }
    // The report that gives the output its set state (frequency report or stop report).
    OutputReport SteadyReport() const;

  private:
    ScpiDevice& device_;
    ScpiInstrument instrument_;
};

// "1.25E+07"-style text of a double: shortest round-trip form, for responses.
std::string FormatNumber(double value);

}  // namespace tovrik::cli
