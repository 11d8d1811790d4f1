// Asio brings winsock2.h, which has to come before windows.h.
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <mutex>
// clang-format off
#include <windows.h>
// clang-format on

#include "cli/stop_requests.h"

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

BOOL WINAPI OnConsoleControl(DWORD event) {
    Shared& shared = Global();
    gStopRequested = static_cast<std::sig_atomic_t>(event + 1);
    StopPacer().Wake();
    {
        std::lock_guard lock(shared.mutex);
        if (shared.onStop) shared.onStop(ExitStatusAfter(event));
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process as soon as this returns: first the stop report goes out.
        ::WaitForSingleObject(shared.finished, 4000);
    }
    return TRUE;
}

}  // namespace

struct StopRequests::Saved {};

StopRequests::StopRequests() {
    gStopRequested = 0;
    StopPacer();  // made here, not first on the handler's thread
    ::ResetEvent(Global().finished);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
    ::SetEvent(Global().finished);
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
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
