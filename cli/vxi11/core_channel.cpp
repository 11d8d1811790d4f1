#include "cli/vxi11/core_channel.h"

#include <algorithm>
#include <deque>
#include <optional>

#include "cli/raw/connection.h"

namespace tovrik::cli::vxi11 {

using Clock = std::chrono::steady_clock;
using Reply = CoreChannel::Reply;

struct Link final : SchedulerClient {
    Link(asio::io_context& io, std::uint32_t id, std::uintptr_t owner, unsigned key,
         std::unique_ptr<Session> session)
        : id(id),
          owner(owner),
          key(key),
          session_(std::move(session)),
          writeTimer(io),
          readTimer(io) {}

    Session& session() override { return *session_; }
    std::optional<std::string> TakeLine() override {
        if (lines.empty()) return std::nullopt;
        std::string line = std::move(lines.front());
        lines.pop_front();
        return line;
    }
    void LineFinished(std::string response) override {
        if (!response.empty()) {
            // A client that never reads: its oldest answers give way, and it is told so.
            if (output.size() + response.size() >= kMaxPendingOutput) {
                output.clear();
                session_->Push(ScpiCode::QueueOverflow);
            }
            output += response + "\n";
        }
        Progress();
    }
    bool Busy() const override { return !lines.empty() || !session_->LineDone(); }

    // Answers a waiting write once its lines ran, a waiting read once there is an answer.
    void Progress() {
        if (writeReply && !Busy()) {
            writeTimer.cancel();
            std::exchange(writeReply, nullptr)(WriteResult(DeviceError::None, writeSize));
        }
        if (readReply && !output.empty()) {
            readTimer.cancel();
            std::exchange(readReply, nullptr)(TakeAnswer());
        }
    }

    // One message (up to its newline) or what requestSize and termChar let through.
    std::string TakeAnswer() {
        const std::size_t newline = output.find('\n');
        std::size_t n = std::min<std::size_t>(
            {readSize, output.size(), newline == std::string::npos ? output.size() : newline + 1});
        std::uint32_t reason = 0;
        if ((readFlags & kTermCharSet) != 0) {
            const std::size_t term = output.find(static_cast<char>(readTerm));
            if (term != std::string::npos && term < n) {
                n = term + 1;
                reason |= kReasonChar;
            }
        }
        if (newline != std::string::npos && n == newline + 1) reason |= kReasonEnd;
        if (reason == 0) reason = kReasonRequestCount;
        std::string results = ReadResult(DeviceError::None, reason, {output.data(), n});
        output.erase(0, n);
        return results;
    }

    // Ends what waits with `error` (the link goes, or an abort).
    void Fail(DeviceError error) {
        writeTimer.cancel();
        readTimer.cancel();
        if (writeReply) std::exchange(writeReply, nullptr)(WriteResult(error, 0));
        if (readReply) std::exchange(readReply, nullptr)(ReadResult(error, 0, {}));
    }

