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

FakeInterface& FakePlatform::Add(FakeInterface iface) { return interfaces_.emplace_back(iface); }

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
    std::vector<std::string> paths;
    for (const auto& iface : interfaces_) {
        if (iface.present) paths.push_back(iface.path);
    }
    return paths;
}

NativeHandle FakePlatform::Open(const std::string& path, ShareMode mode) {
    FakeInterface* iface = Find(path);
    if (iface == nullptr || !iface->present || iface->heldByOtherProgram) return kNoNativeHandle;
    const auto position = static_cast<std::size_t>(iface - interfaces_.data());
    for (const auto& [handle, state] : open_) {
        if (state.position != position) continue;
        if (mode == ShareMode::Exclusive || state.mode == ShareMode::Exclusive) {
            return kNoNativeHandle;
        }
    }
    const NativeHandle handle = nextHandle_++;
    open_[handle] = {position, mode};
    return handle;
}

std::optional<HidIds> FakePlatform::GetIds(NativeHandle handle) {
    const OpenState* state = Lookup(handle);
    if (state == nullptr) return std::nullopt;
    const FakeInterface& iface = interfaces_[state->position];
    if (!iface.present || !iface.identifiable) return std::nullopt;
    return HidIds{iface.vendorId, iface.productId};
}

int FakePlatform::WriteReport(NativeHandle handle, const OutputReport& report) {
    const OpenState* state = Lookup(handle);
    if (state == nullptr) return EBADF;
    const FakeInterface& iface = interfaces_[state->position];
    if (!iface.present) return ENODEV;
    if (iface.writeError != 0) return iface.writeError;
    sent_.push_back({iface.path, report});
    return 0;
}

bool FakePlatform::GetFeature(NativeHandle handle, VersionFeature& feature) {
    const OpenState* state = Lookup(handle);
    if (state == nullptr || feature[0] != 0) return false;
    const FakeInterface& iface = interfaces_[state->position];
    if (!iface.present || iface.refuseFeature) return false;
    feature = iface.feature;
    feature[0] = 0;
    return true;
}

void FakePlatform::Close(NativeHandle handle) {
    ++closeCount_;
    if (open_.erase(handle) == 0) ++doubleCloses_;
}

}  // namespace tovrik::testing
