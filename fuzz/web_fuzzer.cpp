// Arbitrary JSON bodies for the web API's PUT /api/channels/N, through to the SCPI engine.
// Holds: parsing never throws; a body the API accepts becomes lines the engine carries out
// without an error (the two agree on what is valid); a refused one gives an error that is
// JSON again, with a negative SCPI code.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <variant>

#include "cli/scpi.h"
#include "cli/web/api.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace tovrik;
using namespace tovrik::cli;

class QuietDevice : public ScpiDevice {
  public:
    std::optional<ScpiError> Carry(const DeviceOrder&) override { return std::nullopt; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned channel = 1 + data[0] % kMaxChannels;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto request = web::ChannelRequest(channel, body);
    if (const auto* error = std::get_if<web::ApiError>(&request)) {
        const auto json = nlohmann::json::parse(web::ToJson(*error), nullptr, false);
        FUZZ_CHECK(!json.is_discarded());
        FUZZ_CHECK(json["error"]["code"].get<int>() < 0);
        return 0;
    }
    QuietDevice device;
    ScpiEngine engine(device);
    engine.MakeBank();
    for (unsigned n = 1; n <= channel; ++n) engine.Arrive("TVK" + std::to_string(n), "1");
    ScpiClient client;
    for (const std::string& line : std::get<std::vector<std::string>>(request)) {
        engine.Execute(client, line);
        FUZZ_CHECK(client.errors.empty());
    }
    return 0;
}
