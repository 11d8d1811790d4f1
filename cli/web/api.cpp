#include "cli/web/api.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/scpi.h"
#include "cli/units.h"
#include "controller/readout.h"

namespace tovrik::cli::web {
namespace {

using nlohmann::json;

ApiError Error(ScpiCode code, std::string_view detail = {}) {
    const ScpiError e = MakeError(code, detail);
    return {400, e.code, e.text};
}

// Splits at commas outside double quotes.
std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> out;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || (text[i] == ',' && !quoted)) {
            out.push_back(text.substr(start, i - start));
            start = i + 1;
        } else if (text[i] == '"') {
            quoted = !quoted;
        }
    }
    return out;
}

std::optional<std::string> Unquote(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
    return std::string(text.substr(1, text.size() - 2));
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string EscapeXml(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<std::map<unsigned, std::string>> ParseCatalog(std::string_view answer) {
    std::map<unsigned, std::string> out;
    if (answer == "\"\"") return out;
    const auto fields = Fields(answer);
    if (fields.size() % 2 != 0) return std::nullopt;
    for (std::size_t i = 0; i < fields.size(); i += 2) {
        const auto name = Unquote(fields[i]);
        const std::string_view digits = fields[i + 1];
        if (!name || digits.empty() || digits.size() > 2 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        out[static_cast<unsigned>(std::stoul(std::string(digits)))] = *name;
    }
    return out;
}

bool ParseIdentity(std::string_view answer, InstrumentView& view) {
    const auto fields = Fields(answer);
    if (fields.size() != 4) return false;
    view.manufacturer = fields[0];
    view.model = fields[1];
    view.serial = fields[2];
    view.firmware = fields[3];
    return true;
}

std::string ToJson(const InstrumentView& view) {
    json channels = json::array();
    for (const ChannelView& c : view.channels) {
        channels.push_back({{"channel", c.number},
                            {"serial", c.serial},
                            {"present", c.present},
                            {"frequency", c.hz},
                            {"readout", FormatReadout(c.hz, kDisplayHundredths)},
                            {"output", c.output},
                            {"sweeping", c.sweeping ? json(*c.sweeping) : json(nullptr)}});
    }
    return json{{"manufacturer", view.manufacturer},
                {"model", view.model},
                {"serial", view.serial},
                {"firmware", view.firmware},
                {"channels", std::move(channels)}}
        .dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string ToJson(const ApiError& error) {
    return json{{"error", {{"code", error.code}, {"text", error.text}}}}.dump(
        -1, ' ', false, json::error_handler_t::replace);
}

std::optional<ApiError> ParseSystemError(std::string_view answer) {
    const std::size_t comma = answer.find(',');
    if (comma == std::string_view::npos) return ApiError{500, -100, std::string(answer)};
    const std::string number(answer.substr(0, comma));
    if (number == "0") return std::nullopt;
    ApiError error;
    try {
        error.code = std::stoi(number);
    } catch (const std::exception&) {
        error.code = -100;
    }
    error.text = Unquote(answer.substr(comma + 1)).value_or(std::string(answer.substr(comma + 1)));
    // The device, not the request, is at fault.
    if (error.code == static_cast<int>(ScpiCode::HardwareError) ||
        error.code == static_cast<int>(ScpiCode::HardwareMissing))
        error.status = 503;
    return error;
}

std::variant<std::vector<std::string>, ApiError> ChannelRequest(unsigned channel,
                                                                std::string_view body) {
    const json request = json::parse(body, nullptr, false);
    if (request.is_discarded() || !request.is_object() || request.empty())
        return Error(ScpiCode::SyntaxError, "a JSON object with frequency and/or output");
    const std::string n = std::to_string(channel);
    std::vector<std::string> lines;
    std::optional<std::string> output;
    for (const auto& [key, value] : request.items()) {
        if (key == "frequency") {
            double hz = 0;
            if (value.is_number()) {
                hz = value.get<double>();
                if (!std::isfinite(hz) || hz < 0 || hz > 80e6)
                    return Error(ScpiCode::DataOutOfRange, "frequency");
            } else if (value.is_string()) {
                const auto parsed = ParseFrequency(value.get<std::string>());
                if (const auto* e = std::get_if<ParseError>(&parsed))
                    return Error(ScpiCode::IllegalParameterValue, e->message);
                hz = std::get<double>(parsed);
            } else {
                return Error(ScpiCode::DataTypeError, "frequency wants a number of Hz or text");
            }
            lines.push_back("SOUR" + n + ":FREQ " + FormatNumber(hz));
        } else if (key == "output") {
            if (!value.is_boolean())
                return Error(ScpiCode::DataTypeError, "output wants true or false");
            output = "OUTP" + n + (value.get<bool>() ? " ON" : " OFF");
        } else {
            return Error(ScpiCode::ParameterNotAllowed, "unknown member");
        }
    }
    if (output) lines.push_back(*output);
    return lines;
}

std::string LxiIdentification(const InstrumentView& view, std::string_view host,
                              std::string_view address, unsigned short rawPort) {
    const std::string h = EscapeXml(host);
    const bool v6 = address.find(':') != std::string_view::npos;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.lxistandard.org/InstrumentIdentification/1.0 "
        "http://" +
        h + "/lxi/identification/LXIIdentification.xsd\">\n";
    xml += "  <Manufacturer>" + EscapeXml(view.manufacturer) + "</Manufacturer>\n";
    xml += "  <Model>" + EscapeXml(view.model) + "</Model>\n";
    xml += "  <SerialNumber>" + EscapeXml(view.serial) + "</SerialNumber>\n";
    xml += "  <FirmwareRevision>" + EscapeXml(view.firmware) + "</FirmwareRevision>\n";
    xml += "  <ManufacturerDescription>TOVRIK DDS signal generator, " +
           std::to_string(view.channels.size()) + " channel(s)</ManufacturerDescription>\n";
    xml += "  <HomepageURL>http://" + h + "/</HomepageURL>\n";
    xml += "  <DriverURLs/>\n";
    xml += "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"" +
           std::string(v6 ? "IPv6" : "IPv4") + "\" InterfaceName=\"eth0\">\n";
    xml += "    <InstrumentAddressString>TCPIP::" + h + "::INSTR</InstrumentAddressString>\n";
    xml += "    <InstrumentAddressString>TCPIP::" + h + "::" + std::to_string(rawPort) +
           "::SOCKET</InstrumentAddressString>\n";
    xml += "    <Hostname>" + h + "</Hostname>\n";
    xml += "    <IPAddress>" + EscapeXml(address) + "</IPAddress>\n";
    xml += "    <SubnetMask>0.0.0.0</SubnetMask>\n";
    xml += "    <MACAddress>00-00-00-00-00-00</MACAddress>\n";
    xml += "    <Gateway>0.0.0.0</Gateway>\n";
    xml += "    <DHCPEnabled>false</DHCPEnabled>\n";
    xml += "    <AutoIPEnabled>false</AutoIPEnabled>\n";
    xml += "  </Interface>\n";
    xml += "  <Domain>0</Domain>\n";
    xml += "  <LXIVersion>1.4</LXIVersion>\n";
    xml += "</LXIDevice>\n";
    return xml;
}

bool HostAllowed(std::string_view host, const std::vector<std::string>& names,
                 unsigned short port) {
    std::string name = Lower(host);
    const std::string suffix = ":" + std::to_string(port);
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        name.resize(name.size() - suffix.size());
    } else if (port != 80) {
        return false;
    }
    if (!name.empty() && name.back() == '.') name.pop_back();
    return !name.empty() && std::any_of(names.begin(), names.end(),
                                        [&](const std::string& n) { return Lower(n) == name; });
}

bool PrefersEnglish(std::string_view acceptLanguage) {
    double best = -1;
    bool english = false;
    for (std::string_view item : Fields(acceptLanguage)) {
        const std::size_t semi = item.find(';');
        std::string tag = Lower(item.substr(0, semi));
        tag.erase(std::remove(tag.begin(), tag.end(), ' '), tag.end());
        double q = 1;
        if (semi != std::string_view::npos) {
            const std::string params = Lower(item.substr(semi + 1));
            const std::size_t at = params.find("q=");
            if (at != std::string::npos) q = std::strtod(params.c_str() + at + 2, nullptr);
        }
        if (!(q > best)) continue;
        best = q;
        english = tag == "en" || tag.rfind("en-", 0) == 0;
    }
    return english;
}

bool SameToken(std::string_view a, std::string_view b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    }
    return diff == 0;
}

}  // namespace tovrik::cli::web
