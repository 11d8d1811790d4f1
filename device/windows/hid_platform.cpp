#include "device/windows/hid_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the HID and Setup API headers build on its types. MinGW's hidsdi.h has no
// C linkage of its own.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}
// winioctl.h gives hidclass.h its control-code macros.
#include <hidclass.h>
#include <winioctl.h>

#include <array>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "win32/dll_search.h"
#include "win32/system_message.h"

namespace tovrik {
namespace {

using DetailData = SP_DEVICE_INTERFACE_DETAIL_DATA_A;
// SetupDiGetDeviceInterfaceDetailA checks cbSize against exactly these; a packing mistake in
// the headers would make every detail fetch fail.
static_assert(sizeof(DetailData) == (sizeof(void*) == 4 ? 5 : 8));

struct DeviceInfoListDeleter {
    void operator()(HDEVINFO set) const noexcept { ::SetupDiDestroyDeviceInfoList(set); }
};
using DeviceInfoList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceInfoListDeleter>;

HANDLE ToHandle(NativeHandle handle) {
    // A HANDLE crosses the platform interface as an integer; this is its way back.
    return reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
}

// A failure the system did not put a code to still has to read as a failure.
SystemError LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return static_cast<SystemError>(error != 0 ? error : fallback);
}

// hid.dll is no KnownDLL: a copy beside the program, in the current folder or on PATH would
// be found before the system's if it were imported or loaded by name. Bound from System32
// on first use and kept loaded for the life of the process.
struct HidFunctions {
    decltype(&::HidD_GetHidGuid) getHidGuid = nullptr;
    decltype(&::HidD_GetAttributes) getAttributes = nullptr;
    SystemError loadError = 0;
};

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const HidFunctions& Hid() {
    static const HidFunctions functions = [] {
        HidFunctions bound;
        HMODULE hid = win::LoadSystemLibrary(L"hid.dll");
        if (hid == nullptr) {
            bound.loadError = LastErrorOr(ERROR_MOD_NOT_FOUND);
            return bound;
        }
        bound.getHidGuid = Lookup<decltype(bound.getHidGuid)>(hid, "HidD_GetHidGuid");
        bound.getAttributes = Lookup<decltype(bound.getAttributes)>(hid, "HidD_GetAttributes");
        if (bound.getHidGuid == nullptr || bound.getAttributes == nullptr) {
            bound = HidFunctions{};
            bound.loadError = ERROR_PROC_NOT_FOUND;
        }
        return bound;
    }();
    return functions;
}

// The path of one interface, or empty when its detail cannot be fetched (the interface still
// takes its position in the enumeration).
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD required = 0;
    ::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    constexpr std::size_t kPathOffset = offsetof(DetailData, DevicePath);
    if (required <= kPathOffset) return {};
    // new[] storage is aligned for any ordinary type, the detail record included.
    const auto buffer = std::make_unique<std::byte[]>(required);
    auto* detail = ::new (buffer.get()) DetailData{};
    // The record's own size (5 in 32-bit, 8 in 64-bit builds), not the buffer's.
    detail->cbSize = sizeof(DetailData);
    if (!::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
        return {};
    }
    // The text runs past the record's one-character array: read it from the raw buffer.
    const char* text = reinterpret_cast<const char*>(buffer.get()) + kPathOffset;
    const std::size_t capacity = required - kPathOffset;
    const void* end = std::memchr(text, '\0', capacity);
    return std::string(text, end != nullptr ? static_cast<const char*>(end) - text : capacity);
}

std::optional<std::uint16_t> HexId(std::string_view text) {
    if (text.size() < 4) return std::nullopt;
    std::uint16_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + 4, value, 16);
    if (ec != std::errc() || end != text.data() + 4) return std::nullopt;
    return value;
}

}  // namespace

std::optional<HidIds> IdsFromInterfacePath(std::string_view path) {
    std::string lower(path);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string_view text(lower);
    const auto vid = text.find("vid_");
    if (vid == std::string_view::npos) return std::nullopt;
    const auto pid = text.find("&pid_", vid);
    if (pid != vid + 8) return std::nullopt;
    const auto vendor = HexId(text.substr(vid + 4));
    const auto product = HexId(text.substr(pid + 5));
    if (!vendor || !product) return std::nullopt;
    return HidIds{*vendor, *product};
}

