// The VXI-11 core and abort channels' arguments and results in XDR. No sockets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovrik::cli::vxi11 {

enum class Proc : std::uint32_t {
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    ReadStb = 13,
    Trigger = 14,
    Clear = 15,
    Remote = 16,
    Local = 17,
    Lock = 18,
    Unlock = 19,
    EnableSrq = 20,
    DoCmd = 22,
    DestroyLink = 23,
    CreateIntrChan = 25,
    DestroyIntrChan = 26,
};
inline constexpr std::uint32_t kDeviceAbort = 1;  // the abort channel's procedure

enum class DeviceError : std::uint32_t {
    None = 0,
    Syntax = 1,
    NotAccessible = 3,
    InvalidLink = 4,
    Parameter = 5,
    NotSupported = 8,
    OutOfResources = 9,
    Locked = 11,
    NoLock = 12,
    IoTimeout = 15,
    IoError = 17,
    Abort = 23,
};

inline constexpr std::uint32_t kWaitLock = 0x01;
inline constexpr std::uint32_t kEnd = 0x08;
inline constexpr std::uint32_t kTermCharSet = 0x80;

inline constexpr std::uint32_t kReasonRequestCount = 0x01;
inline constexpr std::uint32_t kReasonChar = 0x02;
inline constexpr std::uint32_t kReasonEnd = 0x04;

inline constexpr std::size_t kMaxDeviceName = 256;
inline constexpr std::size_t kMaxWriteBlock = 60 * 1024;  // within a whole record

// Every procedure's arguments in one; what a procedure does not send stays zero.
struct Request {
    Proc proc = Proc::CreateLink;
    std::uint32_t link = 0;
    std::uint32_t flags = 0;
    std::uint32_t lockTimeout = 0;  // ms
    std::uint32_t ioTimeout = 0;    // ms
    std::uint32_t requestSize = 0;
    std::uint8_t termChar = 0;
    bool lockDevice = false;
    std::string data;    // device_write's block
    std::string device;  // create_link's name
};

// The arguments of a core-channel procedure; nothing when they are malformed or the
// procedure is not one of the above (`known` tells which).
std::optional<Request> DecodeCore(std::uint32_t proc, std::string_view args, bool& known);
// device_abort's argument, the link.
std::optional<std::uint32_t> DecodeAbort(std::string_view args);

std::string ErrorResult(DeviceError error);
std::string CreateLinkResult(DeviceError error, std::uint32_t link, std::uint16_t abortPort,
                             std::uint32_t maxRecvSize);
std::string WriteResult(DeviceError error, std::uint32_t size);
std::string ReadResult(DeviceError error, std::uint32_t reason, std::string_view data);
std::string StatusResult(DeviceError error, std::uint8_t stb);

}  // namespace tovrik::cli::vxi11
