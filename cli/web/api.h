// The web front end's logic apart from sockets: what the page and the JSON API show of the
// instrument, read from SCPI answers, and what a request body asks for, as SCPI lines.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tovrik::cli::web {

struct ChannelView {
    unsigned number = 1;
    std::string serial;
    bool present = true;
    double hz = 0;
    bool output = false;
    std::optional<bool> sweeping;  // none where the instrument cannot tell
};

struct InstrumentView {
    std::string manufacturer, model, serial, firmware;
    std::vector<ChannelView> channels;
};

// INST:CAT:FULL?'s answer ("\"TVK00002\",1,\"TVK00004\",2"; "\"\"" for none): number to
// name. Empty on an answer of another form.
std::optional<std::map<unsigned, std::string>> ParseCatalog(std::string_view answer);

// *IDN?'s four fields into the view's identity; false when it has another form.
bool ParseIdentity(std::string_view answer, InstrumentView& view);

// The view as the API's JSON: identity, then per channel its state and the readout text.
std::string ToJson(const InstrumentView& view);

// An error as the API returns it: the HTTP status, and the SCPI error's number and text.
struct ApiError {
    int status = 400;
    int code = 0;
    std::string text;
};
std::string ToJson(const ApiError& error);
// "-222,\"Data out of range\"" (SYST:ERR?'s answer) as an error; none for "0,...".
std::optional<ApiError> ParseSystemError(std::string_view answer);

// PUT /api/channels/N's body, {"frequency": hz or "12.5 MHz", "output": bool}, either alone:
// the SCPI lines that carry it out on channel N, frequency first. Unknown members, other
// types and an empty object are errors.
std::variant<std::vector<std::string>, ApiError> ChannelRequest(unsigned channel,
                                                                std::string_view body);

// The LXI identification document; `host` as the client named the server (no port),
// `address` the one it connected to.
std::string LxiIdentification(const InstrumentView& view, std::string_view host,
                              std::string_view address, unsigned short rawPort);

// Whether a Host header names this server: the address the client connected to (IPv6 in
// brackets) or the machine's name, with the port unless it is 80. Anything else is a name
// an attacker's page may have rebound to us.
bool HostAllowed(std::string_view host, const std::vector<std::string>& names, unsigned short port);

// Whether Accept-Language ranks English above Japanese (and everything else).
bool PrefersEnglish(std::string_view acceptLanguage);

// Comparison that takes as long for a near miss as for a far one.
bool SameToken(std::string_view a, std::string_view b);

}  // namespace tovrik::cli::web
