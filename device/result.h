// The one way a device operation tells how it went: a value, or a DeviceError that says at
// which step it failed and the system's reason.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tovrik {

// 0, or the system's own error code (errno on Linux, GetLastError() on Windows).
using SystemError = int;

struct DeviceError {
    enum class Step {
        Open,   // the path could not be opened, or holds no TOVRIK
        Write,  // an output report was refused
        Read,   // a feature request was refused
    };
    Step step = Step::Open;
    SystemError code = 0;  // 0 only when the path holds no TOVRIK (another device, or none)
    bool gone = false;     // not there (unplugged), as opposed to there but refusing

    bool notTovrik() const { return code == 0; }
};

template <typename T>
class DeviceResult {
  public:
    // A status (T = std::monostate) succeeds when built from nothing: `return {};`.
    DeviceResult() requires std::is_same_v<T, std::monostate> : value_(std::in_place) {}
    DeviceResult(T value) : value_(std::move(value)) {}  // NOLINT(*-explicit-*): reads as a return
    DeviceResult(DeviceError error) : error_(error) {}   // NOLINT(*-explicit-*)

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    // Meaningful only when not ok().
    const DeviceError& error() const { return error_; }
    // The value where there is one, for callers that need no reason.
    std::optional<T> value() && { return std::move(value_); }

  private:
    std::optional<T> value_;
    DeviceError error_;
};

using DeviceStatus = DeviceResult<std::monostate>;

}  // namespace tovrik
