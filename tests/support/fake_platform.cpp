#include "tests/support/fake_platform.h"

#include <stdexcept>

namespace tovrik::testing {

FakePlatform FakePlatform::WithLayout(const std::string& layout) {
    FakePlatform platform;
    for (const char kind : layout) {
        if (kind == ',') continue;
        FakeInterface iface;
        iface.path = "/dev/hidraw" + std::to_string(platform.interfaces_.size());
        if (kind != 't') {
            iface.vendorId = 0x046D;
            iface.productId = 0xC52B;
        }
        platform.Add(iface);
    }
    return platform;
}

FakePlatform& FakePlatform::operator=(FakePlatform&& other) noexcept {
    if (this == &other) return *this;
    const std::scoped_lock lock(mutex_, other.mutex_);
    interfaces_ = std::move(other.interfaces_);
    open_ = std::move(other.open_);
    sent_ = std::move(other.sent_);
    nextHandle_ = other.nextHandle_;
    closeCount_ = other.closeCount_;
    doubleCloses_ = other.doubleCloses_;
    return *this;
}

FakeInterface& FakePlatform::Add(FakeInterface iface) {
    const std::lock_guard lock(mutex_);
    return interfaces_.emplace_back(iface);
}

FakeInterface& FakePlatform::ByPath(const std::string& path) {
    if (FakeInterface* iface = Find(path)) return *iface;
    throw std::out_of_range("no fake interface " + path);
}

FakeInterface* FakePlatform::Find(const std::string& path) {
    for (auto& iface : interfaces_) {
        if (iface.path == path) return &iface;
    }
    return nullptr;
}

const FakePlatform::OpenState* FakePlatform::Lookup(NativeHandle handle) const {
    const auto it = open_.find(handle);
    return it == open_.end() ? nullptr : &it->second;
}

std::vector<std::string> FakePlatform::EnumerateHidInterfaces() {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& iface : interfaces_) {
        if (iface.present) paths.push_back(iface.path);
    }
    return paths;
}

OpenResult FakePlatform::Open(const std::string& path, ShareMode mode) {
    const std::lock_guard lock(mutex_);
    FakeInterface* iface = Find(path);
    if (iface == nullptr || !iface->present) return {kNoNativeHandle, ENOENT};
    if (iface->openError != 0) return {kNoNativeHandle, iface->openError};
    if (iface->heldByOtherProgram) return {kNoNativeHandle, EWOULDBLOCK};
    const auto position = static_cast<std::size_t>(iface - interfaces_.data());
    for (const auto& [handle, state] : open_) {
        if (state.position != position) continue;
        if (mode == ShareMode::Exclusive || state.mode == ShareMode::Exclusive) {
            return {kNoNativeHandle, EWOULDBLOCK};
        }
    }
    const NativeHandle handle = nextHandle_++;
    open_[handle] = {position, mode};
    return {handle, 0};
}

std::optional<HidIds> FakePlatform::PeekIds(const std::string& path) {
    const std::lock_guard lock(mutex_);
    const FakeInterface* iface = Find(path);
    if (iface == nullptr || !iface->present) return std::nullopt;
    return HidIds{iface->vendorId, iface->productId};
}

std::optional<HidIds> FakePlatform::GetIds(NativeHandle handle) {
    const std::lock_guard lock(mutex_);
    const OpenState* state = Lookup(handle);
    if (state == nullptr) return std::nullopt;
    const FakeInterface& iface = interfaces_[state->position];
    if (!iface.present || !iface.identifiable) return std::nullopt;
    return HidIds{iface.vendorId, iface.productId};
}

std::optional<std::string> FakePlatform::GetSerial(NativeHandle handle) {
    const std::lock_guard lock(mutex_);
    const OpenState* state = Lookup(handle);
    if (state == nullptr) return std::nullopt;
    const FakeInterface& iface = interfaces_[state->position];
    if (!iface.present || iface.serial.empty()) return std::nullopt;
    return iface.serial;
}

SystemError FakePlatform::WriteReport(NativeHandle handle, const OutputReport& report) {
    const std::lock_guard lock(mutex_);
    const OpenState* state = Lookup(handle);
    if (state == nullptr) return EBADF;
    const FakeInterface& iface = interfaces_[state->position];
    if (!iface.present) return ENODEV;
    if (iface.writeError != 0) return iface.writeError;
    sent_.push_back({iface.path, report});
    return 0;
}

SystemError FakePlatform::GetFeature(NativeHandle handle, VersionFeature& feature) {
    const std::lock_guard lock(mutex_);
    const OpenState* state = Lookup(handle);
    if (state == nullptr || feature[0] != 0) return EBADF;
    const FakeInterface& iface = interfaces_[state->position];
    if (!iface.present) return ENODEV;
    if (iface.refuseFeature) return EIO;
    feature = iface.feature;
    feature[0] = 0;
    return 0;
}

void FakePlatform::Close(NativeHandle handle) {
    const std::lock_guard lock(mutex_);
    ++closeCount_;
    if (open_.erase(handle) == 0) ++doubleCloses_;
}

}  // namespace tovrik::testing

namespace tovrik::testing {

FailureReason FakePlatform::Describe(SystemError error) const {
    switch (error) {
        case EACCES:
            return {FailureKind::NotPermitted, "permission denied"};
        case EWOULDBLOCK:
            return {FailureKind::Busy, "held by another program"};
        case ENOENT:
        case ENODEV:
            return {FailureKind::Gone, "no such device"};
        default:
            return {FailureKind::Other, "error " + std::to_string(error)};
    }
}

}  // namespace tovrik::testing
