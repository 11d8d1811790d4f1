#include "cli/server.h"

#include <asio.hpp>
#include <memory>

#include "cli/app.h"
#include "cli/instrument/instrument.h"
#include "cli/raw/admission.h"
#include "cli/raw/connection.h"
#include "cli/raw/scheduler.h"
#include "cli/stop_requests.h"
#include "cli/vxi11/front_end.h"
#include "device/transport.h"

namespace tovrik::cli {
namespace {

using asio::ip::tcp;

// The raw-socket front end: accepts clients, gives each a session of the instrument, and
// routes what its connections say to admission and the scheduler.
class RawServer final : public Connection::Owner {
  public:
    RawServer(asio::io_context& io, const tcp::endpoint& endpoint, Instrument& instrument,
              std::chrono::seconds idle, std::vector<AddressRange> allowed, Scheduler& scheduler,
              std::ostream& err)
        : acceptor_(io, endpoint),
          instrument_(instrument),
          admission_(io, std::move(allowed), idle, err),
          scheduler_(scheduler) {}

    tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
    const CloseTally& closes() const { return admission_.closes(); }

    void Accept() {
        acceptor_.async_accept([this](asio::error_code ec, tcp::socket socket) {
            if (ec) {
                if (ec != asio::error::operation_aborted) Accept();
                return;
            }
            if (admission_.Admit(socket)) {
                auto connection =
                    std::make_shared<Connection>(*this, std::move(socket), instrument_.Open());
                admission_.Add(connection);
                connection->Start();
            }
            Accept();
        });
    }

    void Stop() {
        asio::error_code ignored;
        acceptor_.close(ignored);
        admission_.CloseAll();
    }

    void LineReady(const std::shared_ptr<Connection>& connection) override {
        scheduler_.Schedule(connection);
    }
    bool FirstLine(const std::shared_ptr<Connection>& connection, std::string_view line) override {
        return admission_.FirstLine(connection, line);
    }
    void Gone(const std::shared_ptr<Connection>& connection,
              std::optional<CloseReason> why) override {
        admission_.Drop(connection, why);
    }

  private:
    tcp::acceptor acceptor_;
    Instrument& instrument_;
    Admission admission_;
    Scheduler& scheduler_;  // shared with the other front ends: one turn each, whoever asks
};

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
        device = std::make_unique<ReconnectingDevice>(platform, selection.path);
        if (const LinkStatus opened = device->Open(); !opened.ok()) {
            return fail(kExitDevice, DescribeFailure(platform, selection.path, opened.error),
                        FailureKindName(platform, opened.error));
        }
    }
    bool stopped = true;
    int status = kExitOk;
    try {
        asio::io_context io;
        Instrument instrument(platform,
                              [&io](std::function<void()> f) { asio::post(io, std::move(f)); });
        Scheduler scheduler(io);
        RawServer server(io, tcp::endpoint(address, static_cast<unsigned short>(port)), instrument,
                         std::chrono::seconds(options.idleSeconds), allowed, scheduler, err);
        std::unique_ptr<vxi11::FrontEnd> vxi11;
        if (options.vxi11) {
            try {
                vxi11 = std::make_unique<vxi11::FrontEnd>(
                    io, instrument, scheduler,
                    vxi11::FrontEndOptions{address, options.vxi11Port, options.all, allowed}, err);
            } catch (const std::exception& e) {
                // The raw socket serves all the same.
                err << "tovrikctl: VXI-11 core port " << options.vxi11Port << ": " << e.what()
                    << "; VXI-11 is off\n";
            }
        }
        if (device) {
            instrument.ServeOne(std::move(device), options.watch);
        } else {
            instrument.ServeAll(options.watch);
        }
        const StopOnRequest stops(io, [&](int exitStatus) {
            server.Stop();
            if (vxi11) vxi11->Stop();
            stopped = instrument.Stop(err);
            status = exitStatus;
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
        listening(host + ':' + std::to_string(bound.port()), instrument.Served());
        io.run();
        if (const std::string closes = server.closes().Summary(); !closes.empty())
            err << "tovrikctl: connections closed by a limit: " << closes << '\n';
    } catch (const std::exception& e) {
        return fail(kExitDevice, options.listen + ": " + e.what(), "refused");
    }
    return stopped ? status : kExitDevice;
}

}  // namespace tovrik::cli
