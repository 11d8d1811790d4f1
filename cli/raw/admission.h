// Who may be a client of the raw SCPI socket, and for how long: the allow-list, room for a
// new client made by evicting one that sends nothing useful, the line deadline and the
// refusal of HTTP. Every close caused by a limit is logged once and counted.
#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raw/connection.h"

namespace tovrik::cli {

// Beyond this (on the raw socket), a new client takes the place of one that sends nothing
// useful (see ChooseEviction); otherwise the new client is closed at once.
inline constexpr std::size_t kMaxConnections = 16;
// A client that has not finished a line this long after its first byte is dropped.
inline constexpr std::chrono::seconds kLineDeadline{3};

// Which client gives way to a new one, if any: never one with a command to run; first one
// that sends bytes but never a whole line, then one that never sent anything for
// min(idle, kLineDeadline), then the one silent longest beyond `idle`.
std::optional<std::size_t> ChooseEviction(const std::vector<ClientActivity>& clients,
                                          ClientActivity::Clock::time_point now,
                                          std::chrono::seconds idle);

// An HTTP request line or header as a connection's first line: a browser or a proxy, whose
// body must not reach the instrument.
bool LooksLikeHttp(std::string_view line);

// A range of client addresses, from CIDR text ("192.168.1.0/24", "fd00::/8",
// "::ffff:10.0.0.0/104") or one address. IPv4 is kept as IPv6's mapped form, so that both
// spellings of one range mean the same.
struct AddressRange {
    std::array<std::uint8_t, 16> bytes{};
    unsigned prefix = 0;
};
std::optional<AddressRange> ParseAddressRange(std::string_view text);
// Whether the address (text; IPv4 also as ::ffff:a.b.c.d) lies in the range.
bool InRange(const AddressRange& range, std::string_view address);

// Client bytes for a log line: control and non-ASCII bytes as \xNN.
std::string Printable(std::string_view text);

// Connections closed by a limit, by reason.
class CloseTally {
  public:
    void Count(CloseReason reason) { ++counts_.at(static_cast<std::size_t>(reason)); }
    std::uint64_t count(CloseReason reason) const {
        return counts_.at(static_cast<std::size_t>(reason));
    }
    CloseTally& operator+=(const CloseTally& other) {
        for (std::size_t i = 0; i < counts_.size(); ++i) counts_[i] += other.counts_[i];
        return *this;
    }
    // "2 (not allowed 1, HTTP 1)"; empty when there were none.
    std::string Summary() const;

  private:
    std::array<std::uint64_t, static_cast<std::size_t>(CloseReason::Count)> counts_{};
};

const char* CloseReasonText(CloseReason reason);

class Admission {
  public:
    // `capacity` clients at most; `label` names the protocol in the log ("VXI-11 ").
    Admission(asio::io_context& io, std::vector<AddressRange> allowed, std::chrono::seconds idle,
              std::ostream& err, std::size_t capacity = kMaxConnections, std::string label = {});

    // Whether a new client may in: from an allowed address, with room (made by evicting
    // another if need be). A refused socket is closed here.
    bool Admit(asio::ip::tcp::socket& socket);
    void Add(const std::shared_ptr<AdmittedClient>& client);
    // Whether a connection whose first line this is may go on; an HTTP one is dropped.
    bool FirstLine(const std::shared_ptr<AdmittedClient>& client, std::string_view line);
    // Closes and forgets a connection; with a reason, logs and counts it.
    void Drop(const std::shared_ptr<AdmittedClient>& client, std::optional<CloseReason> why,
              std::string_view detail = {});
    void CloseAll();
    const CloseTally& closes() const { return closes_; }

  private:
    bool Allowed(const asio::ip::tcp::socket& socket) const;
    bool EvictOne();
    void Housekeep();
    void Log(const std::string& peer, CloseReason why, std::string_view detail);

    asio::steady_timer housekeeping_;
    const std::vector<AddressRange> allowed_;
    const std::chrono::seconds idle_;
    std::ostream& err_;
    const std::size_t capacity_;
    const std::string label_;
    std::set<std::shared_ptr<AdmittedClient>> connections_;
    CloseTally closes_;
};

}  // namespace tovrik::cli
