#include "cli/raw/admission.h"

#include <algorithm>
#include <asio/ip/address.hpp>
#include <cctype>
#include <charconv>
#include <utility>

namespace tovrik::cli {

std::optional<std::size_t> ChooseEviction(const std::vector<ClientActivity>& clients,
                                          ClientActivity::Clock::time_point now,
                                          std::chrono::seconds idle) {
    const auto pick = [&](auto eligible, auto since) -> std::optional<std::size_t> {
        std::optional<std::size_t> best;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            const ClientActivity& c = clients[i];
            if (c.busy || !eligible(c)) continue;
            if (!best || since(c) < since(clients[*best])) best = i;
        }
        return best;
    };
    if (auto trickler = pick([](const auto& c) { return !c.completedLine && c.partialSince; },
                             [](const auto& c) { return *c.partialSince; })) {
        return trickler;
    }
    const auto mute = std::min<ClientActivity::Clock::duration>(idle, kLineDeadline);
    if (auto silent = pick(
            [&](const auto& c) {
                return !c.completedLine && !c.partialSince && now - c.connected >= mute;
            },
            [](const auto& c) { return c.connected; })) {
        return silent;
    }
    return pick([&](const auto& c) { return !c.partialSince && now - c.lastHeard >= idle; },
                [](const auto& c) { return c.lastHeard; });
}

bool LooksLikeHttp(std::string_view line) {
    const auto startsWith = [&](std::string_view prefix) {
        if (line.size() < prefix.size()) return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::toupper(static_cast<unsigned char>(line[i])) != prefix[i]) return false;
        }
        return true;
    };
    if (startsWith("HOST:")) return true;
    if (line.find(" HTTP/1.") == std::string_view::npos) return false;
    static constexpr std::array<std::string_view, 5> kMethods = {"GET ", "POST ", "PUT ",
                                                                 "OPTIONS ", "HEAD "};
    return std::any_of(kMethods.begin(), kMethods.end(), startsWith);
}

namespace {

// The 16 bytes of an address; IPv4 as ::ffff:a.b.c.d.
std::optional<std::array<std::uint8_t, 16>> AddressBytes(std::string_view text, bool& v4) {
    asio::error_code ec;
    const asio::ip::address address = asio::ip::make_address(std::string(text), ec);
    if (ec) return std::nullopt;
    v4 = address.is_v4();
    if (v4) return asio::ip::make_address_v6(asio::ip::v4_mapped, address.to_v4()).to_bytes();
    return address.to_v6().to_bytes();
}

}  // namespace

std::optional<AddressRange> ParseAddressRange(std::string_view text) {
    const std::size_t slash = text.find('/');
    bool v4 = false;
    const auto bytes = AddressBytes(text.substr(0, slash), v4);
    if (!bytes) return std::nullopt;
    AddressRange range{*bytes, 128};
    if (slash == std::string_view::npos) return range;
    const std::string_view digits = text.substr(slash + 1);
    unsigned prefix = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
        prefix > (v4 ? 32u : 128u)) {
        return std::nullopt;
    }
    range.prefix = v4 ? prefix + 96 : prefix;
    return range;
}

bool InRange(const AddressRange& range, std::string_view address) {
    bool v4 = false;
    const auto client = AddressBytes(address, v4);
    if (!client) return false;
    for (unsigned bit = 0; bit < range.prefix; ++bit) {
        const unsigned mask = 0x80u >> (bit % 8);
        if (((*client)[bit / 8] & mask) != (range.bytes[bit / 8] & mask)) return false;
    }
    return true;
}

std::string Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (u >= 0x20 && u < 0x7F && ch != '\\') {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

const char* CloseReasonText(CloseReason reason) {
    switch (reason) {
        case CloseReason::NotAllowed:
            return "not allowed";
        case CloseReason::Full:
            return "no room";
        case CloseReason::Evicted:
            return "evicted";
        case CloseReason::LineDeadline:
            return "line deadline";
        case CloseReason::Http:
            return "HTTP";
        case CloseReason::OutputBacklog:
            return "output unread";
        case CloseReason::Count:
            break;
    }
    return "?";
}

std::string CloseTally::Summary() const {
    std::uint64_t total = 0;
    std::string parts;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        if (counts_[i] == 0) continue;
        total += counts_[i];
        parts += (parts.empty() ? "" : ", ") +
                 std::string(CloseReasonText(static_cast<CloseReason>(i))) + " " +
                 std::to_string(counts_[i]);
    }
    return total == 0 ? std::string() : std::to_string(total) + " (" + parts + ")";
}

