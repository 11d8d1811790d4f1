#include "cli/server.h"

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "cli/app.h"
#include "cli/device_worker.h"
#include "cli/listener.h"
#include "cli/scpi.h"
#include "cli/stop_requests.h"
#include "device/enumeration.h"
#include "device/reconnecting_device.h"

namespace tovrik::cli {

std::optional<std::size_t> ChooseEviction(const std::vector<ClientActivity>& clients,
                                          ClientActivity::Clock::time_point now,
                                          std::chrono::seconds idle) {
    const auto pick = [&](auto eligible, auto since) -> std::optional<std::size_t> {
        std::optional<std::size_t> best;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            const ClientActivity& c = clients[i];
            if (c.busy || !eligible(c)) continue;
            if (!best || since(c) < since(clients[*best])) best = i;
        }
        return best;
    };
    if (auto trickler = pick([](const auto& c) { return !c.completedLine && c.partialSince; },
                             [](const auto& c) { return *c.partialSince; })) {
        return trickler;
    }
    const auto mute = std::min<ClientActivity::Clock::duration>(idle, kLineDeadline);
    if (auto silent = pick(
            [&](const auto& c) {
                return !c.completedLine && !c.partialSince && now - c.connected >= mute;
            },
            [](const auto& c) { return c.connected; })) {
        return silent;
    }
    return pick([&](const auto& c) { return !c.partialSince && now - c.lastHeard >= idle; },
                [](const auto& c) { return c.lastHeard; });
}

bool LooksLikeHttp(std::string_view line) {
    const auto startsWith = [&](std::string_view prefix) {
        if (line.size() < prefix.size()) return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(line[i])) != prefix[i]) return false;
        }
        return true;
    };
    if (startsWith("HOST:")) return true;
    if (line.find(" HTTP/1.") == std::string_view::npos) return false;
    static constexpr std::array<std::string_view, 5> kMethods = {"GET ", "POST ", "PUT ",
                                                                 "OPTIONS ", "HEAD "};
    return std::any_of(kMethods.begin(), kMethods.end(), startsWith);
}

namespace {

// 16 bytes of an address, IPv4 (mapped into IPv6 too) in the first 4 with v6 false.
std::optional<AddressRange> AddressBytes(std::string_view text) {
    asio::error_code ec;
    asio::ip::address address = asio::ip::make_address(std::string(text), ec);
    if (ec) return std::nullopt;
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    AddressRange range;
    range.v6 = address.is_v6();
    if (range.v6) {
        range.bytes = address.to_v6().to_bytes();
    } else {
        const auto v4 = address.to_v4().to_bytes();
        std::copy(v4.begin(), v4.end(), range.bytes.begin());
    }
    range.prefix = range.v6 ? 128 : 32;
    return range;
}

}  // namespace

std::optional<AddressRange> ParseAddressRange(std::string_view text) {
    const std::size_t slash = text.find('/');
    auto range = AddressBytes(text.substr(0, slash));
    if (!range || slash == std::string_view::npos) return range;
    const std::string_view digits = text.substr(slash + 1);
    unsigned prefix = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
        prefix > range->prefix) {
        return std::nullopt;
    }
    range->prefix = prefix;
    return range;
}

bool InRange(const AddressRange& range, std::string_view address) {
    const auto client = AddressBytes(address);
    if (!client || client->v6 != range.v6) return false;
    for (unsigned bit = 0; bit < range.prefix; ++bit) {
        const unsigned mask = 0x80u >> (bit % 8);
        if ((client->bytes[bit / 8] & mask) != (range.bytes[bit / 8] & mask)) return false;
    }
    return true;
}

std::string Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (u >= 0x20 && u < 0x7F && ch != '\\') {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

class Server;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(Server& server, tcp::socket socket) : server_(server), socket_(std::move(socket)) {}
    void Start() { Read(); }
    void Close() {
        asio::error_code ignored;
        socket_.close(ignored);
    }
    bool open() const { return socket_.is_open(); }
    void Deliver(std::string text);
    // The next whole line to run, if any; reading resumes once there is room again.
    std::optional<std::string> TakeLine();
    ClientActivity activity() const {
        return {connected_, lastHeard_, partialSince_, completedLine_,
                !lines_.empty() || !ScpiEngine::LineDone(client)};
    }
    std::string peer() const { return peer_; }

    ScpiClient client;
    bool scheduled = false;

  private:
    void Read();
    void Consume(std::size_t n);
    void Write();

    Server& server_;
    tcp::socket socket_;
    std::string peer_;
    std::array<char, 2048> buffer_{};
    std::string line_;
    bool discarding_ = false;
    bool reading_ = false;
    std::deque<std::string> lines_;
    std::deque<std::string> pending_;
    std::size_t pendingBytes_ = 0;
    Clock::time_point connected_ = Clock::now();
    Clock::time_point lastHeard_ = connected_;
    std::optional<Clock::time_point> partialSince_;
    bool completedLine_ = false;
    bool firstLine_ = true;
};