std::vector<std::string> WindowsHidPlatform::EnumerateHidInterfaces() {
    const HidFunctions& hid = Hid();
    if (hid.getHidGuid == nullptr) return {};
    GUID hidClass{};
    hid.getHidGuid(&hidClass);
    const HDEVINFO raw =
        ::SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (raw == INVALID_HANDLE_VALUE) return {};
    const DeviceInfoList set(raw);
    std::vector<std::string> paths;
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidClass, i, &data)) break;
        paths.push_back(InterfacePath(set.get(), data));
    }
    return paths;
}

bool IsHidInterfacePath(std::string_view path) {
    constexpr std::string_view kPrefix = "\\\\?\\hid#";
    if (path.size() <= kPrefix.size()) return false;
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(path[i])) != kPrefix[i]) return false;
    }
    return true;
}

namespace {

// Completes an overlapped request that `started` (the call's result) began; after `timeoutMs`
// it is cancelled. 0 or the system's error code; `done` the bytes moved.
SystemError Await(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD timeoutMs,
                  DWORD& done) {
    if (!started) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) return error != 0 ? error : ERROR_GEN_FAILURE;
        if (::WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
            // The request must be over before `overlapped` and the buffer go away. It may
            // have completed after all, between the wait and the cancel.
            ::CancelIoEx(handle, &overlapped);
            const bool completed = ::GetOverlappedResult(handle, &overlapped, &done, TRUE) != 0;
            return ResultAfterCancel(completed, completed ? 0 : ::GetLastError());
        }
    }
    if (!::GetOverlappedResult(handle, &overlapped, &done, FALSE)) {
        return LastErrorOr(ERROR_GEN_FAILURE);
    }
    return 0;
}

}  // namespace

SystemError ResultAfterCancel(bool completed, std::uint32_t error) {
    if (completed) return 0;
    if (error == ERROR_OPERATION_ABORTED || error == 0) return ERROR_TIMEOUT;
    return static_cast<SystemError>(error);
}

namespace {

struct EventCloser {
    void operator()(void* event) const noexcept { ::CloseHandle(event); }
};

// One request's OVERLAPPED with its own event.
struct Request {
    OVERLAPPED overlapped{};
    std::unique_ptr<void, EventCloser> event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Request() { overlapped.hEvent = event.get(); }
};

}  // namespace

SystemError WriteWithTimeout(void* handle, const void* data, std::uint32_t size,
                             std::uint32_t timeoutMs) {
    Request request;
    if (!request.event) return LastErrorOr(ERROR_OUTOFMEMORY);
    DWORD written = 0;
    const BOOL started = ::WriteFile(handle, data, size, nullptr, &request.overlapped);
    const SystemError error = Await(handle, request.overlapped, started, timeoutMs, written);
    if (error != 0) return error;
    return written == size ? 0 : ERROR_WRITE_FAULT;
}

OpenResult WindowsHidPlatform::Open(const std::string& path, ShareMode mode) {
    // Opening is not harmless: a serial port raises its modem lines and a pipe server sees
    // a client. Only what the HID class enumeration hands out is opened.
    if (!IsHidInterfacePath(path)) return {kNoNativeHandle, ERROR_FILE_NOT_FOUND};
    const HidFunctions& hid = Hid();
    if (hid.getAttributes == nullptr) return {kNoNativeHandle, hid.loadError};
    const DWORD share = mode == ShareMode::Exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    // Overlapped, so that a device that stops taking reports cannot hold a write for ever.
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {kNoNativeHandle, LastErrorOr(ERROR_GEN_FAILURE)};
    // Only HID devices are devices: a file or pipe by that name never gets a report.
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!hid.getAttributes(handle, &attributes)) {
        ::CloseHandle(handle);
        return {kNoNativeHandle, ERROR_BAD_DEVICE};
    }
    return {reinterpret_cast<NativeHandle>(handle), 0,
            HidIds{attributes.VendorID, attributes.ProductID}};
}

