// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "cli/pacer.h"

#include "win32/dll_search.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tovrik::cli {
namespace {

// Under Wine the timer wakes up to a millisecond late (measured: 0.6 ms at the median), on
// Windows about half that. The last millisecond before a deadline is spun instead: at a 1 ms
// dwell that keeps a core busy, at 10 ms a tenth of one.
constexpr std::uint64_t kSpinNanoseconds = 1'000'000;

// winmm.dll is no KnownDLL: bound from System32 when the fallback timer needs it.
struct TimerPeriod {
    decltype(&::timeBeginPeriod) begin = nullptr;
    decltype(&::timeEndPeriod) end = nullptr;
};

const TimerPeriod& Winmm() {
    static const TimerPeriod period = [] {
        TimerPeriod bound;
        HMODULE winmm = win::LoadSystemLibrary(L"winmm.dll");
        if (winmm == nullptr) return bound;
        bound.begin = reinterpret_cast<decltype(bound.begin)>(
            reinterpret_cast<void*>(::GetProcAddress(winmm, "timeBeginPeriod")));
        bound.end = reinterpret_cast<decltype(bound.end)>(
            reinterpret_cast<void*>(::GetProcAddress(winmm, "timeEndPeriod")));
        if (bound.begin == nullptr || bound.end == nullptr) bound = TimerPeriod{};
        return bound;
    }();
    return period;
}

// A waitable timer of about 0.5 ms resolution where the system has them (Windows 10 1803
// on); elsewhere an ordinary one, with the system tick raised from 15.6 ms to 1 ms.
class WindowsPacer final : public Pacer {
  public:
    WindowsPacer() {
        timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
        if (timer_ == nullptr) {
            timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
            const TimerPeriod& period = Winmm();
            periodRaised_ = period.begin != nullptr && period.begin(1) == TIMERR_NOERROR;
        }
    }
    ~WindowsPacer() override {
        if (timer_ != nullptr) ::CloseHandle(timer_);
        if (wake_ != nullptr) ::CloseHandle(wake_);
        if (periodRaised_) Winmm().end(1);
    }
    WindowsPacer(const WindowsPacer&) = delete;
    WindowsPacer& operator=(const WindowsPacer&) = delete;

    bool SleepUntil(std::uint64_t deadline) override {
        for (;;) {
            const std::uint64_t now = NowNanoseconds();
            if (now >= deadline) return true;
            if (deadline == kNoDeadline) {
                ::WaitForSingleObject(wake_, INFINITE);
                return false;
            }
            if (deadline - now <= kSpinNanoseconds) {
                if (::WaitForSingleObject(wake_, 0) == WAIT_OBJECT_0) return false;
                ::SwitchToThread();
                continue;
            }
            // Relative due times, in 100 ns units, follow the performance counter; absolute
            // ones would follow the wall clock.
            LARGE_INTEGER due{};
            due.QuadPart = -static_cast<LONGLONG>((deadline - now - kSpinNanoseconds) / 100);
            if (timer_ == nullptr ||
                !::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
                const auto ms =
                    static_cast<DWORD>((deadline - now - kSpinNanoseconds) / 1'000'000u);
                if (::WaitForSingleObject(wake_, ms) == WAIT_OBJECT_0) return false;
                continue;
            }
            const HANDLE handles[] = {timer_, wake_};
            if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
                return false;
        }
    }

    void Wake() override { ::SetEvent(wake_); }

  private:
    HANDLE timer_ = nullptr;
    HANDLE wake_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
    bool periodRaised_ = false;
};

}  // namespace

std::uint64_t NowNanoseconds() {
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);
        return static_cast<std::uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    // In two parts, so that ticks * 1e9 cannot overflow.
    return ticks / frequency * 1'000'000'000u + ticks % frequency * 1'000'000'000u / frequency;
}

std::unique_ptr<Pacer> MakePacer() {
    return std::make_unique<WindowsPacer>();
}

}  // namespace tovrik::cli
