#include "cli/server.h"

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <set>

#include "cli/app.h"
#include "cli/scpi.h"
#include "device/transport.h"

namespace tovrik::cli {
namespace {

using asio::ip::tcp;

// The exclusively held device; one rediscovery and reopen when a write fails.
class HeldDevice : public ScpiDevice {
  public:
    HeldDevice(DevicePlatform& platform, DeviceChoice choice)
        : platform_(platform), choice_(std::move(choice)) {}

    std::string Open() {
        const Selection selection = SelectDevice(platform_, choice_);
        if (selection.path.empty()) return selection.error;
        SystemError error = 0;
        DeviceHandle handle = OpenDevice(platform_, selection.path, &error);
        if (!handle) return DescribeFailure(platform_, selection.path, error);
        const auto ids = platform_.GetIds(handle.native());
        if (!ids || ids->vendorId != kTovrikVendorId || ids->productId != kTovrikProductId) {
            return selection.path + ": not a TOVRIK";
        }
        handle_ = std::move(handle);
        path_ = selection.path;
        return {};
    }

    std::optional<ScpiError> Send(const OutputReport& report) override {
        if (handle_ && platform_.WriteReport(handle_.native(), report) == 0) return std::nullopt;
        handle_.Reset();
        const std::string problem = Open();
        if (!problem.empty()) {
            return ScpiError{problem.find("no TOVRIK") != std::string::npos ? -241 : -240,
                             problem.find("no TOVRIK") != std::string::npos
                                 ? "Hardware missing"
                                 : "Hardware error; " + problem};
        }
        const SystemError error = platform_.WriteReport(handle_.native(), report);
        if (error == 0) return std::nullopt;
        handle_.Reset();
        return ScpiError{-240, "Hardware error; " + path_ + ": " + platform_.Describe(error).text};
    }

    std::optional<std::string> Version() override {
        if (!handle_ && !Open().empty()) return std::nullopt;
        return ReadFirmwareVersion(handle_);
    }

    const std::string& path() const { return path_; }

  private:
    DevicePlatform& platform_;
    DeviceChoice choice_;
    DeviceHandle handle_;
    std::string path_;
};

class Server;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(Server& server, tcp::socket socket)
        : server_(server), socket_(std::move(socket)), client_(std::make_shared<ScpiClient>()) {}
    void Start() { Read(); }
    std::chrono::steady_clock::time_point lastHeard() const { return lastHeard_; }
    void Close() {
        asio::error_code ignored;
        socket_.close(ignored);
    }
    void Deliver(std::string text);

  private:
    void Read();
    void Consume(std::size_t n);
    void Write();

    Server& server_;
    tcp::socket socket_;
    std::shared_ptr<ScpiClient> client_;
    std::array<char, 2048> buffer_{};
    std::string line_;
    bool discarding_ = false;
    std::deque<std::string> pending_;
    std::size_t pendingBytes_ = 0;
    std::chrono::steady_clock::time_point lastHeard_ = std::chrono::steady_clock::now();
};

class Server {
  public:
    Server(asio::io_context& io, HeldDevice& device, tcp::endpoint endpoint,
           std::chrono::seconds idleLimit)
        : device_(device),
          engine_(device),
          acceptor_(io, endpoint),
          timer_(io),
          idleLimit_(idleLimit) {}

    tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
    void Accept() {
        acceptor_.async_accept([this](asio::error_code ec, tcp::socket socket) {
            if (ec) {
                if (ec != asio::error::operation_aborted) Accept();
                return;
            }
            if (connections_.size() >= kMaxConnections && !EvictSilentClient()) {
                asio::error_code ignored;
                socket.close(ignored);
            } else {
                auto connection = std::make_shared<Connection>(*this, std::move(socket));
                connections_.insert(connection);
                connection->Start();
            }
            Accept();
        });
    }
    void Stop() {
        asio::error_code ignored;
        acceptor_.close(ignored);
        timer_.cancel();
        for (const auto& c : connections_) c->Close();
        connections_.clear();
        engine_.instrument().sweeping = false;
        device_.Send(BuildStopReport());
    }
    void Forget(const std::shared_ptr<Connection>& connection) { connections_.erase(connection); }

    // Clients that connect and never send must not lock everybody else out for good.
    bool EvictSilentClient() {
        const auto silent = std::min_element(
            connections_.begin(), connections_.end(),
            [](const auto& a, const auto& b) { return a->lastHeard() < b->lastHeard(); });
        if (silent == connections_.end() ||
            std::chrono::steady_clock::now() - (*silent)->lastHeard() < idleLimit_) {
            return false;
        }
        (*silent)->Close();
        connections_.erase(silent);
        return true;
    }