    const std::uint32_t id;
    const std::uintptr_t owner;
    const unsigned key;  // what its lock covers: its channel, or 0 for every channel
    std::unique_ptr<Session> session_;
    std::string input;
    bool discarding = false;
    std::deque<std::string> lines;
    std::string output;
    Reply writeReply;
    std::uint32_t writeSize = 0;
    asio::steady_timer writeTimer;
    Reply readReply;
    std::uint32_t readSize = 0, readFlags = 0;
    std::uint8_t readTerm = 0;
    asio::steady_timer readTimer;
    bool locked = false;
    bool gone = false;
};

namespace {

// How long a client's timeout in ms lets the server wait: answered just before the client
// gives up (pyvisa-py waits a second longer), and no "forever".
Clock::duration Wait(std::uint32_t ms) {
    return std::chrono::milliseconds(std::min<std::uint32_t>(ms, 24U * 3600U * 1000U));
}

// "inst0", or "inst<n>" naming channel n of a bank; nothing for any other name.
std::optional<unsigned> DeviceNumber(std::string_view name) {
    if (name.size() < 5 || name.size() > 6) return std::nullopt;
    std::string head(name.substr(0, 4));
    std::transform(head.begin(), head.end(), head.begin(), [](char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    if (head != "inst") return std::nullopt;
    unsigned n = 0;
    for (const char c : name.substr(4)) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (name.size() == 6 && name[4] == '0') return std::nullopt;
    return n;
}

}  // namespace

CoreChannel::CoreChannel(asio::io_context& io, Instrument& instrument, Scheduler& scheduler,
                         bool bank)
    : io_(io), instrument_(instrument), scheduler_(scheduler), bank_(bank) {}

// FrontEnd::Stop closed the links; what remains goes with the map.
CoreChannel::~CoreChannel() {
    *alive_ = false;
}

std::shared_ptr<Link> CoreChannel::Find(std::uintptr_t owner, std::uint32_t id) const {
    const auto it = links_.find(id);
    if (it == links_.end() || it->second->owner != owner) return nullptr;
    return it->second;
}

void CoreChannel::Handle(std::uintptr_t owner, const Request& q, Reply reply) {
    if (q.proc == Proc::CreateLink) return CreateLink(owner, q, std::move(reply));
    const std::shared_ptr<Link> link = Find(owner, q.link);
    const auto error = [&](DeviceError e) {
        switch (q.proc) {
            case Proc::DeviceWrite:
                return WriteResult(e, 0);
            case Proc::DeviceRead:
                return ReadResult(e, 0, {});
            case Proc::ReadStb:
                return StatusResult(e, 0);
            default:
                return ErrorResult(e);
        }
    };
    switch (q.proc) {
        case Proc::EnableSrq:
        case Proc::DoCmd:
        case Proc::CreateIntrChan:
        case Proc::DestroyIntrChan:
            return reply(ErrorResult(DeviceError::NotSupported));
        default:
            break;
    }
    if (!link) return reply(error(DeviceError::InvalidLink));
    const std::string locked = error(DeviceError::Locked);
    switch (q.proc) {
        case Proc::DeviceWrite:
            return WhenUnlocked(link, q, locked, reply,
                                [this, link, q, reply] { Write(link, q, reply); });
        case Proc::DeviceRead:
            return WhenUnlocked(link, q, locked, reply,
                                [this, link, q, reply] { Read(link, q, reply); });
        case Proc::ReadStb:
            return WhenUnlocked(link, q, locked, reply, [link, reply] {
                reply(StatusResult(DeviceError::None,
                                   link->session().StatusByte(!link->output.empty())));
            });
        case Proc::Trigger:
            return WhenUnlocked(link, q, locked, reply, [this, link, q, reply] {
                Request write = q;
                write.data = "*TRG";
                write.flags |= kEnd;
                Write(link, write, [reply](const std::string& results) {
                    reply(results.substr(0, 4));  // the write's error alone
                });
            });
        case Proc::Clear:
            return WhenUnlocked(link, q, locked, reply, [this, link, q, reply] {
                link->input.clear();
                link->discarding = false;
                link->lines.clear();
                link->output.clear();
                // Sweeps the link started end, as ABORt would end them.
                Request abort = q;
                abort.flags = kEnd;
                for (const unsigned channel : link->session().SweepsRunning())
                    abort.data += "ABOR" + std::to_string(channel) + "\n";
                if (abort.data.empty()) return reply(ErrorResult(DeviceError::None));
                Write(link, abort,
                      [reply](const std::string& results) { reply(results.substr(0, 4)); });
            });
        case Proc::Remote:
        case Proc::Local:
            return WhenUnlocked(link, q, locked, reply,
                                [reply] { reply(ErrorResult(DeviceError::None)); });
        case Proc::Lock:
            return WhenUnlocked(link, q, locked, reply, [link, reply] {
                link->locked = link->session().Lock(link->key);
                reply(ErrorResult(link->locked ? DeviceError::None : DeviceError::Locked));
            });
        case Proc::Unlock:
            if (!link->locked) return reply(ErrorResult(DeviceError::NoLock));
            link->session().Unlock();
            link->locked = false;
            Unlocked();
            return reply(ErrorResult(DeviceError::None));
        case Proc::DestroyLink:
            Destroy(link);
            return reply(ErrorResult(DeviceError::None));
        default:
            return reply(ErrorResult(DeviceError::NotSupported));
    }
}

void CoreChannel::CreateLink(std::uintptr_t owner, const Request& q, Reply reply) {
    const auto fail = [&](DeviceError e) {
        reply(CreateLinkResult(e, 0, abortPort_, kMaxRecvSize));
    };
    const auto number = DeviceNumber(q.device);
    if (!number || (*number != 0 && (!bank_ || *number > kMaxChannels)))
        return fail(DeviceError::NotAccessible);
    const auto mine = std::count_if(links_.begin(), links_.end(), [&](const auto& entry) {
        return entry.second->owner == owner;
    });
    if (links_.size() >= kMaxLinks || static_cast<std::size_t>(mine) >= kMaxLinksPerConnection)
        return fail(DeviceError::OutOfResources);
    while (nextId_ == 0 || links_.count(nextId_) != 0) ++nextId_;
    const std::uint32_t id = nextId_++;
    auto link = std::make_shared<Link>(io_, id, owner, *number, instrument_.Open());
    if (*number != 0) link->session().Select(*number);
    links_.emplace(id, link);
    if (!q.lockDevice)
        return reply(CreateLinkResult(DeviceError::None, id, abortPort_, kMaxRecvSize));
    Request lock = q;
    lock.flags = kWaitLock;
    std::string locked = CreateLinkResult(DeviceError::Locked, 0, abortPort_, kMaxRecvSize);
    WhenUnlocked(
        link, lock, locked,
        [this, link, reply](std::string results) {
            Destroy(link);  // a link whose lock could not be had is not made
            reply(std::move(results));
        },
        [this, link, reply] {
            link->locked = link->session().Lock(link->key);
            reply(CreateLinkResult(DeviceError::None, link->id, abortPort_, kMaxRecvSize));
        });
}

void CoreChannel::Write(const std::shared_ptr<Link>& link, const Request& q, Reply reply) {
    for (const char c : q.data) {
        if (c == '\n') {
            if (!link->discarding) Enqueue(link, std::move(link->input));
            link->input.clear();
            link->discarding = false;
        } else if (!link->discarding) {
            if (link->input.size() >= kMaxLineLength) {
                link->session().Push(ScpiCode::InputBufferOverrun);
                link->discarding = true;
                link->input.clear();
            } else {
                link->input += c;
            }
        }
    }
    // The end of a message ends its last command, newline or not.
    if ((q.flags & kEnd) != 0) {
        if (!link->discarding && !link->input.empty()) Enqueue(link, std::move(link->input));
        link->input.clear();
        link->discarding = false;
    }
    link->writeReply = std::move(reply);
    link->writeSize = static_cast<std::uint32_t>(q.data.size());
    link->writeTimer.expires_after(Wait(q.ioTimeout));
    link->writeTimer.async_wait([link](asio::error_code ec) {
        if (ec || !link->writeReply) return;
        // Still running: the client hears of the timeout; its commands run all the same.
        std::exchange(link->writeReply,
                      nullptr)(WriteResult(DeviceError::IoTimeout, link->writeSize));
    });
    link->Progress();
}

void CoreChannel::Enqueue(const std::shared_ptr<Link>& link, std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    link->lines.push_back(std::move(line));
    scheduler_.Schedule(link);
}

void CoreChannel::Read(const std::shared_ptr<Link>& link, const Request& q, Reply reply) {
    link->readReply = std::move(reply);
    link->readSize = q.requestSize;
    link->readFlags = q.flags;
    link->readTerm = q.termChar;
    if (!link->output.empty()) return link->Progress();
    link->readTimer.expires_after(Wait(q.ioTimeout));
    link->readTimer.async_wait([link](asio::error_code ec) {
        if (ec || !link->readReply) return;
        std::exchange(link->readReply, nullptr)(ReadResult(DeviceError::IoTimeout, 0, {}));
    });
}

std::string CoreChannel::Abort(std::uint32_t id) {
    const auto it = links_.find(id);
    if (it == links_.end()) return ErrorResult(DeviceError::InvalidLink);
    it->second->Fail(DeviceError::Abort);
    return ErrorResult(DeviceError::None);
}

void CoreChannel::Destroy(const std::shared_ptr<Link>& link) {
    link->gone = true;
    link->lines.clear();
    link->Fail(DeviceError::InvalidLink);
    const bool wasLocked = link->locked;
    link->session().Unlock();
    link->locked = false;
    links_.erase(link->id);
    if (wasLocked) Unlocked();
}

bool CoreChannel::Engaged(std::uintptr_t owner) const {
    return std::any_of(links_.begin(), links_.end(), [owner](const auto& entry) {
        const Link& link = *entry.second;
        return link.owner == owner && (link.locked || link.Busy());
    });
}

void CoreChannel::Disconnected(std::uintptr_t owner) {
    std::vector<std::shared_ptr<Link>> mine;
    for (const auto& [id, link] : links_)
        if (link->owner == owner) mine.push_back(link);
    for (const auto& link : mine) Destroy(link);
}

void CoreChannel::CloseAll() {
    std::vector<std::shared_ptr<Link>> all;
    for (const auto& [id, link] : links_) all.push_back(link);
    for (const auto& link : all) Destroy(link);
}

void CoreChannel::WhenUnlocked(const std::shared_ptr<Link>& link, const Request& q,
                               const std::string& locked, const Reply& reply,
                               const std::function<void()>& then) {
    if (!link->session().LockedOut(link->key)) return then();
    if ((q.flags & kWaitLock) == 0 || q.lockTimeout == 0) return reply(locked);
    // Waits for the next unlock or the deadline, whichever first; then looks again.
    const auto deadline = Clock::now() + Wait(q.lockTimeout);
    auto done = std::make_shared<bool>(false);
    auto timer = std::make_shared<asio::steady_timer>(io_, deadline);
    auto retry = [this, alive = alive_, link, q, locked, reply, then, done, timer, deadline] {
        if (*done || !*alive || link->gone) return;
        *done = true;
        timer->cancel();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        Request rest = q;
        rest.lockTimeout = static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
        WhenUnlocked(link, rest, locked, reply, then);
    };
    timer->async_wait([retry](asio::error_code ec) {
        if (!ec) retry();
    });
    std::erase_if(unlockWaiters_, [](const auto& waiter) { return *waiter.first; });
    unlockWaiters_.emplace_back(done, std::move(retry));
}

void CoreChannel::Unlocked() {
    auto waiters = std::move(unlockWaiters_);
    unlockWaiters_.clear();
    for (auto& waiter : waiters) waiter.second();
}

}  // namespace tovrik::cli::vxi11
