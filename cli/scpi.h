// The SCPI command language of `tovrikctl serve`, apart from any socket: a line goes in,
// the response line, the errors and the device reports come out.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/scpi_errors.h"
#include "cli/sweep.h"
#include "device/reports.h"

namespace tovrik::cli {

struct ScpiError {
    int code = 0;
    std::string text;
};

// "<code>" with its standard text, and "; <detail>" after it when there is one.
ScpiError MakeError(ScpiCode code, std::string_view detail = {});

// What the instrument must do to the device before a command is complete.
struct DeviceOrder {
    enum class Kind {
        Write,  // end any sweep, then send `report`
        Sweep,  // run `plan`, then send the report of the set state
    } kind = Kind::Write;
    OutputReport report{};
    SweepPlan plan{};
    std::uint64_t sweepId = 0;
    unsigned channel = 1;  // whose device
};

// Carries out orders at once; the synchronous driver for tests and the fuzzer.
class ScpiDevice {
  public:
    virtual ~ScpiDevice() = default;
    // Empty on success, else -240 (hardware error) or -241 (hardware missing).
    virtual std::optional<ScpiError> Carry(const DeviceOrder& order) = 0;
};

inline constexpr std::size_t kErrorQueueSize = 16;
// STATus:OPERation:CONDition? bit of a channel whose sweep runs.
inline constexpr unsigned kOperationSweeping = 8;

struct ScpiInstrument;

// The languages a session understands: SCPI, or SCPI with Siglent's generator commands as an
// oscilloscope's Bode plot sends them.
enum class Dialect { Scpi, Sdg };

// One connection: its own error queue and event status, and the line it is executing.
struct ScpiClient {
    std::deque<ScpiError> errors;
    std::uint8_t esr = 0;  // standard event status register
    std::uint8_t ese = 0;  // its enable mask
    std::uint8_t sre = 0;  // service request enable
    std::string path;      // header path the next relative header starts from
    unsigned channel = 1;  // INSTrument:NSELect: where a header without a suffix goes
    Dialect dialect = Dialect::Scpi;

    // The line in progress: its text, where the next unit starts, the answers so far.
    std::string line;
    std::size_t next = 0;
    bool lineOpen = false;
    std::vector<std::string> answers;
    // What a unit waiting for the device does once the order was carried out (ok or not).
    std::function<void(ScpiInstrument&, bool ok)> pending;
    unsigned pendingChannel = 1;  // whose instrument `pending` updates
    // *WAI or *OPC? waits for this channel's single sweep (this id) to end.
    struct SweepWait {
        unsigned channel = 1;
        std::uint64_t sweepId = 0;
    };
    std::optional<SweepWait> waitFor;

    void Push(ScpiError error);
    void Push(ScpiCode code, std::string_view detail = {}) { Push(MakeError(code, detail)); }
};

enum class FrequencyMode { Cw, Sweep, List };

// What a Siglent-dialect client sets beside the frequency. The device has no amplitude,
// offset, phase or load control: kept so that queries report what was given.
struct SdgSettings {
    double amplitude = 4;            // volts peak to peak
    double offset = 0;               // volts
    double phase = 0;                // degrees
    std::optional<double> loadOhms;  // none: high impedance
};

struct ScpiInstrument {
    TuningWord word = ComputeTuningWord(kDefaultFrequencyHz);
    bool output = false;
    bool suspended = false;  // the power-saving report was the last one sent
    SweepRequest sweep{kDefaultStartHz,
                       kDefaultStopHz,
                       kDefaultSweepPoints,
                       std::nullopt,
                       kDefaultDwellSeconds,
                       false,
                       1};
    bool continuous = false;
    bool sweeping = false;
    std::uint64_t sweepId = 0;  // the sweep running or last started
    FrequencyMode mode = FrequencyMode::Cw;
    bool down = false;    // SWEep:DIRection DOWN
    bool manual = false;  // SWEep:MODE MANual
    std::vector<double> listHz;
    std::vector<double> listDwell{kDefaultDwellSeconds};
    bool listDown = false;
    bool busTrigger = false;     // TRIGger:SOURce BUS: sweeps wait for *TRG
    bool negativeSlope = false;  // accepted and kept: there is no trigger input
    SdgSettings sdg;
};

// The status byte *STB? answers and VXI-11's readstb returns.
std::uint8_t StatusByte(const ScpiClient& client);

// Where *SAV keeps a channel's settings, by the channel's name (its serial number).
class ScpiStateStore {
  public:
    virtual ~ScpiStateStore() = default;
    // An error (-250 with its cause) when the slot could not be read or written.
    virtual std::optional<ScpiError> Save(const std::string& name, unsigned slot,
                                          const std::string& state) = 0;
    // The state saved, none when the slot is empty, or an error.
    virtual std::variant<std::optional<std::string>, ScpiError> Recall(const std::string& name,
                                                                       unsigned slot) = 0;
};

// One channel: a TOVRIK, known by name, and the state SCPI gives it, kept while it is away.
struct ScpiChannel {
    std::string name;  // serial number, or the path of a device without one
    std::optional<std::string> version;
    ScpiInstrument instrument;
    bool present = true;
};

// Who the instrument says it is: *IDN?'s first two fields, and the mDNS announcement's.
inline constexpr std::string_view kManufacturer = "TOVRIK";
inline constexpr std::string_view kModel = "TOVRIK DDS";

// Channel suffixes a bank accepts: SOURce1 to SOURce99.
inline constexpr unsigned kMaxChannels = 99;

// The report the device must have received last whenever no sweep runs: the one rule the
// server keeps between the device and what OUTP? and FREQ? answer.
OutputReport SteadyReport(const ScpiInstrument& instrument);

struct ScpiOutcome {
    std::string response;  // the query answers joined by ';', empty when there were none
};

class ScpiEngine {
  public:
    ScpiEngine() = default;
    explicit ScpiEngine(ScpiDevice& device) : device_(&device) {}

