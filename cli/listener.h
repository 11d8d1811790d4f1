// The listening sockets of `tovrikctl serve`.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace tovrik::cli {

// A socket listening on `endpoint` that no other program can share. Windows lets a second
// socket bind a listening port when SO_REUSEADDR is set (Asio's default), and connections
// then go to either server at random; there the port is taken with SO_EXCLUSIVEADDRUSE. On
// Linux SO_REUSEADDR only lets a restarted server take its port back from TIME_WAIT.
// Throws std::system_error; a port in use says "address in use".
asio::ip::tcp::acceptor OpenListener(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint);

}  // namespace tovrik::cli
