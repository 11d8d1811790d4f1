#include "cli/pacer.h"

namespace tovrik::cli {

Pacer& StopPacer() {
    // Never destroyed: a signal or the console's handler thread may wake it during exit.
    static Pacer* const pacer = MakePacer().release();
    return *pacer;
}

bool SleepUntil(std::uint64_t deadline, const volatile std::sig_atomic_t& stop) {
    Pacer& pacer = StopPacer();
    while (stop == 0) {
        if (pacer.SleepUntil(deadline)) return stop == 0;
    }
    return false;
}

}  // namespace tovrik::cli
