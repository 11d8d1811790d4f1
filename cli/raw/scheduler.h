// Clients in turn: one unit (';'-separated command) of one client, then the next client's,
// so that a long line cannot hold up the others. Units waiting for a device do not hold the
// turn either.
#pragma once

#include <asio/io_context.hpp>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "cli/instrument/instrument.h"

namespace tovrik::cli {

// A client of any front end, as the scheduler sees it: a session and lines to run in it.
class SchedulerClient {
  public:
    virtual ~SchedulerClient() = default;
    virtual Session& session() = 0;
    virtual std::optional<std::string> TakeLine() = 0;
    // A line finished; its answers joined by ';', empty when there were none.
    virtual void LineFinished(std::string response) = 0;
    // Has a whole line running or waiting.
    virtual bool Busy() const = 0;

    bool scheduled = false;  // waiting for its turn
};

class Scheduler {
  public:
    explicit Scheduler(asio::io_context& io) : io_(io) {}
    // A client has a whole line waiting, or its line goes on: it gets a turn.
    void Schedule(const std::shared_ptr<SchedulerClient>& client);

  private:
    void Kick();
    void RunOne();
    void AfterUnit(const std::shared_ptr<SchedulerClient>& client);

    asio::io_context& io_;
    std::deque<std::shared_ptr<SchedulerClient>> ready_;
    bool kicked_ = false;
};

}  // namespace tovrik::cli
