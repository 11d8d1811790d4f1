// Discovery by name: the instrument's ways in announced by mDNS/DNS-SD through avahi-daemon,
// withdrawn when the announcer goes. Each front end adds its own service type. Without a
// daemon the server runs all the same: one line says so, and the services appear if the
// daemon starts later. Builds without avahi (Windows) announce nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tovrik::cli {

struct MdnsService {
    std::string type;  // e.g. "_scpi-raw._tcp"
    std::uint16_t port = 0;
    std::vector<std::string> txt;  // "key=value" entries
};

// The TXT entries every service carries: who the instrument is, under the keys LXI's
// discovery uses.
inline std::vector<std::string> IdentityTxt(const std::string& manufacturer,
                                            const std::string& model, const std::string& serial) {
    return {"txtvers=1", "Manufacturer=" + manufacturer, "Model=" + model,
            "SerialNumber=" + serial};
}

class Announcer {
  public:
    // Lines for standard error. Called from the constructor and from avahi's own thread, so
    // the caller hands them to its own thread.
    using Say = std::function<void(const std::string& line)>;

    Announcer(std::string name, Say say);
    ~Announcer();  // withdraws every service
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    // Announces one more service under the instance name, at once when the daemon is up.
    void Add(MdnsService service);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace tovrik::cli