Admission::Admission(asio::io_context& io, std::vector<AddressRange> allowed,
                     std::chrono::seconds idle, std::ostream& err, std::size_t capacity,
                     std::string label)
    : housekeeping_(io),
      allowed_(std::move(allowed)),
      idle_(idle),
      err_(err),
      capacity_(capacity),
      label_(std::move(label)) {
    Housekeep();
}

bool Admission::Admit(asio::ip::tcp::socket& socket) {
    std::optional<CloseReason> refused;
    if (!Allowed(socket)) {
        refused = CloseReason::NotAllowed;
    } else if (connections_.size() >= capacity_ && !EvictOne()) {
        refused = CloseReason::Full;
    }
    if (!refused) return true;
    asio::error_code ec;
    const auto peer = socket.remote_endpoint(ec);
    Log(ec ? std::string("?") : peer.address().to_string() + ":" + std::to_string(peer.port()),
        *refused, {});
    socket.close(ec);
    return false;
}

void Admission::Add(const std::shared_ptr<AdmittedClient>& client) {
    connections_.insert(client);
}

bool Admission::FirstLine(const std::shared_ptr<AdmittedClient>& client, std::string_view line) {
    if (!LooksLikeHttp(line)) return true;
    Drop(client, CloseReason::Http, Printable(line.substr(0, 200)));
    return false;
}

void Admission::Drop(const std::shared_ptr<AdmittedClient>& client, std::optional<CloseReason> why,
                     std::string_view detail) {
    // Once: a connection a limit closed is gone by the time its read fails too, and a
    // client's Close may call back here.
    if (connections_.erase(client) == 0) return;
    if (why) Log(client->peer(), *why, detail);
    client->Close();
}

void Admission::CloseAll() {
    housekeeping_.cancel();
    // Taken out first: a client's Close may call Drop.
    const auto all = std::exchange(connections_, {});
    for (const auto& c : all) c->Close();
}

void Admission::Log(const std::string& peer, CloseReason why, std::string_view detail) {
    closes_.Count(why);
    err_ << "tovrikctl: closed " << label_ << peer << ": " << CloseReasonText(why)
         << (detail.empty() ? "" : ": ") << detail << std::endl;
}

bool Admission::Allowed(const asio::ip::tcp::socket& socket) const {
    if (allowed_.empty()) return true;
    asio::error_code ec;
    const auto peer = socket.remote_endpoint(ec);
    if (ec) return false;
    const std::string address = peer.address().to_string();
    return std::any_of(allowed_.begin(), allowed_.end(),
                       [&](const AddressRange& range) { return InRange(range, address); });
}

bool Admission::EvictOne() {
    const std::vector<std::shared_ptr<AdmittedClient>> all(connections_.begin(),
                                                           connections_.end());
    std::vector<ClientActivity> activities;
    activities.reserve(all.size());
    for (const auto& c : all) activities.push_back(c->activity());
    const auto chosen = ChooseEviction(activities, ClientActivity::Clock::now(), idle_);
    if (!chosen) return false;
    Drop(all[*chosen], CloseReason::Evicted);
    return true;
}

// Drops clients whose line has taken too long.
void Admission::Housekeep() {
    housekeeping_.expires_after(std::chrono::milliseconds(250));
    housekeeping_.async_wait([this](asio::error_code ec) {
        if (ec) return;
        const auto now = ClientActivity::Clock::now();
        std::vector<std::shared_ptr<AdmittedClient>> late;
        for (const auto& c : connections_) {
            const auto since = c->activity().partialSince;
            if (since && now - *since > kLineDeadline) late.push_back(c);
        }
        for (const auto& c : late) Drop(c, CloseReason::LineDeadline);
        Housekeep();
    });
}

}  // namespace tovrik::cli
