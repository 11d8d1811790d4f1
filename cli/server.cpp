#include "cli/server.h"

#include <algorithm>
#include <asio.hpp>
#include <fstream>
#include <memory>

#include "cli/app.h"
#include "cli/instrument/instrument.h"
#include "cli/listener.h"
#include "cli/mdns/announcer.h"
#include "cli/raw/admission.h"
#include "cli/raw/connection.h"
#include "cli/raw/scheduler.h"
#include "cli/stop_requests.h"
#include "cli/vxi11/front_end.h"
#include "cli/web/http_server.h"
#include "cli/web/panel.h"
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
        : acceptor_(OpenListener(io, endpoint)),
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

// --http's [ADDR:]PORT, the address `listenHost` when none is given.
std::optional<std::pair<std::string, unsigned short>> ParseHttp(const std::string& text,
                                                                const std::string& listenHost) {
    const std::size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? listenHost : text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
    asio::error_code ec;
    asio::ip::make_address(host, ec);
    if (ec || digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos || std::stoul(digits) > 65535)
        return std::nullopt;
    return std::pair{host, static_cast<unsigned short>(std::stoul(digits))};
}

}  // namespace

int RunServer(DevicePlatform& platform, const ServerOptions& options,
              const ListeningReport& listening, std::ostream& err, const FailureReport& fail) {
    const std::size_t colon = options.listen.rfind(':');
    asio::error_code ec;
    asio::ip::address address;
    std::string listenHost;
    unsigned long port = 0;
    if (colon != std::string::npos) {
        std::string host = options.listen.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);
        }
        address = asio::ip::make_address(host, ec);
        listenHost = host;
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
    std::optional<std::pair<std::string, unsigned short>> http;
    std::string token;
    if (!options.http.empty()) {
        http = ParseHttp(options.http, listenHost);
        if (!http) return fail(kExitUsage, "--http wants [ADDR:]PORT, e.g. 8080", "usage");
        if (!options.httpTokenFile.empty()) {
            std::ifstream file(options.httpTokenFile);
            std::getline(file, token);
            while (!token.empty() && (token.back() == '\r' || token.back() == ' '))
                token.pop_back();
            if (!file || token.size() < 16)
                return fail(kExitUsage,
                            options.httpTokenFile + ": no token of at least 16 characters",
                            "usage");
        } else {
            token = web::RandomToken();
        }
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
    int status = kExitOk;
    try {
        asio::io_context io;
        Instrument instrument(platform,
                              [&io](std::function<void()> f) { asio::post(io, std::move(f)); });
        instrument.SetDialect(options.dialect);
        Scheduler scheduler(io);
        RawServer server(io, tcp::endpoint(address, static_cast<unsigned short>(port)), instrument,
                         std::chrono::seconds(options.idleSeconds), allowed, scheduler, err);
        std::unique_ptr<vxi11::FrontEnd> vxi11;
        if (options.vxi11) {
            try {
                vxi11 = std::make_unique<vxi11::FrontEnd>(
                    io, instrument, scheduler,
                    vxi11::FrontEndOptions{address, options.vxi11Port, options.all, allowed,
                                           std::chrono::seconds(options.idleSeconds)},
                    err);
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
        std::optional<Announcer> announcer;
        std::unique_ptr<web::Panel> panel;
        std::unique_ptr<web::HttpServer> web;
        if (http) {
            panel = std::make_unique<web::Panel>(
                instrument, [&io](std::function<void()> f) { asio::post(io, std::move(f)); });
            web::HttpOptions webOptions;
            webOptions.address = http->first;
            webOptions.port = http->second;
            webOptions.token = token;
            webOptions.allowed = [allowed](const std::string& client) {
                return allowed.empty() ||
                       std::any_of(allowed.begin(), allowed.end(),
                                   [&](const AddressRange& r) { return InRange(r, client); });
            };
            webOptions.log = [&err](const std::string& line) { err << line << '\n'; };
            webOptions.rawPort = server.endpoint().port();
            try {
                web = std::make_unique<web::HttpServer>(*panel, std::move(webOptions));
            } catch (const std::exception& e) {
                return fail(kExitDevice, "--http " + options.http + ": " + e.what(), "refused");
            }
        }
        const StopOnRequest stops(io, [&](int exitStatus) {
            if (web) web->Stop();
            server.Stop();
            if (vxi11) vxi11->Stop();
            stopped = instrument.Stop(err);
            // After the stop report, which a system bus that does not answer must not delay.
            announcer.reset();
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
        // A loopback listener is announced nowhere: no other host could reach it.
        if (options.announce && !bound.address().is_loopback()) {
            const std::string serial = instrument.Serial();
            announcer.emplace(std::string(kModel) + (serial == "0" ? "" : " " + serial),
                              [&io, &err](const std::string& line) {
                                  asio::post(io, [&err, line] { err << line << '\n'; });
                              });
            const auto txt = IdentityTxt(std::string(kManufacturer), std::string(kModel), serial);
            announcer->Add({"_scpi-raw._tcp", bound.port(), txt});
            // The web page, and the LXI identification that lxi discover reads from it.
            if (vxi11 && vxi11->reachable_by_portmapper()) {
                announcer->Add({"_vxi-11._tcp", 111, txt});
            }
            if (web) {
                announcer->Add({"_http._tcp", web->port(), txt});
                announcer->Add({"_lxi._tcp", web->port(), txt});
            }
        }
        if (web) {
            web->Start();
            const auto webAddress = asio::ip::make_address(http->first);
            // A browser must name the server as the Host check expects: by name when it
            // listens everywhere.
            const std::string webHost = webAddress.is_unspecified() ? asio::ip::host_name()
                                        : webAddress.is_v6() ? "[" + webAddress.to_string() + "]"
                                                             : webAddress.to_string();
            err << "web page: http://" << webHost << ':' << web->port() << "/#token=" << token
                << std::endl;
        }
        listening(host + ':' + std::to_string(bound.port()), instrument.Served());
        io.run();
        CloseTally closed = server.closes();
        if (vxi11) closed += vxi11->closes();
        if (const std::string closes = closed.Summary(); !closes.empty())
            err << "tovrikctl: connections closed by a limit: " << closes << '\n';
    } catch (const std::exception& e) {
        return fail(kExitDevice, options.listen + ": " + e.what(), "refused");
    }
    return stopped ? status : kExitDevice;
}

}  // namespace tovrik::cli