// Notices TOVRIKs arriving and leaving, on a thread of its own, since telling a new interface
// apart opens it. With the system's hot-plug word it rescans when a device comes or goes (and
// every kFallbackRescan, for a device another program held); without, every kRescanInterval.
// Callbacks run on that thread.
class Discovery {
  public:
    using Arrived = std::function<void(const std::string& path, const DeviceIdentity&)>;
    using Left = std::function<void(const std::string& path)>;
    static constexpr std::chrono::milliseconds kRescanInterval{250};
    static constexpr std::chrono::milliseconds kFallbackRescan{1000};

    Discovery(DevicePlatform& platform, std::unique_ptr<HotplugMonitor> monitor, Arrived arrived,
              Left left)
        : platform_(platform),
          monitor_(std::move(monitor)),
          arrived_(std::move(arrived)),
          left_(std::move(left)) {}
    ~Discovery() { Stop(); }
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // One pass: those gone first, then the new ones in enumeration order. `removed` left
    // whether or not their path is back: a device replugged between two passes is a new one.
    void Scan(const std::vector<std::string>& removed = {}) {
        // Those seen before and not removed since are not opened again.
        const auto stays = [&](const std::string& path) {
            return seen_.count(path) != 0 &&
                   std::find(removed.begin(), removed.end(), path) == removed.end();
        };
        const std::vector<HidInterface> interfaces =
            EnumerateDevices(platform_, {Probe::SerialAndVersion, 0, false, stays});
        for (auto it = seen_.begin(); it != seen_.end();) {
            const bool present =
                std::any_of(interfaces.begin(), interfaces.end(),
                            [&](const HidInterface& i) { return i.path == it->first; });
            if (present && stays(it->first)) {
                ++it;
                continue;
            }
            if (it->second) left_(it->first);
            it = seen_.erase(it);
        }
        for (const HidInterface& found : interfaces) {
            // A TOVRIK another program holds is tried again on the next pass.
            if (!found.probed || found.refusal) continue;
            seen_[found.path] = found.tovrik;
            if (found.tovrik) arrived_(found.path, found.identity);
        }
    }

    void Start() {
        thread_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            while (!stopping_) {
                std::vector<std::string> removed;
                if (monitor_) {
                    lock.unlock();
                    if (auto changes = monitor_->Wait(kFallbackRescan))
                        removed = std::move(changes->removed);
                    lock.lock();
                    if (stopping_) break;
                } else if (wake_.wait_for(lock, kRescanInterval, [this] { return stopping_; })) {
                    break;
                }
                lock.unlock();
                Scan(removed);
                lock.lock();
            }
        });
    }

    void Stop() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (monitor_) monitor_->Interrupt();
        if (thread_.joinable()) thread_.join();
    }

  private:
    DevicePlatform& platform_;
    const std::unique_ptr<HotplugMonitor> monitor_;
    const Arrived arrived_;
    const Left left_;
    std::map<std::string, bool> seen_;  // path: a TOVRIK or not; discovery thread only
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// One channel's device and the thread that does its I/O.
struct Slot {
    std::unique_ptr<ReconnectingDevice> device;
    std::unique_ptr<DeviceWorker> worker;
};

class Server {
  public:
    Server(asio::io_context& io, const tcp::endpoint& endpoint, std::chrono::seconds idleLimit,
           std::vector<AddressRange> allowed, std::ostream& err)
        : io_(io),
          acceptor_(OpenListener(io, endpoint)),
          housekeeping_(io),
          idleLimit_(idleLimit),
          allowed_(std::move(allowed)),
          err_(err) {}

    // The one TOVRIK of a plain `serve`, open already.
    void ServeOne(std::unique_ptr<ReconnectingDevice> device) {
        engine_.SetVersion(device->Version().value());
        engine_.SetName(DeviceName(device->serial(), device->path()));
        AddSlot(std::move(device));
    }

