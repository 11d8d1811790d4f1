#include "cli/vxi11/front_end.h"

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "cli/listener.h"
#include "cli/vxi11/core_channel.h"
#include "cli/vxi11/portmap.h"
#include "cli/vxi11/rpc_stream.h"

namespace tovrik::cli::vxi11 {
namespace {

using asio::ip::tcp;
using asio::ip::udp;

// Every VXI-11 TCP connection (portmapper, core and abort channels) counts here. Twice the
// raw socket's: a client may hold three at once, and some open one per command.
constexpr std::size_t kMaxStreams = 32;

// One call to the rpcbind on this machine over UDP, waiting at most a second for its answer:
// the answer's result word.
std::optional<std::uint32_t> AskRpcbind(PortmapProc proc, std::uint32_t program,
                                        std::uint16_t port) {
    try {
        asio::io_context io;
        udp::socket socket(io, udp::endpoint(udp::v4(), 0));
        socket.non_blocking(true);
        const std::uint32_t xid =
            static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        socket.send_to(asio::buffer(PortmapCall(xid, proc, program, 1, port)),
                       udp::endpoint(asio::ip::address_v4::loopback(), kPortmapPort));
        std::array<char, 512> buffer{};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < deadline) {
            asio::error_code ec;
            udp::endpoint from;
            const std::size_t n = socket.receive_from(asio::buffer(buffer), from, 0, ec);
            if (!ec) return PortmapResult({buffer.data(), n}, xid);
            if (ec != asio::error::would_block) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// Whether a program on this machine accepts connections on `port`.
bool Listening(std::uint16_t port) {
    try {
        asio::io_context io;
        tcp::socket socket(io);
        asio::error_code ec;
        socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
        return !ec;
    } catch (const std::exception&) {
        return false;
    }
}

// Registers the core channel with the rpcbind on port 111. rpcbind keeps the mapping of a
// server that ended without withdrawing it (killed, crashed, restarted by its service) and
// refuses another: one to our own port is ours already, one to a port where nothing listens
// is replaced; a live server's is left alone.
bool Register(std::uint16_t port, std::ostream& err) {
    if (AskRpcbind(PmapSet, kCoreProgram, port) == 1U) return true;
    const auto held = AskRpcbind(PmapGetport, kCoreProgram, 0);
    if (held == port) return true;
    if (!held || *held == 0 || *held > 65535 || Listening(static_cast<std::uint16_t>(*held)))
        return false;
    err << "tovrikctl: rpcbind mapped the VXI-11 core channel to port " << *held
        << ", where nothing listens: replacing that registration\n";
    return AskRpcbind(PmapUnset, kCoreProgram, 0) == 1U &&
           AskRpcbind(PmapSet, kCoreProgram, port) == 1U;
}

// The abort channel next to a fixed core port, so that one firewall rule can name both; a free
// port when that one is taken or the core port is any.
tcp::acceptor OpenAbort(asio::io_context& io, const asio::ip::address& address,
                        std::uint16_t core) {
    if (core != 0 && core < 65535) {
        try {
            return OpenListener(io, tcp::endpoint(address, static_cast<std::uint16_t>(core + 1)));
        } catch (const std::system_error&) {
        }
    }
    return OpenListener(io, tcp::endpoint(address, 0));
}

}  // namespace

struct FrontEnd::Impl {
    Impl(asio::io_context& io, Instrument& instrument, Scheduler& scheduler,
         const FrontEndOptions& options, std::ostream& err)
        : io(io),
          allowed(options.allowed),
          admission(io, options.allowed, options.idle, err, kMaxStreams, "VXI-11 "),
          core(OpenListener(io, tcp::endpoint(options.address, options.corePort))),
          abort(OpenAbort(io, options.address, options.corePort)),
          corePort(core.local_endpoint().port()),
          abortPort(abort.local_endpoint().port()),
          channel(io, instrument, scheduler, options.bank) {
        channel.set_abort_port(abortPort);
    }

    bool Allowed(const asio::ip::address& address) const {
        if (allowed.empty()) return true;
        const std::string text = address.to_string();
        for (const AddressRange& range : allowed)
            if (InRange(range, text)) return true;
        return false;
    }

    void Accept(tcp::acceptor& acceptor, const RpcStream::Handler& handler) {
        acceptor.async_accept([this, &acceptor, handler](asio::error_code ec, tcp::socket socket) {
            if (ec) {
                if (ec != asio::error::operation_aborted) Accept(acceptor, handler);
                return;
            }
            if (admission.Admit(socket)) {
                auto stream = std::make_shared<RpcStream>(
                    std::move(socket), handler,
                    [this](const std::shared_ptr<RpcStream>& gone) {
                        channel.Disconnected(reinterpret_cast<std::uintptr_t>(gone.get()));
                        admission.Drop(gone, std::nullopt);
                    },
                    [this](const RpcStream& stream) {
                        return channel.Engaged(reinterpret_cast<std::uintptr_t>(&stream));
                    });
                admission.Add(stream);
                stream->Start();
            }
            Accept(acceptor, handler);
        });
    }

    void Start() {
        Accept(core, [this](const std::shared_ptr<RpcStream>& stream, const rpc::Call& call,
                            const RpcStream::Done& done) {
            if (call.prog != kCoreProgram)
                return done(rpc::ErrorReply(call.xid, rpc::AcceptStat::ProgUnavail));
            if (call.vers != 1) return done(rpc::MismatchReply(call.xid, 1, 1));
            bool known = false;
            const auto request = DecodeCore(call.proc, call.args, known);
            if (!known) return done(rpc::ErrorReply(call.xid, rpc::AcceptStat::ProcUnavail));
            if (!request) return done(rpc::ErrorReply(call.xid, rpc::AcceptStat::GarbageArgs));
            channel.Handle(reinterpret_cast<std::uintptr_t>(stream.get()), *request,
                           [xid = call.xid, done](const std::string& results) {
                               done(rpc::AcceptedReply(xid, results));
                           });
        });
        Accept(abort, [this](const std::shared_ptr<RpcStream>&, const rpc::Call& call,
                             const RpcStream::Done& done) {
            if (call.prog != kAbortProgram)
                return done(rpc::ErrorReply(call.xid, rpc::AcceptStat::ProgUnavail));
            if (call.vers != 1) return done(rpc::MismatchReply(call.xid, 1, 1));
            if (call.proc != kDeviceAbort)
                return done(rpc::ErrorReply(call.xid, rpc::AcceptStat::ProcUnavail));
            const auto link = DecodeAbort(call.args);
            if (!link) return done(rpc::ErrorReply(call.xid, rpc::AcceptStat::GarbageArgs));
            done(rpc::AcceptedReply(call.xid, channel.Abort(*link)));
        });
    }

    PortmapPorts Ports() const { return {kPortmapPort, corePort, abortPort}; }

    // Port 111 for the portmapper, both protocols; the error when either cannot be had.
    asio::error_code BindPortmap(const asio::ip::address& address) {
        asio::error_code ec;
        try {
            portmapTcp.emplace(OpenListener(io, tcp::endpoint(address, kPortmapPort)));
        } catch (const std::system_error& e) {
            portmapTcp.reset();
            return e.code();
        }
        portmapUdp.emplace(io);
        portmapUdp->open(address.is_v4() ? udp::v4() : udp::v6(), ec);
#ifdef _WIN32
        // Not on Linux: two UDP sockets that both set SO_REUSEADDR share the port there.
        if (!ec) TakePortAlone(*portmapUdp);
#endif
        if (!ec) portmapUdp->bind(udp::endpoint(address, kPortmapPort), ec);
        if (!ec) {
            Accept(*portmapTcp, [this](const std::shared_ptr<RpcStream>&, const rpc::Call& call,
                                       const RpcStream::Done& done) {
                done(
                    AnswerPortmapCall(call.xid, call.prog, call.vers, call.proc, call.args, Ports())
                        .value_or(std::string()));
            });
            Receive();
            return {};
        }
        portmapTcp.reset();
        portmapUdp.reset();
        return ec;
    }

    void Receive() {
        portmapUdp->async_receive_from(
            asio::buffer(datagram), from, [this](asio::error_code ec, std::size_t n) {
                if (ec == asio::error::operation_aborted || !portmapUdp || !portmapUdp->is_open())
                    return;
                // A broadcast GETPORT is answered to its sender alone, as any other.
                if (!ec && Allowed(from.address())) {
                    if (const auto reply = AnswerPortmap({datagram.data(), n}, Ports())) {
                        asio::error_code ignored;
                        portmapUdp->send_to(asio::buffer(*reply), from, 0, ignored);
                    }
                }
                Receive();
            });
    }

    asio::io_context& io;
    const std::vector<AddressRange> allowed;
    Admission admission;
    tcp::acceptor core;
    tcp::acceptor abort;
    const std::uint16_t corePort;
    const std::uint16_t abortPort;
    std::optional<tcp::acceptor> portmapTcp;
    std::optional<udp::socket> portmapUdp;
    std::array<char, rpc::kMaxRecord> datagram{};
    udp::endpoint from;
    CoreChannel channel;
    bool registered = false;
};

FrontEnd::FrontEnd(asio::io_context& io, Instrument& instrument, Scheduler& scheduler,
                   const FrontEndOptions& options, std::ostream& err)
    : impl_(std::make_unique<Impl>(io, instrument, scheduler, options, err)) {
    impl_->Start();
    const std::uint16_t port = core_port();
    const asio::error_code ec = impl_->BindPortmap(options.address);
    const std::string byPort =
        "VXI-11 clients must name the core port (TCPIP::host," + std::to_string(port) + "::INSTR)";
#ifdef _WIN32
    // Port 111 needs no privilege on Windows: a refusal means that another program holds it
    // (some binds next to an exclusive one are refused so) or that the port is reserved.
    const bool taken = ec == asio::error::address_in_use || ec == asio::error::access_denied;
#else
    const bool taken = ec == asio::error::address_in_use;
#endif
    if (!ec) {
        err << "tovrikctl: VXI-11 portmapper on port 111, core channel on port " << port << '\n';
    } else if (taken) {
        impl_->registered = Register(port, err);
        if (impl_->registered) {
            err << "tovrikctl: port 111 is taken: the VXI-11 core channel (port " << port
                << ") is registered with the rpcbind there\n";
        } else {
            err << "tovrikctl: port 111 is taken and its rpcbind did not take the registration: "
                << byPort << '\n';
        }
    } else if (ec == asio::error::access_denied) {
        err << "tovrikctl: port 111 needs privilege: " << byPort
            << ". To grant it: sudo setcap cap_net_bind_service=+ep \"$(command -v tovrikctl)\","
               " or run the tovrikctl service\n";
    } else {
        err << "tovrikctl: port 111: " << ec.message() << ": " << byPort << '\n';
    }
}

FrontEnd::~FrontEnd() {
    Stop();
}

std::uint16_t FrontEnd::core_port() const {
    return impl_->corePort;
}

const CloseTally& FrontEnd::closes() const {
    return impl_->admission.closes();
}

bool FrontEnd::reachable_by_portmapper() const {
    return impl_->portmapTcp.has_value() || impl_->registered;
}

void FrontEnd::Stop() {
    asio::error_code ignored;
    if (impl_->registered) {
        impl_->registered = false;
        AskRpcbind(PmapUnset, kCoreProgram, core_port());
    }
    impl_->core.close(ignored);
    impl_->abort.close(ignored);
    if (impl_->portmapTcp) impl_->portmapTcp->close(ignored);
    if (impl_->portmapUdp) impl_->portmapUdp->close(ignored);
    impl_->admission.CloseAll();
    impl_->channel.CloseAll();
}

}  // namespace tovrik::cli::vxi11