    std::string Execute(const std::shared_ptr<ScpiClient>& client, std::string_view line) {
        const ScpiOutcome outcome = engine_.Execute(*client, line);
        if (outcome.sweep == ScpiOutcome::Sweep::Start) StartSweep(client);
        if (outcome.sweep == ScpiOutcome::Sweep::Abort) EndSweep(client);
        return outcome.response;
    }

  private:
    void StartSweep(const std::shared_ptr<ScpiClient>& client) {
        const auto planned = MakeSweepPlan(engine_.instrument().sweep);
        if (const auto* error = std::get_if<ParseError>(&planned)) {
            client->Push(-221, "Settings conflict; " + error->message);
            engine_.instrument().continuous = false;
            return;
        }
        plan_ = std::get<SweepPlan>(planned);
        sweepClient_ = client;
        engine_.instrument().sweeping = true;
        sweepStart_ = std::chrono::steady_clock::now();
        slot_ = 0;
        Step();
    }

    // Point k goes out at start + k * dwell: the timer waits for absolute deadlines.
    void Step() {
        ScpiInstrument& instrument = engine_.instrument();
        if (!instrument.sweeping) return;
        const std::uint64_t k = slot_ % plan_.points;
        if (slot_ > 0 && k == 0 && !instrument.continuous) return EndSweep(sweepClient_);
        if (const auto error = device_.Send(BuildFrequencyReport(plan_.WordAt(k)))) {
            sweepClient_->Push(error->code, error->text);
            instrument.continuous = false;
            instrument.sweeping = false;
            return;
        }
        ++slot_;
        timer_.expires_at(sweepStart_ + std::chrono::nanoseconds(slot_ * plan_.DwellNanoseconds()));
        timer_.async_wait([this](asio::error_code ec) {
            if (!ec) Step();
        });
    }

    // Back to the set frequency and output state.
    void EndSweep(const std::shared_ptr<ScpiClient>& client) {
        ScpiInstrument& instrument = engine_.instrument();
        timer_.cancel();
        if (!instrument.sweeping) return;
        instrument.sweeping = false;
        if (const auto error = device_.Send(engine_.SteadyReport())) {
            if (client) client->Push(error->code, error->text);
        }
    }

    HeldDevice& device_;
    ScpiEngine engine_;
    tcp::acceptor acceptor_;
    asio::steady_timer timer_;
    std::chrono::seconds idleLimit_;
    std::set<std::shared_ptr<Connection>> connections_;
    SweepPlan plan_;
    std::shared_ptr<ScpiClient> sweepClient_;
    std::chrono::steady_clock::time_point sweepStart_;
    std::uint64_t slot_ = 0;
};

void Connection::Read() {
    socket_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                if (ec) {
                                    // A line cut off by a disconnect is never executed.
                                    self->server_.Forget(self);
                                    return;
                                }
                                self->lastHeard_ = std::chrono::steady_clock::now();
                                self->Consume(n);
                                if (self->socket_.is_open()) self->Read();
                            });
}

void Connection::Consume(std::size_t n) {
    for (std::size_t i = 0; i < n && socket_.is_open(); ++i) {
        const char c = buffer_[i];
        if (c == '\n') {
            if (!discarding_) {
                if (!line_.empty() && line_.back() == '\r') line_.pop_back();
                const std::string response = server_.Execute(client_, line_);
                if (!response.empty()) Deliver(response + "\n");
            }
            discarding_ = false;
            line_.clear();
        } else if (!discarding_) {
            if (line_.size() >= kMaxLineLength) {
                client_->Push(-363, "Input buffer overrun");
                discarding_ = true;
                line_.clear();
            } else {
                line_ += c;
            }
        }
    }
}

void Connection::Deliver(std::string text) {
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

int RunServer(DevicePlatform& platform, const ServerOptions& options, std::ostream& out,
              std::ostream& err) {
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
        err << "tovrikctl: --listen wants ADDR:PORT, e.g. 127.0.0.1:5025\n";
        return kExitUsage;
    }
    HeldDevice device(platform, options.device);
    if (const std::string problem = device.Open(); !problem.empty()) {
        err << "tovrikctl: " << problem << '\n';
        return kExitDevice;
    }
    try {
        asio::io_context io;
        Server server(io, device, tcp::endpoint(address, static_cast<unsigned short>(port)),
                      std::chrono::seconds(options.idleSeconds));
        asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&](asio::error_code, int) {
            server.Stop();
            io.stop();
        });
        server.Accept();
        const tcp::endpoint bound = server.endpoint();
        out << "listening on " << bound.address().to_string() << ':' << bound.port() << " for "
            << device.path() << std::endl;
        io.run();
    } catch (const std::exception& e) {
        err << "tovrikctl: " << options.listen << ": " << e.what() << '\n';
        return kExitDevice;
    }
    return kExitOk;
}

}  // namespace tovrik::cli
