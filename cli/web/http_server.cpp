#include "cli/web/http_server.h"

// Beast speaks std::string_view, as the rest of the program does; Boost.Asio 1.74 uses
// std::exchange without including <utility>.
// clang-format off
#define BOOST_BEAST_USE_STD_STRING_VIEW
#include <utility>
// clang-format on
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <deque>
#include <optional>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include "cli/scpi.h"
#include "cli/web/page.h"
#include "cli/web/panel.h"

namespace tovrik::cli::web {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using Tcp = net::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// A request must arrive whole within this, an idle kept-alive connection ends after it, and
// an answer or event must be taken within it: slow clients are dropped.
constexpr std::chrono::seconds kRequestTime{10};
constexpr std::chrono::seconds kWriteTime{5};
// Keeps proxies from closing an event stream and finds clients that went away.
constexpr std::chrono::seconds kPing{15};

Response Make(http::status status, std::string body, std::string_view type, bool keepAlive) {
    Response res{status, 11};
    res.set(http::field::server, "tovrikctl");
    res.set(http::field::content_type, type);
    res.set(http::field::cache_control, "no-store");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("X-Frame-Options", "DENY");
    res.set("Referrer-Policy", "no-referrer");
    res.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    res.keep_alive(keepAlive);
    res.body() = std::move(body);
    res.prepare_payload();
    return res;
}

Response Error(http::status status, int code, std::string_view text, bool keepAlive = false) {
    return Make(status, ToJson(ApiError{static_cast<int>(status), code, std::string(text)}),
                "application/json", keepAlive);
}

// SCPI's "Command protected": what a client may not do here.
constexpr int kProtected = -203;

}  // namespace

std::string RandomToken() {
    // libstdc++ draws from getrandom() or /dev/urandom, and from rand_s() on Windows.
    std::random_device source;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t v = source();
        for (int shift = 0; shift < 32; shift += 4) token += kHex[(v >> shift) & 0xFU];
    }
    return token;
}

class Connection;

class HttpServer::Impl {
  public:
    Impl(Panel& panel, HttpOptions options)
        : panel_(panel), options_(std::move(options)), acceptor_(io_), ping_(io_) {
        // As OpenListener does for the raw socket, in Boost.Asio's terms: exclusive on Windows,
        // and no other program's port taken over.
        const Tcp::endpoint endpoint(net::ip::make_address(options_.address), options_.port);
        acceptor_.open(endpoint.protocol());
#ifdef _WIN32
        acceptor_.set_option(
            net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true));
#else
        acceptor_.set_option(Tcp::acceptor::reuse_address(true));
#endif
        beast::error_code ec;
        if (acceptor_.bind(endpoint, ec); ec == net::error::address_in_use) {
            throw std::system_error(ec, "address in use (another program listens on port " +
                                            std::to_string(endpoint.port()) + ")");
        }
        if (ec) throw std::system_error(ec, "bind");
        acceptor_.listen();
        port_ = acceptor_.local_endpoint().port();
    }

    unsigned short port() const {
        return port_;
    }

    void Start() {
        panel_.Follow([this](const std::string& json) {
            net::post(io_, [this, json] { Broadcast("data: " + json + "\n\n", json); });
        });
        Accept();
        Ping();
        thread_ = std::thread([this] { io_.run(); });
    }

    void Stop() {
        if (!thread_.joinable()) return;
        net::post(io_, [this] { CloseAll(); });
        thread_.join();
    }

    ~Impl() {
        Stop();
    }

    void Handle(const std::shared_ptr<Connection>& c, const Request& req);
    void Forget(const std::shared_ptr<Connection>& c) {
        connections_.erase(c);
        streams_.erase(c);
    }
    const HttpOptions& options() const {
        return options_;
    }

  private:
    void Accept();
    void Admit(Tcp::socket socket);
    void CloseAll();
    void Ping();
    void Broadcast(const std::string& event, const std::string& latest);
    void Log(std::string text) {
        panel_.OnThread([log = options_.log, text = std::move(text)] { log(text); });
    }
    // Runs `work(panel, reply)` on the instrument's thread; the reply goes back to `c`.
    template <class Work>
    void OnInstrument(const std::shared_ptr<Connection>& c, bool keepAlive, std::string_view type,
                      Work work);

    net::io_context io_;  // first: the connections' sockets need it to the end
    Panel& panel_;
    HttpOptions options_;
    Tcp::acceptor acceptor_;
    net::steady_timer ping_;
    std::set<std::shared_ptr<Connection>> connections_;
    std::set<std::shared_ptr<Connection>> streams_;
    unsigned short port_ = 0;
    std::string latest_;  // the state's JSON, for a stream that opens
    std::thread thread_;
};

