// `tovrikctl serve`'s VXI-11 front end: the portmapper on port 111 (UDP and TCP), or a
// registration with the rpcbind that holds it; the core channel and the abort channel.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "cli/instrument/instrument.h"
#include "cli/raw/admission.h"
#include "cli/raw/scheduler.h"

namespace tovrik::cli::vxi11 {

inline constexpr std::uint16_t kDefaultCorePort = 9009;
inline constexpr std::uint16_t kPortmapPort = 111;

struct FrontEndOptions {
    asio::ip::address address;
    std::uint16_t corePort = kDefaultCorePort;
    bool bank = false;
    std::vector<AddressRange> allowed;
    std::chrono::seconds idle{60};  // as the raw socket's: when a silent client gives way
};

class FrontEnd {
  public:
    // Binds the core and abort channels (throws when the core port cannot be had) and port
    // 111 as it can, saying on `err` what became of it.
    FrontEnd(asio::io_context& io, Instrument& instrument, Scheduler& scheduler,
             const FrontEndOptions& options, std::ostream& err);
    ~FrontEnd();
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    std::uint16_t core_port() const;
    // Whether clients find the core channel through port 111: ours, or the rpcbind there.
    bool reachable_by_portmapper() const;
    // Connections closed by a limit (eviction, the record deadline, --allow).
    const CloseTally& closes() const;
    // Closes every socket and link; withdraws an rpcbind registration.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tovrik::cli::vxi11
