// The instrument, apart from any protocol: the SCPI engine over a bank of channels, and a
// session per client. A front end (the raw socket; VXI-11 or an HTTP page next) turns bytes
// into lines for a session and its answers back into bytes; it knows nothing of devices.
// Runs on one thread, the one `post` runs callbacks on; discovery and the workers post to it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/instrument/bank.h"
#include "cli/scpi.h"
#include "cli/state_file.h"

namespace tovrik::cli {

class Session;

class Instrument {
  public:
    using Post = Bank::Post;

    Instrument(DevicePlatform& platform, Post post);
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // One TOVRIK, opened already: a bank of one that admits only it, found again by its
    // serial number when it comes back.
    void ServeOne(std::unique_ptr<ReconnectingDevice> device, const HotplugSource& watch);
    // Every TOVRIK as a channel; those present now are numbered in enumeration order.
    void ServeAll(const HotplugSource& watch);
    // What the listening line names: the device, or the bank's channels.
    std::string Served() const;
    // The serial number *IDN? reports: channel 1's, "0" while there is none.
    std::string Serial() const;

    std::unique_ptr<Session> Open();
    // The language of the sessions opened from now on.
    void SetDialect(Dialect dialect) { dialect_ = dialect; }

    // Calls `changed` on the instrument's thread after a command, a device arriving or leaving
    // or a sweep ending changed a channel's frequency, output, sweep or presence. A front end
    // that shows the state (a web page) asks again then instead of polling.
    void Watch(std::function<void()> changed) { watchers_.push_back(std::move(changed)); }

    // Ends every sweep and sends the stop report to every device, at once and bounded; false
    // when one could not take it (each named on `err`).
    bool Stop(std::ostream& err);

  private:
    friend class Session;
    void Carry(const DeviceOrder& order, DeviceWorker::Done done);
    void Follow();
    void SweepEnded(unsigned channel, std::uint64_t id, const std::optional<ScpiError>& error);
    // Resumes the sessions whose *WAI or *OPC? waited for a sweep that is over.
    void ReleaseWaits();

    void Changed();

    // Whether `session` may not use `channel` (0: the whole instrument) for another's lock.
    bool LockedOut(const Session& session, unsigned channel) const;

    ScpiEngine engine_;
    Dialect dialect_ = Dialect::Scpi;
    FileStateStore states_{DefaultStateDirectory()};
    std::vector<std::function<void()>> watchers_;
    std::string shown_;  // what the watchers last heard of, to tell a change
    std::set<Session*> sessions_;
    std::map<const Session*, unsigned> locks_;  // exclusive locks a front end took, by channel
    Bank bank_;                                 // last: its threads call back into what is above
};

// One client's view of the instrument: its error queue, status and selected channel, and the
// line it runs. A front end feeds it lines, one unit at a time, so that clients take turns.
class Session {
  public:
    explicit Session(Instrument& instrument);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts a line; the previous one must be done.
    void Begin(std::string_view line);
    // Runs the next unit (';'-separated command) of the line; `then` runs on the instrument's
    // thread once it finished, at once or after the device took an order. The session must
    // live until then: capture its owner in `then`.
    void Step(std::function<void()> then);
    bool LineDone() const { return ScpiEngine::LineDone(client_); }
    // The answers of the finished line, joined by ';'; empty when there were none.
    std::string TakeResponse() { return ScpiEngine::TakeResponse(client_); }
    // An error the front end found (a line too long), for SYST:ERR?.
    void Push(ScpiCode code) { client_.Push(code); }
    // The IEEE 488.2 status byte, as *STB? answers it.
    std::uint8_t StatusByte() const { return cli::StatusByte(client_); }

    // For front ends with device-level operations (VXI-11).
    // The 488.2 status byte; the front end knows whether an answer waits (MAV).
    std::uint8_t StatusByte(bool messageAvailable) const;
    // The channel headers without a suffix address, as INST:NSEL sets it.
    void Select(unsigned channel) { client_.channel = channel; }
    // An exclusive lock on a channel (0: every channel): while held, other sessions' lines
    // that address it are refused with -200, but for lines of queries alone. False when another
    // session's lock is in the way.
    bool Lock(unsigned channel);
    void Unlock();
    // Whether another session's lock shuts this one out of `channel` (0: of any channel).
    bool LockedOut(unsigned channel) const;
    // The channels where a sweep this session started still runs (a device clear ends them).
    std::vector<unsigned> SweepsRunning() const;

  private:
    friend class Instrument;
    bool probed_ = false;     // this line waited for discovery once already
    Instrument* instrument_;  // none once the instrument is gone (a session outlives it at exit)
    ScpiClient client_;
    std::function<void()> waiting_;             // the Step's `then` while *WAI waits for a sweep
    std::map<unsigned, std::uint64_t> sweeps_;  // the last sweep this session started, by channel
};

}  // namespace tovrik::cli