// One client's connection, on the web thread: requests one at a time, or an event stream.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(HttpServer::Impl& server, Tcp::socket socket, std::vector<std::string> names)
        : server_(server), stream_(std::move(socket)), names_(std::move(names)) {}

    const std::vector<std::string>& names() const { return names_; }

    void Read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
        parser_->body_limit(kMaxBodyBytes);
        stream_.expires_after(kRequestTime);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->Read(ec); });
    }

    void Send(Response res) {
        auto shared = std::make_shared<Response>(std::move(res));
        stream_.expires_after(kWriteTime);
        http::async_write(stream_, *shared,
                          [self = shared_from_this(), shared](beast::error_code ec, std::size_t) {
                              if (ec || !shared->keep_alive()) return self->Close();
                              self->Read();
                          });
    }

    void OpenEvents(const std::string& latest) {
        auto res = std::make_shared<http::response<http::empty_body>>(http::status::ok, 11);
        res->set(http::field::server, "tovrikctl");
        res->set(http::field::content_type, "text/event-stream");
        res->set(http::field::cache_control, "no-store");
        res->set("X-Content-Type-Options", "nosniff");
        // No length: the stream's body ends when the connection does.
        res->keep_alive(false);
        stream_.expires_after(kWriteTime);
        http::async_write(stream_, *res,
                          [self = shared_from_this(), res](beast::error_code ec, std::size_t) {
                              if (ec) return self->Close();
                              self->stream_.expires_never();
                              self->writing_ = false;
                              self->WriteEvent();
                          });
        writing_ = true;
        if (!latest.empty()) Event("data: " + latest + "\n\n");
    }

    void Event(std::string text) {
        // Each event is the whole state: a client that falls behind needs only the latest.
        if (events_.size() > 1) events_.pop_back();
        events_.push_back(std::move(text));
        WriteEvent();
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(Tcp::socket::shutdown_both, ignored);
        stream_.close();
        server_.Forget(shared_from_this());
    }

  private:
    void Read(beast::error_code ec) {
        if (ec == http::error::header_limit ||
            (ec == http::error::buffer_overflow && !parser_->is_header_done()))
            return Send(Error(http::status::request_header_fields_too_large,
                              static_cast<int>(ScpiCode::InputBufferOverrun), "header too long"));
        if (ec == http::error::body_limit || ec == http::error::buffer_overflow)
            return Send(Error(http::status::payload_too_large,
                              static_cast<int>(ScpiCode::InputBufferOverrun), "body too long"));
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            ec == net::error::operation_aborted || ec == net::error::connection_reset ||
            ec == net::error::eof)
            return Close();
        if (ec) return Send(Error(http::status::bad_request, -100, "bad request"));
        server_.Handle(shared_from_this(), parser_->get());
    }

    void WriteEvent() {
        if (writing_ || events_.empty()) return;
        writing_ = true;
        stream_.expires_after(kWriteTime);
        net::async_write(stream_, net::buffer(events_.front()),
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec) return self->Close();
                             self->stream_.expires_never();
                             self->events_.pop_front();
                             self->writing_ = false;
                             self->WriteEvent();
                         });
    }

    HttpServer::Impl& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_{kMaxHeaderBytes + kMaxBodyBytes};
    std::optional<http::request_parser<http::string_body>> parser_;
    std::vector<std::string> names_;  // what the Host header may say
    std::deque<std::string> events_;
    bool writing_ = false;
};

void HttpServer::Impl::Accept() {
    acceptor_.async_accept([this](beast::error_code ec, Tcp::socket socket) {
        if (ec == net::error::operation_aborted) return;
        if (!ec) Admit(std::move(socket));
        Accept();
    });
}

void HttpServer::Impl::Admit(Tcp::socket socket) {
    beast::error_code ec;
    const auto peer = socket.remote_endpoint(ec);
    const auto local = socket.local_endpoint(ec);
    if (ec) return;
    const std::string address = peer.address().to_string();
    if (!options_.allowed(address)) {
        Log("tovrikctl: http: " + address + " closed: not allowed");
        return;
    }
    if (connections_.size() >= kMaxHttpConnections) {
        Log("tovrikctl: http: " + address + " closed: too many connections");
        return;
    }
    auto ip = local.address();
    if (ip.is_v6() && ip.to_v6().is_v4_mapped())
        ip = net::ip::make_address_v4(net::ip::v4_mapped, ip.to_v6());
    std::vector<std::string> names{ip.is_v6() ? "[" + ip.to_string() + "]" : ip.to_string()};
    if (ip.is_loopback()) names.emplace_back("localhost");
    const std::string host = net::ip::host_name(ec);
    if (!ec && !host.empty()) {
        names.push_back(host);
        names.push_back(host + ".local");
    }
    auto c = std::make_shared<Connection>(*this, std::move(socket), std::move(names));
    connections_.insert(c);
    c->Read();
}

void HttpServer::Impl::CloseAll() {
    beast::error_code ignored;
    acceptor_.close(ignored);
    ping_.cancel();
    for (const auto& c : std::set(connections_)) c->Close();
    io_.stop();
}

void HttpServer::Impl::Ping() {
    ping_.expires_after(kPing);
    ping_.async_wait([this](beast::error_code ec) {
        if (ec) return;
        for (const auto& c : std::set(streams_)) c->Event(": ping\n\n");
        Ping();
    });
}

void HttpServer::Impl::Broadcast(const std::string& event, const std::string& latest) {
    latest_ = latest;
    for (const auto& c : std::set(streams_)) c->Event(event);
}

