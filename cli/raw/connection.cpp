#include "cli/raw/connection.h"

#include <asio/read.hpp>
#include <asio/write.hpp>
#include <utility>

namespace tovrik::cli {

Connection::Connection(Owner& owner, asio::ip::tcp::socket socket, std::unique_ptr<Session> session)
    : owner_(owner), socket_(std::move(socket)), session_(std::move(session)) {
    asio::error_code ec;
    const auto endpoint = socket_.remote_endpoint(ec);
    if (!ec) peer_ = endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

void Connection::Close() {
    asio::error_code ignored;
    socket_.close(ignored);
}

ClientActivity Connection::activity() const {
    return {connected_, lastHeard_, paused_ ? std::nullopt : partialSince_, completedLine_,
            !lines_.empty() || !session_->LineDone()};
}

void Connection::Read() {
    if (reading_ || !socket_.is_open()) return;
    // The line deadline counts the client's time only, not the time its lines waited on us.
    if (std::exchange(paused_, false) && partialSince_) partialSince_ = Clock::now();
    reading_ = true;
    socket_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](asio::error_code ec, std::size_t n) {
                                self->reading_ = false;
                                if (ec) {
                                    // A line cut off by a disconnect is never executed; whole
                                    // lines before it still are.
                                    self->owner_.Gone(self, {});
                                    self->Close();
                                    return;
                                }
                                self->lastHeard_ = Clock::now();
                                self->Consume(n);
                                if (self->lines_.size() < kMaxQueuedLines) {
                                    self->Read();
                                } else {
                                    self->paused_ = true;
                                }
                            });
}

std::optional<std::string> Connection::TakeLine() {
    if (lines_.empty()) return std::nullopt;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    if (lines_.size() < kMaxQueuedLines) Read();
    return line;
}

void Connection::Consume(std::size_t n) {
    for (std::size_t i = 0; i < n && socket_.is_open(); ++i) {
        const char c = buffer_[i];
        if (c == '\n') {
            if (!discarding_) {
                if (!line_.empty() && line_.back() == '\r') line_.pop_back();
                if (firstLine_ && !owner_.FirstLine(shared_from_this(), line_)) return;
                lines_.push_back(std::move(line_));
                completedLine_ = true;
            }
            firstLine_ = false;
            discarding_ = false;
            partialSince_.reset();
            line_.clear();
        } else {
            if (!partialSince_) partialSince_ = lastHeard_;
            if (discarding_) continue;
            if (line_.size() >= kMaxLineLength) {
                session_->Push(ScpiCode::InputBufferOverrun);
                discarding_ = true;
                line_.clear();
            } else {
                line_ += c;
            }
        }
    }
    if (!lines_.empty()) owner_.LineReady(shared_from_this());
}

void Connection::LineFinished(std::string response) {
    if (!response.empty()) Deliver(response + "\n");
}

void Connection::Deliver(std::string text) {
    if (!socket_.is_open()) return;
    pendingBytes_ += text.size();
    if (pendingBytes_ > kMaxPendingOutput)
        return owner_.Gone(shared_from_this(), CloseReason::OutputBacklog);
    pending_.push_back(std::move(text));
    if (pending_.size() == 1) Write();
}

void Connection::Write() {
    asio::async_write(socket_, asio::buffer(pending_.front()),
                      [self = shared_from_this()](asio::error_code ec, std::size_t) {
                          if (ec) return self->Close();
                          self->pendingBytes_ -= self->pending_.front().size();
                          self->pending_.pop_front();
                          if (!self->pending_.empty()) self->Write();
                      });
}

}  // namespace tovrik::cli
