#include "cli/listener.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

namespace tovrik::cli {
namespace {

using asio::ip::tcp;

// A second server on a port in use must fail, never share it: on Windows SO_REUSEADDR would
// let it bind, and connections would reach either generator.
TEST(Listener, TakesItsPortAlone) {
    asio::io_context io;
    tcp::acceptor first = OpenListener(io, {asio::ip::make_address("127.0.0.1"), 0});
    const tcp::endpoint bound = first.local_endpoint();

#ifdef _WIN32
    asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE> exclusive;
    first.get_option(exclusive);
    EXPECT_TRUE(exclusive.value());
    tcp::acceptor::reuse_address reuse;
    first.get_option(reuse);
    EXPECT_FALSE(reuse.value());
#else
    // A restarted server takes its port back from TIME_WAIT.
    tcp::acceptor::reuse_address reuse;
    first.get_option(reuse);
    EXPECT_TRUE(reuse.value());
#endif

    try {
        (void)OpenListener(io, bound);
        FAIL() << "a second listener bound port " << bound.port();
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), asio::error::address_in_use);
        EXPECT_NE(std::string(e.what()).find("address in use"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace tovrik::cli
