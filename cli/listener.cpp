#include "cli/listener.h"

#include <string>
#include <system_error>

namespace tovrik::cli {

asio::ip::tcp::acceptor OpenListener(asio::io_context& io,
                                     const asio::ip::tcp::endpoint& endpoint) {
    asio::ip::tcp::acceptor acceptor(io);
    acceptor.open(endpoint.protocol());
#ifdef _WIN32
    acceptor.set_option(
        asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true));
#else
    acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
#endif
    asio::error_code ec;
    if (acceptor.bind(endpoint, ec); ec == asio::error::address_in_use) {
        throw std::system_error(ec, "address in use (another program listens on port " +
                                        std::to_string(endpoint.port()) + ")");
    }
    if (ec) throw std::system_error(ec, "bind");
    acceptor.listen();
    return acceptor;
}

}  // namespace tovrik::cli
