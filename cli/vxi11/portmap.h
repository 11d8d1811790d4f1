// The portmapper (program 100000 version 2) as an instrument answers it on port 111, and the
// calls that register with a running rpcbind instead. No sockets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovrik::cli::vxi11 {

inline constexpr std::uint32_t kPortmapProgram = 100000;
inline constexpr std::uint32_t kCoreProgram = 0x0607AF;
inline constexpr std::uint32_t kAbortProgram = 0x0607B0;
inline constexpr std::uint32_t kTcp = 6;
inline constexpr std::uint32_t kUdp = 17;

enum PortmapProc : std::uint32_t {
    PmapNull = 0,
    PmapSet = 1,
    PmapUnset = 2,
    PmapGetport = 3,
    PmapDump = 4,
    PmapCallit = 5
};

struct PortmapPorts {
    std::uint16_t portmap = 111;
    std::uint16_t core = 0;
    std::uint16_t abort = 0;
};

// The reply (unmarked) to one record sent to port 111; nothing for what must not be answered
// (not a call, CALLIT).
std::optional<std::string> AnswerPortmap(std::string_view record, const PortmapPorts& ports);

// The same for a call whose header was parsed already (a TCP stream's).
std::optional<std::string> AnswerPortmapCall(std::uint32_t xid, std::uint32_t prog,
                                             std::uint32_t vers, std::uint32_t proc,
                                             std::string_view args, const PortmapPorts& ports);

// A PMAP SET, UNSET or GETPORT call of a TCP mapping, for the rpcbind that holds port 111.
std::string PortmapCall(std::uint32_t xid, PortmapProc proc, std::uint32_t program,
                        std::uint32_t version, std::uint16_t port);
// The result word of `record` when it is the successful answer to call `xid`: 1 for TRUE,
// GETPORT's port.
std::optional<std::uint32_t> PortmapResult(std::string_view record, std::uint32_t xid);

}  // namespace tovrik::cli::vxi11
