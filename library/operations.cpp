#include "library/operations.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "device/enumeration.h"
#include "device/transport.h"
#include "library/tovrik.h"  // the status numbers

namespace tovrik::library {
namespace {

// Handed out only when the allocator fails, so that a text result is still never null.
struct EmptyBlock {
    std::uint32_t length;
    char text[4];
};
constinit const EmptyBlock kEmpty{0, {0, 0, 0, 0}};

TovrikString SharedEmpty() noexcept {
    return const_cast<char*>(kEmpty.text);
}

std::int32_t StatusOf(const DeviceStatus& sent) {
    if (sent) return TOVRIK_SENT;
    if (sent.error().step == DeviceError::Step::Open) return TOVRIK_NOT_OPENED;
    // A refusal without a usable code still has to read as a refusal.
    if (sent.error().code <= 0) return -EIO;
    return -sent.error().code;
}

std::int32_t SendOnce(DevicePlatform& platform, const char* path, const OutputReport& report) {
    if (path == nullptr) return TOVRIK_NOT_OPENED;
    return StatusOf(SendReportOnce(platform, std::string(path), report));
}

}  // namespace

TovrikString MakeString(std::string_view text) noexcept {
    constexpr std::size_t kHeader = sizeof(std::uint32_t);
    if (text.size() > std::numeric_limits<std::uint32_t>::max() - kHeader - 1) {
        return SharedEmpty();
    }
    auto* block = static_cast<char*>(std::malloc(kHeader + text.size() + 1));
    if (block == nullptr) return SharedEmpty();
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(block, &length, kHeader);
    if (!text.empty()) std::memcpy(block + kHeader, text.data(), text.size());
    block[kHeader + text.size()] = '\0';
    return block + kHeader;
}

std::uint32_t StringLength(TovrikString text) noexcept {
    if (text == nullptr) return 0;
    std::uint32_t length = 0;
    std::memcpy(&length, text - sizeof(std::uint32_t), sizeof length);
    return length;
}

void FreeString(TovrikString text) noexcept {
    if (text == nullptr || text == SharedEmpty()) return;
    std::free(text - sizeof(std::uint32_t));
}

std::string FindUsbText(DevicePlatform& platform, std::int32_t* index) noexcept {
    if (index == nullptr) return {};
    try {
        // A negative index searches from the start, as any index at or before the first does.
        const std::size_t from = *index < 0 ? 0 : static_cast<std::size_t>(*index);
        std::optional<HidInterface> found = FindDevice(platform, from);
        if (!found) {
            *index = 0;
            return {};
        }
        *index = static_cast<std::int32_t>(found->position + 1);
        return std::move(found->path);
    } catch (...) {
        // Out of memory while listing: report it as no device, as a failed search would.
        return {};
    }
}

TovrikString FindUsb(DevicePlatform& platform, std::int32_t* index) noexcept {
    return MakeString(FindUsbText(platform, index));
}

std::int32_t SendStatus(DevicePlatform& platform, const char* path, std::uint32_t word,
                        std::int32_t flag) noexcept {
    try {
        return SendOnce(platform, path, flag != 0 ? BuildFrequencyReport(word) : BuildStopReport());
    } catch (...) {
        return TOVRIK_NOT_OPENED;
    }
}

std::int32_t DdsOut(DevicePlatform& platform, const char* path, std::uint32_t word,
                    std::int32_t flag) noexcept {
    return SendStatus(platform, path, word, flag) < 0 ? TOVRIK_DDSOUT_FAILED : TOVRIK_DDSOUT_SENT;
}

std::int32_t DdsSuspend(DevicePlatform& platform, const char* path) noexcept {
    try {
        return SendOnce(platform, path, BuildPowerSavingReport());
    } catch (...) {
        return TOVRIK_NOT_OPENED;
    }
}

std::string GetVersionText(DevicePlatform& platform, const char* path) noexcept {
    if (path == nullptr) return {};
    try {
        return ReadVersionOnce(platform, std::string(path)).value().value_or(std::string());
    } catch (...) {
        return {};
    }
}

TovrikString GetVersion(DevicePlatform& platform, const char* path) noexcept {
    return MakeString(GetVersionText(platform, path));
}

}  // namespace tovrik::library
