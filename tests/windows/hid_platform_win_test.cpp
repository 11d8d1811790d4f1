// The Windows HID backend against named pipes under Wine: paths that are no HID interface are
// never opened, a write nobody takes ends after its time limit, and errors read in the user's
// language.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>

#include "device/windows/hid_platform.h"

namespace tovrik {
namespace {

struct Closer {
    void operator()(void* h) const { ::CloseHandle(h); }
};
using Handle = std::unique_ptr<void, Closer>;

std::wstring PipeName(const wchar_t* tag) {
    return L"\\\\.\\pipe\\tovrik-" + std::wstring(tag) + std::to_wstring(::GetCurrentProcessId());
}

// A pipe server with no buffer: a client's write waits until the server reads.
Handle Serve(const std::wstring& name) {
    const HANDLE h = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                        PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
    return Handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// Whether a client connected to `server` since it was created.
bool EverConnected(HANDLE server) {
    OVERLAPPED overlapped{};
    const Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = event.get();
    if (::ConnectNamedPipe(server, &overlapped)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        ::CancelIoEx(server, &overlapped);
        DWORD n = 0;
        ::GetOverlappedResult(server, &overlapped, &n, TRUE);
        return false;
    }
    return error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA;
}

TEST(WindowsHidPlatform, OpensOnlyHidInterfacePaths) {
    const std::wstring name = PipeName(L"open-");
    const Handle server = Serve(name);
    ASSERT_TRUE(server);
    const std::string path(name.begin(), name.end());
    WindowsHidPlatform platform;
    for (const std::string& refused : {path, std::string("\\\\.\\COM1"), std::string("NUL"),
                                       std::string("\\\\?\\hid"), std::string()}) {
        const OpenResult opened = platform.Open(refused, ShareMode::Shared);
        EXPECT_EQ(opened.handle, kNoNativeHandle) << refused;
        EXPECT_NE(opened.error, 0) << refused;
    }
    EXPECT_FALSE(EverConnected(server.get())) << "the pipe server saw a client";

    EXPECT_TRUE(IsHidInterfacePath("\\\\?\\hid#vid_1774&pid_9851#7&1"));
    EXPECT_TRUE(IsHidInterfacePath("\\\\?\\HID#VID_1774&PID_9851#7&1"));
    EXPECT_FALSE(IsHidInterfacePath("\\\\.\\hid#vid_1774"));
    EXPECT_FALSE(IsHidInterfacePath("\\\\?\\usb#vid_1774&pid_9851"));
}

TEST(WindowsHidPlatform, AWriteNobodyTakesFailsAfterItsLimit) {
    const std::wstring name = PipeName(L"write-");
    const Handle server = Serve(name);
    ASSERT_TRUE(server);
    const Handle client(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_NE(client.get(), INVALID_HANDLE_VALUE);
    WindowsHidPlatform platform;
    const auto start = std::chrono::steady_clock::now();
    const SystemError error =
        platform.WriteReport(reinterpret_cast<NativeHandle>(client.get()), OutputReport{});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error, static_cast<SystemError>(ERROR_TIMEOUT));
    EXPECT_GE(took, std::chrono::milliseconds(kWriteTimeoutMs - 100));
    EXPECT_LT(took, std::chrono::seconds(20));  // not for ever
}

// A request that completed between the wait's time limit and the cancel has its own result.
TEST(WindowsHidPlatform, ACancelledRequestKeepsTheResultItCompletedWith) {
    const struct {
        bool completed;
        DWORD error;
        DWORD result;
    } cases[] = {
        {true, 0, 0},
        {false, ERROR_OPERATION_ABORTED, ERROR_TIMEOUT},
        {false, ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_NOT_CONNECTED},
        {false, 0, ERROR_TIMEOUT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ResultAfterCancel(c.completed, c.error), static_cast<SystemError>(c.result))
            << c.completed << " " << c.error;
    }
}

TEST(WindowsHidPlatform, DescribesErrorsInTheSystemsWordsOrByNumber) {
    WindowsHidPlatform platform;
    const FailureReason timeout = platform.Describe(ERROR_TIMEOUT);
    EXPECT_EQ(timeout.kind, FailureKind::Other);
    ASSERT_FALSE(timeout.text.empty());
    EXPECT_NE(timeout.text, "error 1460");
    EXPECT_EQ(timeout.text.find_first_of(".\r\n", timeout.text.size() - 1), std::string::npos)
        << timeout.text;
    EXPECT_FALSE(timeout.text[0] >= 'A' && timeout.text[0] <= 'Z') << timeout.text;
    EXPECT_EQ(platform.Describe(0x2000FFFF).text, "error 536936447");
}

}  // namespace
}  // namespace tovrik
