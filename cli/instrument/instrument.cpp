#include "cli/instrument/instrument.h"

#include <algorithm>
#include <ostream>

#include "cli/devices.h"

namespace tovrik::cli {

Instrument::Instrument(DevicePlatform& platform, Post post)
    : bank_(platform, std::move(post),
            {[this](const std::string& name, std::optional<std::string> version) {
                 const unsigned channel = engine_.Arrive(name, std::move(version));
                 Changed();
                 return channel;
             },
             [this](unsigned channel) {
                 engine_.Leave(channel);
                 Changed();
             },
             [this](unsigned channel, std::uint64_t id, const std::optional<ScpiError>& error) {
                 SweepEnded(channel, id, error);
             }}) {
    engine_.SetStateStore(&states_);
}

Instrument::~Instrument() {
    // A waiting `then` holds its connection, which holds the session: dropped after the loop.
    std::vector<std::function<void()>> waits;
    for (Session* session : sessions_) {
        session->instrument_ = nullptr;
        waits.push_back(std::move(session->waiting_));
    }
}

void Instrument::ServeOne(std::unique_ptr<ReconnectingDevice> device, const HotplugSource& watch) {
    const std::string name = DeviceName(device->serial(), device->path());
    engine_.SetVersion(device->Version().value());
    engine_.SetName(name);
    bank_.Serve(name, std::move(device), watch);
}

void Instrument::ServeAll(const HotplugSource& watch) {
    engine_.MakeBank();
    bank_.Serve(std::nullopt, nullptr, watch);
}

std::string Instrument::Served() const {
    if (!engine_.bank()) return bank_.path(1);
    const auto& channels = engine_.channels();
    std::string text = std::to_string(channels.size()) + " TOVRIK(s)";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        text += (i == 0 ? ": " : ", ") + std::to_string(i + 1) + "=" + channels[i].name;
    }
    return text;
}

std::string Instrument::Serial() const {
    const auto& channels = engine_.channels();
    return channels.empty() || channels.front().name.empty() ? "0" : channels.front().name;
}

std::unique_ptr<Session> Instrument::Open() {
    return std::make_unique<Session>(*this);
}

bool Instrument::Stop(std::ostream& err) {
    bool stopped = true;
    for (const auto& failure : bank_.Stop(Bank::Clock::now() + std::chrono::seconds(2))) {
        // A bank's device that left was unplugged: it has nothing on. The one device a
        // plain `serve` was given is another matter.
        if (engine_.bank() && failure.error.code == static_cast<int>(ScpiCode::HardwareMissing))
            continue;
        err << "tovrikctl: " << failure.path << ": the stop report could not be sent ("
            << failure.error.text << "); the output may still be on\n";
        stopped = false;
    }
    return stopped;
}

void Instrument::Carry(const DeviceOrder& order, DeviceWorker::Done done) {
    bank_.Carry(order, std::move(done));
}

void Instrument::Follow() {
    for (unsigned channel = 1; channel <= bank_.size(); ++channel) {
        const ScpiInstrument& instrument = engine_.instrument(channel);
        bank_.Follow(channel, SteadyReport(instrument), instrument.continuous);
    }
    ReleaseWaits();
}

void Instrument::ReleaseWaits() {
    std::vector<std::function<void()>> resume;
    for (Session* session : sessions_) {
        if (session->waiting_ && engine_.ReleaseWait(session->client_)) {
            resume.push_back(std::move(session->waiting_));
            session->waiting_ = nullptr;
        }
    }
    for (const auto& then : resume) then();
}

// A failure nobody's command caused goes to every client.
void Instrument::SweepEnded(unsigned channel, std::uint64_t id,
                            const std::optional<ScpiError>& error) {
    engine_.SweepEnded(id, channel);
    Follow();
    Changed();
    if (!error) return;
    ScpiError named = *error;
    // A bank's clients need to know which channel's sweep failed.
    if (engine_.bank()) named.text += "; channel " + std::to_string(channel);
    for (Session* session : sessions_) session->client_.Push(named);
}

