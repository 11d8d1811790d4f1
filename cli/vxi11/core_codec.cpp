#include "cli/vxi11/core_codec.h"

#include "cli/vxi11/rpc.h"

namespace tovrik::cli::vxi11 {

std::optional<Request> DecodeCore(std::uint32_t proc, std::string_view args, bool& known) {
    rpc::Reader r(args);
    Request q;
    q.proc = static_cast<Proc>(proc);
    known = true;
    switch (q.proc) {
        case Proc::CreateLink:
            r.I32();  // clientId
            q.lockDevice = r.Bool();
            q.lockTimeout = r.U32();
            q.device = r.Opaque(kMaxDeviceName);
            break;
        case Proc::DeviceWrite:
            q.link = r.U32();
            q.ioTimeout = r.U32();
            q.lockTimeout = r.U32();
            q.flags = r.U32();
            q.data = r.Opaque(kMaxWriteBlock);
            break;
        case Proc::DeviceRead:
            q.link = r.U32();
            q.requestSize = r.U32();
            q.ioTimeout = r.U32();
            q.lockTimeout = r.U32();
            q.flags = r.U32();
            q.termChar = static_cast<std::uint8_t>(r.U32() & 0xFF);
            break;
        case Proc::ReadStb:
        case Proc::Trigger:
        case Proc::Clear:
        case Proc::Remote:
        case Proc::Local:
            q.link = r.U32();
            q.flags = r.U32();
            q.lockTimeout = r.U32();
            q.ioTimeout = r.U32();
            break;
        case Proc::Lock:
            q.link = r.U32();
            q.flags = r.U32();
            q.lockTimeout = r.U32();
            break;
        case Proc::Unlock:
        case Proc::DestroyLink:
            q.link = r.U32();
            break;
        case Proc::EnableSrq:
        case Proc::DoCmd:
        case Proc::CreateIntrChan:
        case Proc::DestroyIntrChan:
            return q;  // not supported: answered with error 8 whatever they carry
        default:
            known = false;
            return std::nullopt;
    }
    if (r.failed()) return std::nullopt;
    return q;
}

std::optional<std::uint32_t> DecodeAbort(std::string_view args) {
    rpc::Reader r(args);
    const std::uint32_t link = r.U32();
    if (r.failed()) return std::nullopt;
    return link;
}

std::string ErrorResult(DeviceError error) {
    rpc::Writer w;
    w.U32(static_cast<std::uint32_t>(error));
    return w.Take();
}

std::string CreateLinkResult(DeviceError error, std::uint32_t link, std::uint16_t abortPort,
                             std::uint32_t maxRecvSize) {
    rpc::Writer w;
    for (const std::uint32_t v :
         {static_cast<std::uint32_t>(error), link, std::uint32_t{abortPort}, maxRecvSize})
        w.U32(v);
    return w.Take();
}

std::string WriteResult(DeviceError error, std::uint32_t size) {
    rpc::Writer w;
    w.U32(static_cast<std::uint32_t>(error));
    w.U32(size);
    return w.Take();
}

std::string ReadResult(DeviceError error, std::uint32_t reason, std::string_view data) {
    rpc::Writer w;
    w.U32(static_cast<std::uint32_t>(error));
    w.U32(reason);
    w.Opaque(data);
    return w.Take();
}

std::string StatusResult(DeviceError error, std::uint8_t stb) {
    rpc::Writer w;
    w.U32(static_cast<std::uint32_t>(error));
    w.U32(stb);
    return w.Take();
}

}  // namespace tovrik::cli::vxi11