    // The whole line, each order carried out by the device given at construction.
    ScpiOutcome Execute(ScpiClient& client, std::string_view line);

    // The same one unit (';'-separated command) at a time, for a server that interleaves
    // clients and carries orders out elsewhere: Begin, then Step until the line is done.
    // A Step that returns an order waits for Finish with the order's outcome.
    void Begin(ScpiClient& client, std::string_view line);
    std::optional<DeviceOrder> Step(ScpiClient& client);
    void Finish(ScpiClient& client, const std::optional<ScpiError>& error);
    static bool LineDone(const ScpiClient& client) {
        return !client.lineOpen && !client.pending && !client.waitFor;
    }
    // Ends a *WAI whose sweep is over; true when the client waited.
    bool ReleaseWait(ScpiClient& client);
    void SetStateStore(ScpiStateStore* store) { store_ = store; }
    // The answers of the finished line, joined by ';'.
    static std::string TakeResponse(ScpiClient& client);

    // A sweep ended by itself or by a failed write; a stale id (a newer sweep runs) is ignored.
    void SweepEnded(std::uint64_t sweepId, unsigned channel = 1);

    ScpiInstrument& instrument(unsigned channel = 1) {
        return channels_.at(channel - 1).instrument;
    }
    const ScpiInstrument& instrument(unsigned channel = 1) const {
        return channels_.at(channel - 1).instrument;
    }
    // The firmware version and serial *IDN? reports, read once when the device was opened: the
    // device is served by identity, so they stay right while it is away.
    void SetVersion(std::optional<std::string> version) {
        // Not a move-assignment of the optional: GCC 12 under ASan warns that a moved-from
        // nullopt's string "may be used uninitialized", and warnings are errors.
        std::optional<std::string>& kept = channels_.front().version;
        if (version) {
            kept.emplace(std::move(*version));
        } else {
            kept.reset();
        }
    }
    void SetName(std::string name) { channels_.front().name = std::move(name); }

    // A bank of TOVRIKs: no channel until one arrives, suffixes beyond 1.
    void MakeBank() {
        bank_ = true;
        channels_.clear();
    }
    // A device is there: the number it had before (by name), else the next one.
    unsigned Arrive(const std::string& name, std::optional<std::string> version);
    // Its device went away: commands for it fail with -241 until it is back.
    void Leave(unsigned channel) { channels_.at(channel - 1).present = false; }
    const std::vector<ScpiChannel>& channels() const { return channels_; }
    bool bank() const { return bank_; }

  private:
    ScpiDevice* device_ = nullptr;
    std::vector<ScpiChannel> channels_{1};
    bool bank_ = false;
    std::uint64_t sweeps_ = 0;
    ScpiStateStore* store_ = nullptr;
};

// "1.25E+07"-style text of a double: shortest round-trip form, for responses.
std::string FormatNumber(double value);

}  // namespace tovrik::cli