    // `serve --all`: those present now are numbered in enumeration order before any client
    // is served; later arrivals and removals come from the discovery thread.
    void ServeAll(DevicePlatform& platform, const HotplugSource& watch) {
        engine_.MakeBank();
        // Watching before the first pass, so that nothing between the two goes unheard.
        discovery_ = std::make_unique<Discovery>(
            platform, watch ? watch() : nullptr,
            [this, &platform](const std::string& path, const DeviceIdentity& identity) {
                if (!started_) return Arrive(platform, path, identity);
                asio::post(io_,
                           [this, &platform, path, identity] { Arrive(platform, path, identity); });
            },
            [this](const std::string& path) { asio::post(io_, [this, path] { Leave(path); }); });
        discovery_->Scan();
        started_ = true;
        discovery_->Start();
    }

    // What the listening line names: the device, or the bank's channels.
    std::string Served() const {
        const auto& channels = engine_.channels();
        if (slots_.size() == 1 && discovery_ == nullptr) return slots_.front().device->path();
        std::string text = std::to_string(channels.size()) + " TOVRIK(s)";
        for (std::size_t i = 0; i < channels.size(); ++i) {
            text += (i == 0 ? ": " : ", ") + std::to_string(i + 1) + "=" + channels[i].name;
        }
        return text;
    }

    tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
    std::ostream& err() { return err_; }

    void Accept() {
        acceptor_.async_accept([this](asio::error_code ec, tcp::socket socket) {
            if (ec) {
                if (ec != asio::error::operation_aborted) Accept();
                return;
            }
            if (!Allowed(socket)) {
                asio::error_code ignored;
                socket.close(ignored);
            } else if (connections_.size() >= kMaxConnections && !EvictOne()) {
                asio::error_code ignored;
                socket.close(ignored);
            } else {
                auto connection = std::make_shared<Connection>(*this, std::move(socket));
                connections_.insert(connection);
                connection->Start();
            }
            Accept();
        });
        Housekeep();
    }

