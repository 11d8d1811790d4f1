// Arbitrary bytes as a VXI-11 client's TCP stream: record marking, the RPC header, the
// portmapper (calls, and rpcbind's answers) and the core channel's arguments. Holds: a record
// never exceeds its bound, every reply is a reply to the call's xid and small, and decoded
// blocks stay within the record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/vxi11/core_codec.h"
#include "cli/vxi11/portmap.h"
#include "cli/vxi11/rpc.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tovrik::cli;

void CheckReply(const std::string& reply, std::string_view record) {
    FUZZ_CHECK(reply.size() >= 12 && reply.size() <= 256);
    FUZZ_CHECK(reply.compare(0, 4, record.substr(0, 4)) == 0);  // the call's xid
}

void OneRecord(std::string_view record) {
    FUZZ_CHECK(record.size() <= rpc::kMaxRecord);
    const vxi11::PortmapPorts ports{111, 9009, 9010};
    if (const auto reply = vxi11::AnswerPortmap(record, ports)) CheckReply(*reply, record);
    // As the rpcbind's answer to the call this record's xid names: a result needs a whole reply.
    const std::uint32_t xid = rpc::Reader(record).U32();
    FUZZ_CHECK(!vxi11::PortmapResult(record, xid) || record.size() >= 28);
    const rpc::Parsed parsed = rpc::ParseCall(record);
    if (!parsed.reply.empty()) CheckReply(parsed.reply, record);
    if (!parsed.call) return;
    FUZZ_CHECK(parsed.call->args.size() <= record.size());
    bool known = false;
    if (const auto q = vxi11::DecodeCore(parsed.call->proc, parsed.call->args, known)) {
        FUZZ_CHECK(known);
        FUZZ_CHECK(q->data.size() <= vxi11::kMaxWriteBlock && q->data.size() <= record.size());
        FUZZ_CHECK(q->device.size() <= vxi11::kMaxDeviceName);
    }
    vxi11::DecodeAbort(parsed.call->args);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first byte cuts the stream in two reads, as TCP may.
    const std::size_t cut = size == 0 ? 0 : static_cast<unsigned char>(input[0]) % size;
    rpc::RecordReader reader;
    std::vector<std::string> records;
    reader.Feed(input.substr(0, cut), records);
    reader.Feed(input.substr(cut), records);
    for (const std::string& record : records) OneRecord(record);
    // Each datagram is a record too.
    OneRecord(input.substr(0, std::min(input.size(), rpc::kMaxRecord)));
    return 0;
}
