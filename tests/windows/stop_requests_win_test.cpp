// tovrikctl at the session's end: a console program that has loaded user32 is told by
// WM_ENDSESSION, not by a console event, and must stop as Ctrl+C stops it, the stop report
// out before Windows ends the process.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "cli/stop_requests.h"

namespace tovrik::cli {
namespace {

BOOL CALLBACK TakeSessionWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (process != ::GetCurrentProcessId() || std::wstring(name) != L"TovrikctlSessionEnd")
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// This process's top-level window of the class tovrikctl's stop requests create.
HWND SessionWindow() {
    HWND found = nullptr;
    ::EnumWindows(TakeSessionWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool WaitFor(const volatile std::sig_atomic_t& flag) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (flag == 0 && std::chrono::steady_clock::now() < until) ::Sleep(5);
    return flag != 0;
}

TEST(WindowsStopRequests, TheSessionsEndStopsAndWaitsForTheStopReport) {
    for (const bool ending : {false, true}) {
        std::optional<StopRequests> requests(std::in_place);
        const HWND window = SessionWindow();
        ASSERT_NE(window, nullptr) << "no window for the session's end";
        EXPECT_FALSE(::IsWindowVisible(window));
        EXPECT_NE(::SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 0);
        std::atomic<bool> answered{false};
        std::thread session([&] {
            ::SendMessageW(window, WM_ENDSESSION, ending, ENDSESSION_LOGOFF);
            answered = true;
        });
        if (!ending) {
            // A session end someone cancelled.
            session.join();
            EXPECT_EQ(requests->flag(), 0);
            continue;
        }
        ASSERT_TRUE(WaitFor(requests->flag()));
        ::Sleep(100);
        EXPECT_FALSE(answered) << "Windows could end the process before the stop report";
        requests.reset();  // the sweep has sent its report
        session.join();
        EXPECT_TRUE(answered);
        EXPECT_EQ(SessionWindow(), nullptr);
    }
}

}  // namespace
}  // namespace tovrik::cli
