// One TCP connection of an RPC program: records in, one call at a time, replies out in order.
// A bad record mark closes it; a client that pipelines calls is not read further until the
// ones it sent were answered. Admission sees a record as the raw socket's line.
#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/raw/connection.h"
#include "cli/vxi11/rpc.h"

namespace tovrik::cli::vxi11 {

class RpcStream final : public AdmittedClient, public std::enable_shared_from_this<RpcStream> {
  public:
    // Sends the reply (unmarked; empty: none) to the call being handled.
    using Done = std::function<void(std::string reply)>;
    using Handler = std::function<void(const std::shared_ptr<RpcStream>&, const rpc::Call&, Done)>;
    using Gone = std::function<void(const std::shared_ptr<RpcStream>&)>;
    // Whether what the stream's calls left behind (a lock, commands still running) keeps it
    // from being evicted.
    using Engaged = std::function<bool(const RpcStream&)>;

    RpcStream(asio::ip::tcp::socket socket, Handler handler, Gone gone, Engaged engaged = {});
    void Start() { Read(); }
    // Closes the socket and tells the owner, once.
    void Close() override;
    bool open() const { return socket_.is_open(); }
    ClientActivity activity() const override;
    const std::string& peer() const override { return peer_; }

  private:
    using Clock = ClientActivity::Clock;
    void Read();
    void Next();
    void Send(std::string_view reply);

    asio::ip::tcp::socket socket_;
    Handler handler_;
    Gone gone_;
    Engaged engaged_;
    std::string peer_;
    std::array<char, 4096> buffer_{};
    rpc::RecordReader reader_;
    std::deque<std::string> records_;
    bool reading_ = false;
    bool paused_ = false;  // records queued: the rest of a record waits on us, not the client
    bool busy_ = false;    // a call is being handled or its reply written
    bool lost_ = false;
    Clock::time_point connected_ = Clock::now();
    Clock::time_point lastHeard_ = connected_;
    std::optional<Clock::time_point> partialSince_;
    bool completedRecord_ = false;
};

}  // namespace tovrik::cli::vxi11
