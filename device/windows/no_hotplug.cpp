#include "device/hotplug.h"

namespace tovrik {

// Windows callers rescan on a timer: cheap next to what a device notification window costs a
// console program.
std::unique_ptr<HotplugMonitor> WatchHidInterfaces() {
    return nullptr;
}

}  // namespace tovrik
