// The VXI-11 core and abort channels over the instrument core: links (each a session of the
// instrument), their input and answers, and locks. A link's lines take their turn in the
// scheduler that every front end shares.
#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/instrument/instrument.h"
#include "cli/raw/scheduler.h"
#include "cli/vxi11/core_codec.h"

namespace tovrik::cli::vxi11 {

inline constexpr std::uint32_t kMaxRecvSize = 1024;  // told to clients in create_link
inline constexpr std::size_t kMaxLinksPerConnection = 8;
inline constexpr std::size_t kMaxLinks = 64;

struct Link;

class CoreChannel {
  public:
    // Results (unmarked XDR) for the call being handled.
    using Reply = std::function<void(std::string results)>;

    CoreChannel(asio::io_context& io, Instrument& instrument, Scheduler& scheduler, bool bank);
    ~CoreChannel();
    CoreChannel(const CoreChannel&) = delete;
    CoreChannel& operator=(const CoreChannel&) = delete;

    void set_abort_port(std::uint16_t port) { abortPort_ = port; }
    // One call on the core channel from connection `owner`.
    void Handle(std::uintptr_t owner, const Request& request, Reply reply);
    // device_abort: ends a read that waits on the link.
    std::string Abort(std::uint32_t link);
    // Whether a link of the connection holds a lock or has commands still running, so that
    // closing the connection would take something from its client.
    bool Engaged(std::uintptr_t owner) const;
    // A connection closed: its links go, and their locks with them.
    void Disconnected(std::uintptr_t owner);
    void CloseAll();

  private:
    std::shared_ptr<Link> Find(std::uintptr_t owner, std::uint32_t id) const;
    void CreateLink(std::uintptr_t owner, const Request& q, Reply reply);
    void Write(const std::shared_ptr<Link>& link, const Request& q, Reply reply);
    void Read(const std::shared_ptr<Link>& link, const Request& q, Reply reply);
    void Enqueue(const std::shared_ptr<Link>& link, std::string line);
    void Destroy(const std::shared_ptr<Link>& link);
    // Runs `then` once the link may use its device: at once, or when another link's lock
    // goes within lock_timeout (WAITLOCK); else replies error 11 with `locked`.
    void WhenUnlocked(const std::shared_ptr<Link>& link, const Request& q,
                      const std::string& locked, const Reply& reply,
                      const std::function<void()>& then);
    void Unlocked();

    asio::io_context& io_;
    Instrument& instrument_;
    Scheduler& scheduler_;
    const bool bank_;
    std::uint16_t abortPort_ = 0;
    std::uint32_t nextId_ = 1;
    std::map<std::uint32_t, std::shared_ptr<Link>> links_;
    // Those waiting for a lock look again at each unlock; `done` once answered.
    std::vector<std::pair<std::shared_ptr<bool>, std::function<void()>>> unlockWaiters_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tovrik::cli::vxi11
