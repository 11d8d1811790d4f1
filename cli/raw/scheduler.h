// Clients in turn: one unit (';'-separated command) of one client, then the next client's,
// so that a long line cannot hold up the others. Units waiting for a device do not hold the
// turn either.
#pragma once

#include <asio/io_context.hpp>
#include <deque>
#include <memory>

#include "cli/raw/connection.h"

namespace tovrik::cli {

class Scheduler {
  public:
    explicit Scheduler(asio::io_context& io) : io_(io) {}
    // A connection has a whole line waiting, or its line goes on: it gets a turn.
    void Schedule(const std::shared_ptr<Connection>& connection);

  private:
    void Kick();
    void RunOne();
    void AfterUnit(const std::shared_ptr<Connection>& connection);

    asio::io_context& io_;
    std::deque<std::shared_ptr<Connection>> ready_;
    bool kicked_ = false;
};

}  // namespace tovrik::cli
