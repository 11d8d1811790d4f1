// The listening sockets of `tovrikctl serve`.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace tovrik::cli {

// Makes an open, unbound socket (TCP or UDP) take its port alone: on Windows SO_REUSEADDR
// (Asio's default for acceptors) would let a second server bind the same port and take
// connections or datagrams at random; there the port is taken with SO_EXCLUSIVEADDRUSE. On
// Linux SO_REUSEADDR only lets a restarted server take its port back from TIME_WAIT.
template <typename Socket>
void TakePortAlone(Socket& socket) {
#ifdef _WIN32
    socket.set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true));
#else
    socket.set_option(asio::socket_base::reuse_address(true));
#endif
}

// A socket listening on `endpoint` that no other program can share (TakePortAlone).
// Throws std::system_error; a port in use says "address in use".
asio::ip::tcp::acceptor OpenListener(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint);

}  // namespace tovrik::cli
