// One TCP connection of an RPC program: records in, one call at a time, replies out in order.
// A bad record mark closes it; a client that pipelines calls is not read further until the
// ones it sent were answered.
#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "cli/vxi11/rpc.h"

namespace tovrik::cli::vxi11 {

class RpcStream : public std::enable_shared_from_this<RpcStream> {
  public:
    // Sends the reply (unmarked; empty: none) to the call being handled.
    using Done = std::function<void(std::string reply)>;
    using Handler = std::function<void(const std::shared_ptr<RpcStream>&, const rpc::Call&, Done)>;
    using Gone = std::function<void(const std::shared_ptr<RpcStream>&)>;

    RpcStream(asio::ip::tcp::socket socket, Handler handler, Gone gone);
    void Start() { Read(); }
    void Close();
    bool open() const { return socket_.is_open(); }

  private:
    void Read();
    void Next();
    void Send(std::string_view reply);
    void Lost();

    asio::ip::tcp::socket socket_;
    Handler handler_;
    Gone gone_;
    std::array<char, 4096> buffer_{};
    rpc::RecordReader reader_;
    std::deque<std::string> records_;
    bool reading_ = false;
    bool busy_ = false;  // a call is being handled or its reply written
    bool lost_ = false;
};

}  // namespace tovrik::cli::vxi11