std::optional<HidIds> WindowsHidPlatform::GetIds(NativeHandle handle) {
    const HidFunctions& hid = Hid();
    if (handle == kNoNativeHandle || hid.getAttributes == nullptr) return std::nullopt;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!hid.getAttributes(ToHandle(handle), &attributes)) return std::nullopt;
    return HidIds{attributes.VendorID, attributes.ProductID};
}

std::optional<std::string> WindowsHidPlatform::GetSerial(NativeHandle handle) {
    if (handle == kNoNativeHandle) return std::nullopt;
    // What HidD_GetSerialNumberString asks, with the OVERLAPPED the handle needs (see
    // GetFeature). A USB string descriptor holds at most 126 UTF-16 units.
    std::array<wchar_t, 128> text{};
    Request request;
    if (!request.event) return std::nullopt;
    const auto size = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    DWORD received = 0;
    const BOOL started =
        ::DeviceIoControl(ToHandle(handle), IOCTL_HID_GET_SERIALNUMBER_STRING, nullptr, 0,
                          text.data(), size, nullptr, &request.overlapped);
    if (Await(ToHandle(handle), request.overlapped, started, kWriteTimeoutMs, received) != 0) {
        return std::nullopt;
    }
    std::string serial;
    for (const wchar_t c : text) {
        if (c == L'\0') break;
        // Serial numbers are printable ASCII; anything else would not survive a path or SCPI.
        serial += c > 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    if (serial.empty()) return std::nullopt;
    return serial;
}

std::optional<HidIds> WindowsHidPlatform::PeekIds(const std::string& path) {
    return IdsFromInterfacePath(path);
}

SystemError WindowsHidPlatform::WriteReport(NativeHandle handle, const OutputReport& report) {
    if (handle == kNoNativeHandle) return ERROR_INVALID_HANDLE;
    return WriteWithTimeout(ToHandle(handle), report.data(), static_cast<DWORD>(report.size()),
                            kWriteTimeoutMs);
}

SystemError WindowsHidPlatform::GetFeature(NativeHandle handle, VersionFeature& feature) {
    if (handle == kNoNativeHandle) return ERROR_INVALID_HANDLE;
    feature[0] = 0;
    // HidD_GetFeature has no OVERLAPPED for the overlapped handle: the same request by hand.
    Request request;
    if (!request.event) return LastErrorOr(ERROR_OUTOFMEMORY);
    const auto size = static_cast<DWORD>(feature.size());
    DWORD received = 0;
    const BOOL started =
        ::DeviceIoControl(ToHandle(handle), IOCTL_HID_GET_FEATURE, feature.data(), size,
                          feature.data(), size, nullptr, &request.overlapped);
    return Await(ToHandle(handle), request.overlapped, started, kWriteTimeoutMs, received);
}

void WindowsHidPlatform::Close(NativeHandle handle) {
    if (handle != kNoNativeHandle) ::CloseHandle(ToHandle(handle));
}

FailureReason WindowsHidPlatform::Describe(SystemError error) const {
    switch (static_cast<DWORD>(error)) {
        case ERROR_ACCESS_DENIED:
            return {FailureKind::NotPermitted, "access denied"};
        case ERROR_SHARING_VIOLATION:
            return {FailureKind::Busy, "held by another program"};
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_DEVICE:
        case ERROR_GEN_FAILURE:
            return {FailureKind::Gone, "no such device"};
        default:
            break;
    }
    // In the user's language: a Japanese system without the English pack has no English
    // texts at all.
    std::string text = win::SystemMessage(static_cast<DWORD>(error));
    if (text.empty()) return {FailureKind::Other, "error " + std::to_string(error)};
    // Ours are lower-case fragments; other scripts have no case.
    if (text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return {FailureKind::Other, text};
}

DevicePlatform& SystemPlatform() {
    static WindowsHidPlatform platform;
    return platform;
}

}  // namespace tovrik
