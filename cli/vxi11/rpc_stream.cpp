#include "cli/vxi11/rpc_stream.h"

#include <asio/write.hpp>
#include <vector>

namespace tovrik::cli::vxi11 {
namespace {
constexpr std::size_t kMaxQueuedRecords = 4;
}

RpcStream::RpcStream(asio::ip::tcp::socket socket, Handler handler, Gone gone, Engaged engaged)
    : socket_(std::move(socket)),
      handler_(std::move(handler)),
      gone_(std::move(gone)),
      engaged_(std::move(engaged)) {
    asio::error_code ec;
    const auto endpoint = socket_.remote_endpoint(ec);
    peer_ = ec ? std::string("?")
               : endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

void RpcStream::Close() {
    asio::error_code ignored;
    socket_.close(ignored);
    if (lost_) return;
    lost_ = true;
    gone_(shared_from_this());
}

ClientActivity RpcStream::activity() const {
    const bool engaged = engaged_ && engaged_(*this);
    return {connected_, lastHeard_, paused_ ? std::nullopt : partialSince_, completedRecord_,
            busy_ || !records_.empty() || engaged};
}

void RpcStream::Read() {
    if (reading_ || !socket_.is_open()) return;
    if (records_.size() >= kMaxQueuedRecords) {
        paused_ = true;
        return;
    }
    // The line deadline counts the client's time only.
    if (std::exchange(paused_, false) && partialSince_) partialSince_ = Clock::now();
    reading_ = true;
    socket_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                self->reading_ = false;
                                if (ec) return self->Close();
                                self->lastHeard_ = Clock::now();
                                std::vector<std::string> records;
                                self->reader_.Feed({self->buffer_.data(), n}, records);
                                if (self->reader_.failed()) return self->Close();
                                if (!records.empty()) self->completedRecord_ = true;
                                if (!self->reader_.partial()) {
                                    self->partialSince_.reset();
                                } else if (!records.empty() || !self->partialSince_) {
                                    self->partialSince_ = self->lastHeard_;
                                }
                                for (auto& record : records)
                                    self->records_.push_back(std::move(record));
                                self->Next();
                                self->Read();
                            });
}

void RpcStream::Next() {
    while (!busy_ && !records_.empty() && socket_.is_open()) {
        const std::string record = std::move(records_.front());
        records_.pop_front();
        rpc::Parsed parsed = rpc::ParseCall(record);
        if (!parsed.call) {
            if (!parsed.reply.empty()) Send(parsed.reply);
            continue;
        }
        busy_ = true;
        // The call's arguments point into `record`, which lives until the handler returns;
        // handlers copy what they keep.
        handler_(shared_from_this(), *parsed.call,
                 [self = shared_from_this()](const std::string& reply) {
                     if (reply.empty()) {
                         self->busy_ = false;
                         self->Next();
                         self->Read();
                         return;
                     }
                     self->Send(reply);
                 });
    }
}

void RpcStream::Send(std::string_view reply) {
    busy_ = true;
    auto marked = std::make_shared<std::string>(rpc::Mark(reply));
    asio::async_write(socket_, asio::buffer(*marked),
                      [self = shared_from_this(), marked](asio::error_code ec, std::size_t) {
                          if (ec) return self->Close();
                          self->busy_ = false;
                          self->Next();
                          self->Read();
                      });
}

}  // namespace tovrik::cli::vxi11
