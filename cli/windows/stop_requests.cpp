// Asio brings winsock2.h, which has to come before windows.h.
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <mutex>
#include <thread>
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "cli/stop_requests.h"
#include "win32/dll_search.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tovrik::cli {
namespace {

volatile std::sig_atomic_t gStopRequested = 0;

// The console control handler runs on a thread of its own, the sweep or server on another.
struct Shared {
    HANDLE wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);      // wakes SleepUntil
    HANDLE finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);  // stop report sent
    std::mutex mutex;
    std::function<void()> onStop;
    ~Shared() {
        ::CloseHandle(wake);
        ::CloseHandle(finished);
    }
};

Shared& Global() {
    static Shared shared;
    return shared;
}

// `processEnds`: Windows ends the process as soon as the caller returns, so the stop report
// has to go out first.
void RequestStop(bool processEnds) {
    Shared& shared = Global();
    gStopRequested = 1;
    ::SetEvent(shared.wake);
    {
        std::lock_guard lock(shared.mutex);
        if (shared.onStop) shared.onStop();
    }
    if (processEnds) ::WaitForSingleObject(shared.finished, 4000);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    RequestStop(event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
                event == CTRL_SHUTDOWN_EVENT);
    return TRUE;
}

// A console program that has loaded user32 (setupapi brings it in on Windows) gets no
// CTRL_LOGOFF_EVENT or CTRL_SHUTDOWN_EVENT: Windows tells it of the session's end as it tells
// windowed programs, by WM_QUERYENDSESSION and WM_ENDSESSION to its top-level windows. A
// hidden one, on a thread of its own, takes them while stop requests are taken.
constexpr wchar_t kSessionWindowClass[] = L"TovrikctlSessionEnd";

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) RequestStop(true);
            return 0;
        case WM_CLOSE:
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

class SessionEndWindow {
  public:
    SessionEndWindow() {
        HANDLE created = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (created == nullptr) return;
        thread_ = std::thread([this, created] { Run(created); });
        ::WaitForSingleObject(created, INFINITE);
        ::CloseHandle(created);
    }
    ~SessionEndWindow() {
        if (window_ != nullptr) ::PostMessageW(window_, WM_CLOSE, 0, 0);
        if (thread_.joinable()) thread_.join();
    }
    SessionEndWindow(const SessionEndWindow&) = delete;
    SessionEndWindow& operator=(const SessionEndWindow&) = delete;

  private:
    void Run(HANDLE created) {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = SessionWindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kSessionWindowClass;
        ::RegisterClassW(&windowClass);  // fails harmlessly when a former window registered it
        // Top-level and never shown: a message-only window would get no session messages.
        window_ = ::CreateWindowExW(0, kSessionWindowClass, L"tovrikctl", WS_POPUP, 0, 0, 0, 0,
                                    nullptr, nullptr, instance, nullptr);
        ::SetEvent(created);
        if (window_ == nullptr) return;
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    }

    std::thread thread_;
    HWND window_ = nullptr;  // written before `created` is set, read after it
};

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
class SweepTimer {
  public:
    SweepTimer() {
        handle_ = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                           TIMER_ALL_ACCESS);
        if (handle_ == nullptr) {
            handle_ = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
            const TimerPeriod& period = Winmm();
            periodRaised_ = period.begin != nullptr && period.begin(1) == TIMERR_NOERROR;
        }
    }
    ~SweepTimer() {
        if (handle_ != nullptr) ::CloseHandle(handle_);
        if (periodRaised_) Winmm().end(1);
    }
    SweepTimer(const SweepTimer&) = delete;
    SweepTimer& operator=(const SweepTimer&) = delete;
    HANDLE handle() const { return handle_; }

  private:
    HANDLE handle_ = nullptr;
    bool periodRaised_ = false;
};

// Under Wine the timer wakes up to a millisecond late (measured: 0.6 ms at the median), on
// Windows about half that. The last millisecond before a deadline is spun instead: at a 1 ms
// dwell that keeps a core busy, at 10 ms a tenth of one.
constexpr std::uint64_t kSpinNanoseconds = 1'000'000;

}  // namespace

struct StopRequests::Saved {
    SessionEndWindow sessionEnd;
};

StopRequests::StopRequests() {
    gStopRequested = 0;
    ::ResetEvent(Global().wake);
    ::ResetEvent(Global().finished);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    saved_ = std::make_unique<Saved>();
}

StopRequests::~StopRequests() {
    ::SetEvent(Global().finished);
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    saved_.reset();  // after `finished`, which a session's end waits for
}

const volatile std::sig_atomic_t& StopRequests::flag() const {
    return gStopRequested;
}

struct StopOnRequest::Impl {
    StopRequests requests;
};

StopOnRequest::StopOnRequest(asio::io_context& io, std::function<void()> onStop)
    : impl_(std::make_unique<Impl>()) {
    std::lock_guard lock(Global().mutex);
    Global().onStop = [&io, onStop = std::move(onStop)] { asio::post(io, onStop); };
}

StopOnRequest::~StopOnRequest() {
    std::lock_guard lock(Global().mutex);
    Global().onStop = nullptr;
}

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

bool SleepUntil(std::uint64_t deadline, const volatile std::sig_atomic_t& stop) {
    thread_local SweepTimer timer;
    while (stop == 0) {
        const std::uint64_t now = NowNanoseconds();
        if (now >= deadline) return true;
        if (deadline - now <= kSpinNanoseconds) {
            ::SwitchToThread();
            continue;
        }
        // Relative due times, in 100 ns units, follow the performance counter; absolute ones
        // would follow the wall clock.
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>((deadline - now - kSpinNanoseconds) / 100);
        if (timer.handle() == nullptr ||
            !::SetWaitableTimer(timer.handle(), &due, 0, nullptr, nullptr, FALSE)) {
            ::Sleep(static_cast<DWORD>((deadline - now - kSpinNanoseconds) / 1'000'000u));
            continue;
        }
        const HANDLE handles[] = {timer.handle(), Global().wake};
        ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    }
    return false;
}

}  // namespace tovrik::cli
