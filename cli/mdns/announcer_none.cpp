// A build without libavahi-client: nothing is announced.
#include "cli/mdns/announcer.h"

namespace tovrik::cli {

struct Announcer::State {};

// The avahi build keeps what these take; the signatures are shared with it.
// NOLINTBEGIN(performance-unnecessary-value-param)

Announcer::Announcer(std::string /*name*/, Say say) {
#ifndef _WIN32
    // Windows has no avahi to ask: silence there; elsewhere this build is missing a part.
    say("tovrikctl: mDNS: built without avahi support; not announcing the instrument");
#else
    (void)say;
#endif
}
Announcer::~Announcer() = default;
void Announcer::Add(MdnsService /*service*/) {}
// NOLINTEND(performance-unnecessary-value-param)

}  // namespace tovrik::cli
