#include "cli/instrument/instrument.h"

#include <algorithm>
#include <ostream>

#include "cli/devices.h"

namespace tovrik::cli {

Instrument::Instrument(DevicePlatform& platform, Post post)
    : bank_(platform, std::move(post),
            {[this](const std::string& name, std::optional<std::string> version) {
                 return engine_.Arrive(name, std::move(version));
             },
             [this](unsigned channel) { engine_.Leave(channel); },
             [this](unsigned channel, std::uint64_t id, const std::optional<ScpiError>& error) {
                 SweepEnded(channel, id, error);
             }}) {}

Instrument::~Instrument() {
    for (Session* session : sessions_) session->instrument_ = nullptr;
}

void Instrument::ServeOne(std::unique_ptr<ReconnectingDevice> device, const HotplugSource& watch) {
    const std::string name = DeviceName(device->serial(), device->path());
    engine_.SetVersion(device->Version());
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
}

// A failure nobody's command caused goes to every client.
void Instrument::SweepEnded(unsigned channel, std::uint64_t id,
                            const std::optional<ScpiError>& error) {
    engine_.SweepEnded(id, channel);
    Follow();
    if (!error) return;
    ScpiError named = *error;
    // A bank's clients need to know which channel's sweep failed.
    if (engine_.bank()) named.text += "; channel " + std::to_string(channel);
    for (Session* session : sessions_) session->client_.Push(named);
}

Session::Session(Instrument& instrument) : instrument_(&instrument) {
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
    if (const auto order = instrument.engine_.Step(client_)) {
        if (order->kind == DeviceOrder::Kind::Sweep) sweeps_[order->channel] = order->sweepId;
        instrument.Carry(*order, [this, then = std::move(then)](std::optional<ScpiError> error) {
            instrument_->engine_.Finish(client_, error);
            instrument_->Follow();
            then();
        });
        return;
    }
    instrument.Follow();
    then();
}

}  // namespace tovrik::cli