template <class Work>
void HttpServer::Impl::OnInstrument(const std::shared_ptr<Connection>& c, bool keepAlive,
                                    std::string_view type, Work work) {
    panel_.OnThread(
        [this, weak = std::weak_ptr<Connection>(c), keepAlive, type = std::string(type), work] {
            work(panel_, [this, weak, keepAlive, type](int status, std::string body) {
                net::post(io_, [weak, keepAlive, type, status, body = std::move(body)]() mutable {
                    if (const auto c = weak.lock())
                        c->Send(Make(static_cast<http::status>(status), std::move(body), type,
                                     keepAlive));
                });
            });
        });
}

void HttpServer::Impl::Handle(const std::shared_ptr<Connection>& c, const Request& req) {
    const bool keep = req.keep_alive();
    const std::string_view host = req[http::field::host];
    if (!HostAllowed(host, c->names(), port()))
        return c->Send(Error(http::status::forbidden, kProtected,
                             "Command protected; the Host header does not name this server"));
    const std::string_view target = req.target();
    const std::string_view path = target.substr(0, target.find('?'));
    const http::verb method = req.method();
    const auto wrongMethod = [&](const char* allowed) {
        Response res = Error(http::status::method_not_allowed, -113, "Undefined header", keep);
        res.set(http::field::allow, allowed);
        c->Send(std::move(res));
    };
    const auto page = [&](std::string body, std::string_view type) {
        if (method != http::verb::get) return wrongMethod("GET");
        c->Send(Make(http::status::ok, std::move(body), type, keep));
    };
    if (path == "/")
        return page(PageHtml(PrefersEnglish(req[http::field::accept_language])),
                    "text/html; charset=utf-8");
    if (path == "/panel.js")
        return page(std::string(PageScript()), "text/javascript; charset=utf-8");
    if (path == "/panel.css") return page(std::string(PageStyle()), "text/css; charset=utf-8");
    if (path == "/lxi/identification") {
        if (method != http::verb::get) return wrongMethod("GET");
        // The name without the port; an IPv6 address keeps its brackets.
        std::string name(host);
        if (const auto colon = name.rfind(':');
            colon != std::string::npos && name.find(']', colon) == std::string::npos)
            name.resize(colon);
        std::string address = c->names().front();
        return OnInstrument(c, keep, "text/xml; charset=utf-8",
                            [name, address, raw = options_.rawPort](Panel& p, auto reply) {
                                p.Snapshot([=](const InstrumentView& view) {
                                    reply(200, LxiIdentification(view, name, address, raw));
                                });
                            });
    }
    if (path == "/api/instrument") {
        if (method != http::verb::get) return wrongMethod("GET");
        return OnInstrument(c, keep, "application/json", [](Panel& p, auto reply) {
            p.Snapshot([reply](const InstrumentView& view) { reply(200, ToJson(view)); });
        });
    }
    if (path == "/api/events") {
        if (method != http::verb::get) return wrongMethod("GET");
        if (streams_.size() >= kMaxEventStreams)
            return c->Send(Error(http::status::service_unavailable, kProtected,
                                 "Command protected; too many event streams"));
        streams_.insert(c);
        return c->OpenEvents(latest_);
    }
    constexpr std::string_view kChannels = "/api/channels/";
    const bool channel = path.substr(0, kChannels.size()) == kChannels;
    if (path != "/api/stop" && !channel)
        return c->Send(Error(http::status::not_found, -113, "Undefined header", keep));
    if (method != (channel ? http::verb::put : http::verb::post))
        return wrongMethod(channel ? "PUT" : "POST");
    // No CORS headers are ever sent, so no page of another origin can send this header.
    const std::string_view auth = req[http::field::authorization];
    constexpr std::string_view kBearer = "Bearer ";
    if (auth.substr(0, kBearer.size()) != kBearer ||
        !SameToken(auth.substr(kBearer.size()), options_.token)) {
        Response res = Error(http::status::unauthorized, kProtected,
                             "Command protected; writes need the page's token", keep);
        res.set(http::field::www_authenticate, "Bearer");
        return c->Send(std::move(res));
    }
    if (!channel) {
        return OnInstrument(c, keep, "application/json",
                            [](Panel& p, auto reply) { p.StopAll(reply); });
    }
    const std::string_view digits = path.substr(kChannels.size());
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size() || n < 1 || n > kMaxChannels)
        return c->Send(Error(http::status::not_found, static_cast<int>(ScpiCode::InvalidSuffix),
                             "Invalid suffix", keep));
    OnInstrument(c, keep, "application/json",
                 [n, body = req.body()](Panel& p, auto reply) { p.SetChannel(n, body, reply); });
}

HttpServer::HttpServer(Panel& panel, HttpOptions options)
    : impl_(std::make_unique<Impl>(panel, std::move(options))) {}

HttpServer::~HttpServer() = default;

unsigned short HttpServer::port() const {
    return impl_->port();
}

void HttpServer::Start() {
    impl_->Start();
}

void HttpServer::Stop() {
    impl_->Stop();
}

}  // namespace tovrik::cli::web
