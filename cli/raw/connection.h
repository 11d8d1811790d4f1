// One client of the raw SCPI socket: framing (a line per message) and the limits that keep a
// client from holding memory (line length, lines queued, output nobody reads).
#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/instrument/instrument.h"
#include "cli/raw/scheduler.h"

namespace tovrik::cli {

// Room for a LIST:FREQ of 10,000 points; longer lines are dropped with -363.
inline constexpr std::size_t kMaxLineLength = 256 * 1024;
inline constexpr std::size_t kMaxPendingOutput = 1 << 20;  // a client that never reads is dropped
// Complete lines a client may have waiting; beyond, its socket is not read until they ran.
inline constexpr std::size_t kMaxQueuedLines = 4;

// What the server knows of a connection when a new one needs its place.
struct ClientActivity {
    using Clock = std::chrono::steady_clock;
    Clock::time_point connected;
    Clock::time_point lastHeard;
    std::optional<Clock::time_point> partialSince;  // first byte of an unfinished line
    bool completedLine = false;                     // sent at least one whole line
    bool busy = false;                              // has a whole line running or waiting
};

// Why the server closed a connection; each is logged and counted.
enum class CloseReason { NotAllowed, Full, Evicted, LineDeadline, Http, OutputBacklog, Count };

// A connection as admission sees it, whatever its protocol.
class AdmittedClient {
  public:
    virtual ~AdmittedClient() = default;
    virtual ClientActivity activity() const = 0;
    virtual const std::string& peer() const = 0;
    virtual void Close() = 0;
};

class Connection : public SchedulerClient,
                   public AdmittedClient,
                   public std::enable_shared_from_this<Connection> {
  public:
    // What a connection tells the server it belongs to, on the Asio thread.
    class Owner {
      public:
        virtual ~Owner() = default;
        virtual void LineReady(const std::shared_ptr<Connection>& connection) = 0;
        // Whether a connection may go on after its first line.
        virtual bool FirstLine(const std::shared_ptr<Connection>& connection,
                               std::string_view line) = 0;
        // Closed by the client, or by a limit (`why`).
        virtual void Gone(const std::shared_ptr<Connection>& connection,
                          std::optional<CloseReason> why) = 0;
    };

    Connection(Owner& owner, asio::ip::tcp::socket socket, std::unique_ptr<Session> session);
    void Start() { Read(); }
    void Close() override;
    bool open() const { return socket_.is_open(); }
    void Deliver(std::string text);
    // The next whole line to run, if any; reading resumes once there is room again.
    std::optional<std::string> TakeLine() override;
    void LineFinished(std::string response) override;
    bool Busy() const override { return activity().busy; }
    ClientActivity activity() const override;
    const std::string& peer() const override { return peer_; }
    Session& session() override { return *session_; }

  private:
    using Clock = ClientActivity::Clock;
    void Read();
    void Consume(std::size_t n);
    void Write();

    Owner& owner_;
    asio::ip::tcp::socket socket_;
    const std::unique_ptr<Session> session_;
    std::string peer_;
    std::array<char, 2048> buffer_{};
    std::string line_;
    bool discarding_ = false;
    bool reading_ = false;
    bool paused_ = false;  // lines queued: not reading until they ran
    std::deque<std::string> lines_;
    std::deque<std::string> pending_;
    std::size_t pendingBytes_ = 0;
    Clock::time_point connected_ = Clock::now();
    Clock::time_point lastHeard_ = connected_;
    std::optional<Clock::time_point> partialSince_;
    bool completedLine_ = false;
    bool firstLine_ = true;
};

}  // namespace tovrik::cli
