// Asio brings winsock2.h, which has to come before windows.h.
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <mutex>
#include <thread>
// clang-format off
#include <windows.h>
// clang-format on

#include "cli/stop_requests.h"
#include "win32/dll_search.h"

namespace tovrik::cli {
namespace {

volatile std::sig_atomic_t gStopRequested = 0;

// The console control handler runs on a thread of its own, the sweep or server on another.
struct Shared {
    HANDLE finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);  // stop report sent
    std::mutex mutex;
    std::function<void(int)> onStop;
    ~Shared() { ::CloseHandle(finished); }
};

Shared& Global() {
    static Shared shared;
    return shared;
}

// As a program Ctrl+C ended would: what cmd.exe shows as -1073741510.
int ExitStatusAfter(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? static_cast<int>(0xC000013Au) : 0;
}

// `event` as a console control event would tell it; with `processEnds` Windows ends the
// process as soon as the caller returns, so the stop report has to go out first.
void RequestStop(DWORD event, bool processEnds) {
    Shared& shared = Global();
    gStopRequested = static_cast<std::sig_atomic_t>(event + 1);
    StopPacer().Wake();
    {
        std::lock_guard lock(shared.mutex);
        if (shared.onStop) shared.onStop(ExitStatusAfter(event));
    }
    if (processEnds) ::WaitForSingleObject(shared.finished, 4000);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    RequestStop(event, event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
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
            if (wParam != FALSE) RequestStop(CTRL_LOGOFF_EVENT, true);
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

}  // namespace

struct StopRequests::Saved {
    SessionEndWindow sessionEnd;
};

StopRequests::StopRequests() {
    gStopRequested = 0;
    StopPacer();  // made here, not first on the handler's thread
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

int StopRequests::exitStatus() const {
    return gStopRequested == 0 ? 0 : ExitStatusAfter(static_cast<DWORD>(gStopRequested - 1));
}

struct StopOnRequest::Impl {
    StopRequests requests;
};

StopOnRequest::StopOnRequest(asio::io_context& io, std::function<void(int)> onStop)
    : impl_(std::make_unique<Impl>()) {
    std::lock_guard lock(Global().mutex);
    Global().onStop = [&io, onStop = std::move(onStop)](int status) {
        asio::post(io, [onStop, status] { onStop(status); });
    };
}

StopOnRequest::~StopOnRequest() {
    std::lock_guard lock(Global().mutex);
    Global().onStop = nullptr;
}

}  // namespace tovrik::cli