    // Ends any sweep and sends the stop report to every device; false (and why on stderr)
    // when one could not take it.
    bool Stop() {
        asio::error_code ignored;
        acceptor_.close(ignored);
        housekeeping_.cancel();
        if (discovery_) discovery_->Stop();
        for (const auto& c : connections_) c->Close();
        connections_.clear();
        bool stopped = true;
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            const auto error = slots_[i].worker->Finish(BuildStopReport(), deadline);
            // A bank's device that is away has nothing on.
            if (!error ||
                (discovery_ && error->code == static_cast<int>(ScpiCode::HardwareMissing))) {
                continue;
            }
            err_ << "tovrikctl: " << slots_[i].device->path()
                 << ": the stop report could not be sent (" << error->text
                 << "); the output may still be on\n";
            stopped = false;
        }
        return stopped;
    }

    void Forget(const std::shared_ptr<Connection>& connection) { connections_.erase(connection); }

    // A connection has a whole line waiting, or its line goes on: it gets a turn.
    void Schedule(const std::shared_ptr<Connection>& connection) {
        if (connection->scheduled) return;
        connection->scheduled = true;
        ready_.push_back(connection);
        Kick();
    }

  private:
    void AddSlot(std::unique_ptr<ReconnectingDevice> device) {
        const auto channel = static_cast<unsigned>(slots_.size() + 1);
        auto worker = std::make_unique<DeviceWorker>(
            *device, BuildStopReport(),
            [this](std::function<void()> f) { asio::post(io_, std::move(f)); },
            [this, channel](std::uint64_t id, const std::optional<ScpiError>& error) {
                SweepEnded(channel, id, error);
            });
        slots_.push_back({std::move(device), std::move(worker)});
    }

    void Arrive(DevicePlatform& platform, const std::string& path, const DeviceIdentity& identity) {
        const unsigned channel =
            engine_.Arrive(DeviceName(identity.serial, path), identity.version);
        paths_[path] = channel;
        if (channel > slots_.size()) {
            AddSlot(
                std::make_unique<ReconnectingDevice>(platform, ReconnectPolicy::ByIdentity, path));
        }
        // A new device is claimed with the stop report; one that is back gets its state again.
        slots_[channel - 1].worker->Revive();
    }

    void Leave(const std::string& path) {
        const auto it = paths_.find(path);
        if (it == paths_.end()) return;
        engine_.Leave(it->second);
        slots_[it->second - 1].worker->Away();
        paths_.erase(it);
    }

    void Kick() {
        if (kicked_ || ready_.empty()) return;
        kicked_ = true;
        asio::post(io_, [this] {
            kicked_ = false;
            RunOne();
            Kick();
        });
    }

    // One unit of one client, then the next client: a long line cannot hold up the others.
    void RunOne() {
        const std::shared_ptr<Connection> connection = ready_.front();
        ready_.pop_front();
        connection->scheduled = false;
        ScpiClient& client = connection->client;
        if (ScpiEngine::LineDone(client)) {
            const auto line = connection->TakeLine();
            if (!line) return;
            engine_.Begin(client, *line);
        }
        if (const auto order = engine_.Step(client)) {
            slots_.at(order->channel - 1)
                .worker->Carry(*order, [this, connection](const std::optional<ScpiError>& error) {
                    engine_.Finish(connection->client, error);
                    AfterUnit(connection);
                });
            return;
        }
        AfterUnit(connection);
    }

    void Follow() {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            const ScpiInstrument& instrument = engine_.instrument(static_cast<unsigned>(i + 1));
            slots_[i].worker->Follow(SteadyReport(instrument), instrument.continuous);
        }
    }

    void AfterUnit(const std::shared_ptr<Connection>& connection) {
        Follow();
        ScpiClient& client = connection->client;
        if (ScpiEngine::LineDone(client)) {
            const std::string response = ScpiEngine::TakeResponse(client);
            if (!response.empty()) connection->Deliver(response + "\n");
        }
        const ClientActivity activity = connection->activity();
        if (activity.busy) Schedule(connection);
    }

    // A failure nobody's command caused goes to every client.
    void SweepEnded(unsigned channel, std::uint64_t id, const std::optional<ScpiError>& error) {
        engine_.SweepEnded(id, channel);
        const ScpiInstrument& instrument = engine_.instrument(channel);
        slots_[channel - 1].worker->Follow(SteadyReport(instrument), instrument.continuous);
        if (!error) return;
        ScpiError named = *error;
        // A bank's clients need to know which channel's sweep failed.
        if (discovery_) named.text += "; channel " + std::to_string(channel);
        for (const auto& c : connections_) c->client.Push(named);
    }

    bool Allowed(const tcp::socket& socket) const {
        if (allowed_.empty()) return true;
        asio::error_code ec;
        const auto peer = socket.remote_endpoint(ec);
        if (ec) return false;
        const std::string address = peer.address().to_string();
        return std::any_of(allowed_.begin(), allowed_.end(),
                           [&](const AddressRange& range) { return InRange(range, address); });
    }

    bool EvictOne() {
        std::vector<std::shared_ptr<Connection>> all(connections_.begin(), connections_.end());
        std::vector<ClientActivity> activities;
        activities.reserve(all.size());
        for (const auto& c : all) activities.push_back(c->activity());
        const auto chosen = ChooseEviction(activities, Clock::now(), idleLimit_);
        if (!chosen) return false;
        all[*chosen]->Close();
        connections_.erase(all[*chosen]);
        return true;
    }

    // Drops clients whose line has taken too long.
    void Housekeep() {
        housekeeping_.expires_after(std::chrono::milliseconds(250));
        housekeeping_.async_wait([this](asio::error_code ec) {
            if (ec) return;
            const auto now = Clock::now();
            for (auto it = connections_.begin(); it != connections_.end();) {
                const auto since = (*it)->activity().partialSince;
                if (since && now - *since > kLineDeadline) {
                    (*it)->Close();
                    it = connections_.erase(it);
                } else {
                    ++it;
                }
            }
            Housekeep();
        });
    }

    asio::io_context& io_;
    ScpiEngine engine_;
    std::vector<Slot> slots_;                // channel n at n - 1
    std::map<std::string, unsigned> paths_;  // where each present channel's device is
    std::unique_ptr<Discovery> discovery_;
    bool started_ = false;  // arrivals from now on come from the discovery thread
    tcp::acceptor acceptor_;
    asio::steady_timer housekeeping_;
    std::chrono::seconds idleLimit_;
    std::vector<AddressRange> allowed_;
    std::ostream& err_;
    std::set<std::shared_ptr<Connection>> connections_;
    std::deque<std::shared_ptr<Connection>> ready_;
    bool kicked_ = false;
};

void Connection::Read() {
    if (reading_ || !socket_.is_open()) return;
    reading_ = true;
    socket_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                self->reading_ = false;
                                if (ec) {
                                    // A line cut off by a disconnect is never executed; whole
                                    // lines before it still are.
                                    self->server_.Forget(self);
                                    self->Close();
                                    return;
                                }
                                self->lastHeard_ = Clock::now();
                                self->Consume(n);
                                if (self->lines_.size() < kMaxQueuedLines) self->Read();
                            });
}

std::optional<std::string> Connection::TakeLine() {
    if (lines_.empty()) return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    if (lines_.size() < kMaxQueuedLines) Read();
    return line;
}

