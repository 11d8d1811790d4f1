#include "cli/vxi11/rpc.h"

namespace tovrik::cli::rpc {
namespace {

constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kAccepted = 0;
constexpr std::uint32_t kDenied = 1;
constexpr std::uint32_t kRpcMismatch = 0;
constexpr std::uint32_t kLastFragment = 0x80000000U;

void ReplyHead(Writer& w, std::uint32_t xid) {
    w.U32(xid);
    w.U32(kReply);
}

void AcceptedHead(Writer& w, std::uint32_t xid, AcceptStat stat) {
    ReplyHead(w, xid);
    w.U32(kAccepted);
    w.U32(0);  // verifier: AUTH_NONE, empty
    w.U32(0);
    w.U32(static_cast<std::uint32_t>(stat));
}

}  // namespace

std::uint32_t Reader::U32() {
    if (failed_ || data_.size() - pos_ < 4) {
        failed_ = true;
        return 0;
    }
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(data_[pos_ + i]));
    };
    const std::uint32_t v = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    pos_ += 4;
    return v;
}

std::string Reader::Opaque(std::size_t max) {
    const std::uint32_t length = U32();
    if (failed_) return {};
    const std::size_t padded = (static_cast<std::size_t>(length) + 3) & ~std::size_t{3};
    if (length > max || padded > data_.size() - pos_) {
        failed_ = true;
        return {};
    }
    std::string bytes(data_.substr(pos_, length));
    pos_ += padded;
    return bytes;
}

void Writer::U32(std::uint32_t v) {
    for (const int shift : {24, 16, 8, 0}) data_.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void Writer::Opaque(std::string_view bytes) {
    U32(static_cast<std::uint32_t>(bytes.size()));
    data_.append(bytes);
    data_.append((4 - bytes.size() % 4) % 4, '\0');
}

Parsed ParseCall(std::string_view record) {
    Reader r(record);
    Parsed parsed;
    const std::uint32_t xid = r.U32();
    const std::uint32_t type = r.U32();
    if (r.failed() || type != kCall) return parsed;  // nothing that can be answered
    if (r.U32() != 2) {
        parsed.reply =
            r.failed() ? ErrorReply(xid, AcceptStat::GarbageArgs) : RpcMismatchReply(xid);
        return parsed;
    }
    Call call;
    call.xid = xid;
    call.prog = r.U32();
    call.vers = r.U32();
    call.proc = r.U32();
    for (int i = 0; i < 2; ++i) {  // credentials, then verifier: any flavour, not checked
        r.U32();
        r.Opaque(kMaxAuth);
    }
    if (r.failed()) {
        parsed.reply = ErrorReply(xid, AcceptStat::GarbageArgs);
        return parsed;
    }
    call.args = r.rest();
    parsed.call = call;
    return parsed;
}

std::string AcceptedReply(std::uint32_t xid, std::string_view results) {
    Writer w;
    AcceptedHead(w, xid, AcceptStat::Success);
    std::string out = w.Take();
    out.append(results);
    return out;
}

std::string ErrorReply(std::uint32_t xid, AcceptStat stat) {
    Writer w;
    AcceptedHead(w, xid, stat);
    return w.Take();
}

std::string MismatchReply(std::uint32_t xid, std::uint32_t low, std::uint32_t high) {
    Writer w;
    AcceptedHead(w, xid, AcceptStat::ProgMismatch);
    w.U32(low);
    w.U32(high);
    return w.Take();
}

std::string RpcMismatchReply(std::uint32_t xid) {
    Writer w;
    ReplyHead(w, xid);
    w.U32(kDenied);
    w.U32(kRpcMismatch);
    w.U32(2);
    w.U32(2);
    return w.Take();
}

std::string Mark(std::string_view record) {
    Writer w;
    w.U32(kLastFragment | static_cast<std::uint32_t>(record.size()));
    std::string out = w.Take();
    out.append(record);
    return out;
}

void RecordReader::Feed(std::string_view bytes, std::vector<std::string>& out) {
    while (!failed_ && !bytes.empty()) {
        if (!inFragment_) {
            const std::size_t take = std::min(4 - header_.size(), bytes.size());
            header_.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (header_.size() < 4) return;
            Reader r(header_);
            const std::uint32_t mark = r.U32();
            header_.clear();
            last_ = (mark & kLastFragment) != 0;
            fragmentLeft_ = mark & ~kLastFragment;
            if (fragmentLeft_ > kMaxRecord - record_.size()) {
                failed_ = true;
                return;
            }
            inFragment_ = true;
        }
        const std::size_t take = std::min(fragmentLeft_, bytes.size());
        record_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        fragmentLeft_ -= take;
        if (fragmentLeft_ != 0) return;
        inFragment_ = false;
        if (last_) {
            out.push_back(std::move(record_));
            record_.clear();
        }
    }
}

}  // namespace tovrik::cli::rpc