void Instrument::Changed() {
    if (watchers_.empty()) return;
    std::string now;
    for (const ScpiChannel& c : engine_.channels()) {
        const ScpiInstrument& i = c.instrument;
        now += c.name + '\0' + std::to_string(i.word) + ' ' + char('0' + i.output) +
               char('0' + i.suspended) + char('0' + i.continuous) + char('0' + i.sweeping) +
               char('0' + c.present) + '\n';
    }
    if (now == shown_) return;
    shown_ = std::move(now);
    for (const auto& changed : watchers_) changed();
}

Session::Session(Instrument& instrument) : instrument_(&instrument) {
    client_.dialect = instrument.dialect_;
    instrument_->sessions_.insert(this);
}

bool Instrument::LockedOut(const Session& session, unsigned channel) const {
    for (const auto& [holder, locked] : locks_) {
        if (holder != &session && (locked == 0 || channel == 0 || locked == channel)) return true;
    }
    return false;
}

Session::~Session() {
    if (instrument_ == nullptr) return;
    instrument_->sessions_.erase(this);
    instrument_->locks_.erase(this);
}

void Session::Begin(std::string_view line) {
    probed_ = false;
    // A line of a client shut out by another's lock is not run at all, unless it only asks:
    // queries change nothing, and the client must be able to read why it was refused.
    const auto onlyQueries = [](std::string_view text) {
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t end = std::min(text.find(';', start), text.size());
            if (text.substr(start, end - start).find('?') == std::string_view::npos) return false;
            start = end + 1;
        }
        return true;
    };
    if (instrument_->LockedOut(*this, client_.channel) && !onlyQueries(line)) {
        client_.Push(ScpiError{-200, "Execution error; the channel is locked by another client"});
        line = {};
    }
    instrument_->engine_.Begin(client_, line);
}

std::uint8_t Session::StatusByte(bool messageAvailable) const {
    std::uint8_t stb = client_.errors.empty() ? 0 : 0x04;
    if (messageAvailable) stb |= 0x10;
    if ((client_.esr & client_.ese) != 0) stb |= 0x20;
    return stb;
}

bool Session::Lock(unsigned channel) {
    if (instrument_ == nullptr || instrument_->LockedOut(*this, channel)) return false;
    instrument_->locks_[this] = channel;
    return true;
}

bool Session::LockedOut(unsigned channel) const {
    return instrument_ != nullptr && instrument_->LockedOut(*this, channel);
}

std::vector<unsigned> Session::SweepsRunning() const {
    std::vector<unsigned> channels;
    if (instrument_ == nullptr) return channels;
    for (const auto& [channel, id] : sweeps_) {
        const ScpiInstrument& state = instrument_->engine_.instrument(channel);
        if (state.sweeping && state.sweepId == id) channels.push_back(channel);
    }
    return channels;
}

void Session::Unlock() {
    if (instrument_ != nullptr) instrument_->locks_.erase(this);
}

void Session::Step(std::function<void()> then) {
    Instrument& instrument = *instrument_;
    if (!probed_) {
        probed_ = true;
        instrument.bank_.Probe([this, then = std::move(then)] { Step(then); });
        return;
    }
    if (const auto order = instrument.engine_.Step(client_)) {
        if (order->kind == DeviceOrder::Kind::Sweep) sweeps_[order->channel] = order->sweepId;
        instrument.Carry(*order,
                         [this, then = std::move(then)](const std::optional<ScpiError>& error) {
                             instrument_->engine_.Finish(client_, error);
                             instrument_->Follow();
                             instrument_->Changed();
                             then();
                         });
        return;
    }
    if (client_.waitFor) {
        waiting_ = std::move(then);  // Follow resumes it once the sweep is over
        instrument.Follow();
        return;
    }
    instrument.Follow();
    instrument.Changed();
    then();
}

}  // namespace tovrik::cli