void Connection::Consume(std::size_t n) {
    for (std::size_t i = 0; i < n && socket_.is_open(); ++i) {
        const char c = buffer_[i];
        if (c == '\n') {
            if (!discarding_) {
                if (!line_.empty() && line_.back() == '\r') line_.pop_back();
                if (firstLine_ && LooksLikeHttp(line_)) {
                    server_.err() << "tovrikctl: closed a connection that sent an HTTP request: "
                                  << Printable(line_.substr(0, 200)) << std::endl;
                    server_.Forget(shared_from_this());
                    Close();
                    return;
                }
                lines_.push_back(std::move(line_));
                completedLine_ = true;
            }
            firstLine_ = false;
            discarding_ = false;
            partialSince_.reset();
            line_.clear();
        } else {
            if (!partialSince_) partialSince_ = lastHeard_;
            if (discarding_) continue;
            if (line_.size() >= kMaxLineLength) {
                client.Push(ScpiCode::InputBufferOverrun);
                discarding_ = true;
                line_.clear();
            } else {
                line_ += c;
            }
        }
    }
    if (!lines_.empty()) server_.Schedule(shared_from_this());
}

void Connection::Deliver(std::string text) {
    if (!socket_.is_open()) return;
    pendingBytes_ += text.size();
    if (pendingBytes_ > kMaxPendingOutput) {
        Close();
        server_.Forget(shared_from_this());
        return;
    }
    pending_.push_back(std::move(text));
    if (pending_.size() == 1) Write();
}

void Connection::Write() {
    asio::async_write(socket_, asio::buffer(pending_.front()),
                      [self = shared_from_this()](asio::error_code ec, std::size_t) {
                          if (ec) return self->Close();
                          self->pendingBytes_ -= self->pending_.front().size();
                          self->pending_.pop_front();
                          if (!self->pending_.empty()) self->Write();
                      });
}

}  // namespace

int RunServer(DevicePlatform& platform, const ServerOptions& options,
              const ListeningReport& listening, std::ostream& err, const FailureReport& fail) {
    const std::size_t colon = options.listen.rfind(':');
    asio::error_code ec;
    asio::ip::address address;
    unsigned long port = 0;
    if (colon != std::string::npos) {
        std::string host = options.listen.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);
        }
        address = asio::ip::make_address(host, ec);
        const std::string digits = options.listen.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            ec = asio::error::invalid_argument;
        } else {
            port = std::stoul(digits);
        }
    }
    if (colon == std::string::npos || ec || port > 65535) {
        return fail(kExitUsage, "--listen wants ADDR:PORT, e.g. 127.0.0.1:5025", "usage");
    }
    std::vector<AddressRange> allowed;
    for (const std::string& text : options.allow) {
        const auto range = ParseAddressRange(text);
        if (!range)
            return fail(kExitUsage, "--allow wants ADDR or ADDR/BITS, e.g. 10.0.0.0/8", "usage");
        allowed.push_back(*range);
    }
    std::unique_ptr<ReconnectingDevice> device;
    if (!options.all) {
        const Selection selection = SelectDevice(platform, options.device);
        if (selection.path.empty()) {
            return fail(kExitDevice, selection.error, selection.kind.c_str());
        }
        device = std::make_unique<ReconnectingDevice>(platform, ReconnectPolicy::ByIdentity,
                                                      selection.path);
        if (const DeviceStatus opened = device->Open(); !opened) {
            return fail(kExitDevice, DescribeFailure(platform, selection.path, opened.error().code),
                        FailureKindName(platform, opened.error().code));
        }
    }
    bool stopped = true;
    try {
        asio::io_context io;
        Server server(io, tcp::endpoint(address, static_cast<unsigned short>(port)),
                      std::chrono::seconds(options.idleSeconds), std::move(allowed), err);
        if (device) {
            server.ServeOne(std::move(device));
        } else {
            server.ServeAll(platform, options.watch);
        }
        const StopOnRequest stops(io, [&] {
            stopped = server.Stop();
            io.stop();
        });
        server.Accept();
        const tcp::endpoint bound = server.endpoint();
        const std::string host = bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                         : bound.address().to_string();
        if (address.is_unspecified()) {
            err << "warning: listening on every interface: anyone who can reach port "
                << bound.port() << " can drive the generator, without authentication"
                << (options.allow.empty() ? " (--allow limits who may connect)" : "") << '\n';
        }
        listening(host + ':' + std::to_string(bound.port()), server.Served());
        io.run();
    } catch (const std::exception& e) {
        return fail(kExitDevice, options.listen + ": " + e.what(), "refused");
    }
    return stopped ? kExitOk : kExitDevice;
}

}  // namespace tovrik::cli
