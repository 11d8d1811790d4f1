// ONC RPC version 2 as VXI-11 uses it: XDR, record marking on TCP, the call header and the
// replies, including the error replies. No sockets: bytes in, bytes out, every length bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovrik::cli::rpc {

// A whole record, and so one fragment, is at most this long; a longer one closes the stream.
inline constexpr std::size_t kMaxRecord = 64 * 1024;
// Credentials and verifiers are at most this long (RFC 5531).
inline constexpr std::size_t kMaxAuth = 400;

// XDR decoding over a record; any read past its end sets `failed` and yields zero values.
class Reader {
  public:
    explicit Reader(std::string_view data) : data_(data) {}
    std::uint32_t U32();
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    bool Bool() { return U32() != 0; }
    // Variable-length opaque or string of at most `max` bytes, with its padding.
    std::string Opaque(std::size_t max);
    bool failed() const { return failed_; }
    bool done() const { return pos_ == data_.size(); }
    std::string_view rest() const { return data_.substr(pos_); }

  private:
    std::string_view data_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

class Writer {
  public:
    void U32(std::uint32_t v);
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Opaque(std::string_view bytes);
    const std::string& data() const { return data_; }
    std::string Take() { return std::move(data_); }

  private:
    std::string data_;
};

enum class AcceptStat : std::uint32_t {
    Success = 0,
    ProgUnavail = 1,
    ProgMismatch = 2,
    ProcUnavail = 3,
    GarbageArgs = 4,
    SystemErr = 5,
};

struct Call {
    std::uint32_t xid = 0;
    std::uint32_t prog = 0;
    std::uint32_t vers = 0;
    std::uint32_t proc = 0;
    std::string_view args;  // into the record
};

// What a call header says: a call to dispatch, a reply to send at once (wrong RPC version,
// malformed header with a readable xid), or nothing to answer (not a call at all).
struct Parsed {
    std::optional<Call> call;
    std::string reply;
};
Parsed ParseCall(std::string_view record);

// Replies, without record marking.
std::string AcceptedReply(std::uint32_t xid, std::string_view results);
std::string ErrorReply(std::uint32_t xid, AcceptStat stat);
std::string MismatchReply(std::uint32_t xid, std::uint32_t low, std::uint32_t high);
std::string RpcMismatchReply(std::uint32_t xid);

// TCP record marking: one fragment per record on the way out.
std::string Mark(std::string_view record);

// Reassembles records from a byte stream; `failed` once a header announces more than
// kMaxRecord in all (the stream must be closed: nothing after it can be framed again).
class RecordReader {
  public:
    // Consumes bytes; whole records are appended to `out`.
    void Feed(std::string_view bytes, std::vector<std::string>& out);
    bool failed() const { return failed_; }
    // Whether part of a record came and the rest has not.
    bool partial() const { return inFragment_ || !header_.empty() || !record_.empty(); }

  private:
    std::string header_;
    std::string record_;
    std::size_t fragmentLeft_ = 0;
    bool inFragment_ = false;
    bool last_ = false;
    bool failed_ = false;
};

}  // namespace tovrik::cli::rpc
