#include "cli/vxi11/portmap.h"

#include "cli/vxi11/rpc.h"

namespace tovrik::cli::vxi11 {

std::optional<std::string> AnswerPortmap(std::string_view record, const PortmapPorts& ports) {
    rpc::Parsed parsed = rpc::ParseCall(record);
    if (!parsed.call) {
        if (parsed.reply.empty()) return std::nullopt;
        return std::move(parsed.reply);
    }
    const rpc::Call& call = *parsed.call;
    return AnswerPortmapCall(call.xid, call.prog, call.vers, call.proc, call.args, ports);
}

std::optional<std::string> AnswerPortmapCall(std::uint32_t xid, std::uint32_t prog,
                                             std::uint32_t vers, std::uint32_t proc,
                                             std::string_view arguments,
                                             const PortmapPorts& ports) {
    const rpc::Call call{xid, prog, vers, proc, arguments};
    if (call.prog != kPortmapProgram)
        return rpc::ErrorReply(call.xid, rpc::AcceptStat::ProgUnavail);
    // rpcbind's versions 3 and 4 too: libtirpc clients then fall back to version 2.
    if (call.vers != 2) return rpc::MismatchReply(call.xid, 2, 2);
    rpc::Reader args(call.args);
    rpc::Writer out;
    switch (call.proc) {
        case PmapNull:
            break;
        case PmapSet:
        case PmapUnset:
        case PmapGetport: {
            const std::uint32_t program = args.U32();
            const std::uint32_t version = args.U32();
            const std::uint32_t protocol = args.U32();
            args.U32();  // port
            if (args.failed()) return rpc::ErrorReply(call.xid, rpc::AcceptStat::GarbageArgs);
            if (call.proc != PmapGetport) {
                out.U32(0);  // nobody else registers here
                break;
            }
            const bool core = program == kCoreProgram && version == 1 && protocol == kTcp;
            out.U32(core ? ports.core : 0);
            break;
        }
        case PmapDump: {
            const auto entry = [&](std::uint32_t program, std::uint32_t version,
                                   std::uint32_t protocol, std::uint16_t port) {
                out.U32(1);
                for (const std::uint32_t v : {program, version, protocol, std::uint32_t{port}})
                    out.U32(v);
            };
            entry(kPortmapProgram, 2, kTcp, ports.portmap);
            entry(kPortmapProgram, 2, kUdp, ports.portmap);
            entry(kCoreProgram, 1, kTcp, ports.core);
            entry(kAbortProgram, 1, kTcp, ports.abort);
            out.U32(0);
            break;
        }
        case PmapCallit:
            return std::nullopt;  // an amplifier for forged sources
        default:
            return rpc::ErrorReply(call.xid, rpc::AcceptStat::ProcUnavail);
    }
    return rpc::AcceptedReply(call.xid, out.data());
}

std::string PortmapCall(std::uint32_t xid, PortmapProc proc, std::uint32_t program,
                        std::uint32_t version, std::uint16_t port) {
    rpc::Writer w;
    for (const std::uint32_t v : {xid, 0U, 2U, kPortmapProgram, 2U, std::uint32_t{proc}}) w.U32(v);
    for (int i = 0; i < 4; ++i) w.U32(0);  // AUTH_NONE credentials and verifier
    for (const std::uint32_t v : {program, version, kTcp, std::uint32_t{port}}) w.U32(v);
    return w.Take();
}

std::optional<std::uint32_t> PortmapResult(std::string_view record, std::uint32_t xid) {
    rpc::Reader r(record);
    const std::uint32_t id = r.U32();
    const std::uint32_t type = r.U32();
    const std::uint32_t stat = r.U32();
    r.U32();
    r.Opaque(rpc::kMaxAuth);
    const std::uint32_t accept = r.U32();
    const std::uint32_t result = r.U32();
    if (r.failed() || id != xid || type != 1 || stat != 0 || accept != 0) return std::nullopt;
    return result;
}

}  // namespace tovrik::cli::vxi11
