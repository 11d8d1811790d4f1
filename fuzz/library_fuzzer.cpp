// The library's C surface with whatever paths and indexes a client might pass: NULL, empty,
// long, non-UTF-8, /dev/null and other character devices, regular files, folders, FIFOs and
// links. Holds: no crash, no descriptor left open, no byte of a regular file changed. The same
// operations against the fake platform send only to interfaces with the TOVRIK's ids.
#include <dirent.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "device/transport.h"
#include "fuzz/fuzz_check.h"
#include "library/operations.h"
#include "library/tovrik.h"
#include "tests/support/fake_platform.h"

namespace {

namespace fs = std::filesystem;
using tovrik::testing::FakePlatform;

const std::string kFileBytes =
    std::string("\x01\x02 must stay as it is\n", 23) + std::string(64, 'z');

struct Folder {
    std::string root;
    Folder() {
        std::string pattern = "/tmp/tovrik-fuzz-library-XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        root = pattern;
        std::ofstream(root + "/file", std::ios::binary) << kFileBytes;
        std::ofstream(root + "/empty", std::ios::binary);
        fs::create_directory(root + "/dir");
        fs::create_symlink(root + "/file", root + "/link");
        fs::create_symlink("/dev/null", root + "/devnull");
        fs::create_symlink(root + "/missing", root + "/dangling");
        fs::create_symlink(root + "/dir", root + "/dirlink");
        FUZZ_CHECK(::mkfifo((root + "/fifo").c_str(), 0600) == 0);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

const Folder& Work() {
    static const Folder folder;
    return folder;
}

int OpenDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    FUZZ_CHECK(dir != nullptr);
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// NULL stays NULL; everything else is a path text (bytes of any kind).
struct PathArg {
    bool null = false;
    std::string text;
    const char* get() const { return null ? nullptr : text.c_str(); }
};

PathArg ChoosePath(FuzzedDataProvider& in) {
    const std::string& root = Work().root;
    static const char* const kFixed[] = {
        "/dev/null",         "/dev/zero",       "/dev/full", "/dev/tty", "/dev/hidraw0",
        "/dev/hidraw99999",  "/proc/self/fd/0", "/",         ".",        "..",
        "/sys/class/hidraw", "/dev/hidraw"};
    static const char* const kMine[] = {"/file",     "/empty",   "/dir",  "/link",   "/devnull",
                                        "/dangling", "/dirlink", "/fifo", "/file/x", "/dir/"};
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            return {true, {}};
        case 1:
            return {false,
                    kFixed[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kFixed) - 1)]};
        case 2:
            return {false,
                    root + kMine[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kMine) - 1)]};
        case 3: {
            // Past the 1,023-byte path buffers and PATH_MAX.
            const auto n = in.ConsumeIntegralInRange<std::size_t>(1000, 9000);
            return {false, in.ConsumeBool() ? std::string(n, 'a') : "/" + std::string(n, '/')};
        }
        default: {
            std::string text = in.ConsumeRandomLengthString(300);
            text.resize(std::strlen(text.c_str()));  // the C surface sees up to the first NUL
            return {false, text};
        }
    }
}

void FreeChecked(TovrikString text) {
    FUZZ_CHECK(text != nullptr);
    FUZZ_CHECK(StrLen(text) == std::strlen(text));
    StrFree(text);
}

// Library calls against the fake platform: reports reach only interfaces with our ids.
void AgainstFake(FuzzedDataProvider& in) {
    FakePlatform platform;
    const auto count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        tovrik::testing::FakeInterface iface;
        iface.path = "/dev/hidraw" + std::to_string(i);
        if (in.ConsumeBool()) {
            iface.vendorId = in.ConsumeIntegral<std::uint16_t>();
            iface.productId = in.ConsumeIntegral<std::uint16_t>();
        }
        iface.identifiable = in.ConsumeProbability<float>() > 0.1f;
        iface.present = in.ConsumeProbability<float>() > 0.1f;
        if (in.ConsumeProbability<float>() < 0.1f) iface.writeError = EIO;
        platform.Add(iface);
    }
    for (int calls = 0; calls < 8 && in.remaining_bytes() > 0; ++calls) {
        const std::string path =
            in.ConsumeBool() ? "/dev/hidraw" + std::to_string(in.ConsumeIntegralInRange(0, 4))
                             : in.ConsumeRandomLengthString(20);
        std::int32_t index = in.ConsumeIntegral<std::int32_t>();
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0: {
                const std::string found = tovrik::library::FindUsbText(platform, &index);
                if (!found.empty()) {
                    const auto ids = platform.PeekIds(found);
                    FUZZ_CHECK(ids && ids->vendorId == tovrik::kTovrikVendorId &&
                               ids->productId == tovrik::kTovrikProductId);
                }
                break;
            }
            case 1:
                tovrik::library::DdsOut(platform, path.c_str(), in.ConsumeIntegral<std::uint32_t>(),
                                        in.ConsumeIntegral<std::int32_t>());
                break;
            case 2:
                tovrik::library::DdsSuspend(platform, path.c_str());
                break;
            default:
                tovrik::library::GetVersionText(platform, path.c_str());
                break;
        }
        for (const auto& report : platform.sent()) {
            const auto ids = platform.PeekIds(report.path);
            FUZZ_CHECK(ids && ids->vendorId == tovrik::kTovrikVendorId &&
                       ids->productId == tovrik::kTovrikProductId);
        }
        platform.ClearSent();
        // A device may be swapped for another under its path between calls.
        if (count > 0 && in.ConsumeProbability<float>() < 0.2f) {
            auto& iface = platform.At(
                in.ConsumeIntegralInRange<std::size_t>(0, static_cast<std::size_t>(count - 1)));
            iface.vendorId = in.ConsumeIntegral<std::uint16_t>();
        }
    }
    FUZZ_CHECK(platform.OpenHandleCount() == 0);
    FUZZ_CHECK(platform.doubleCloseCount() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string& root = Work().root;
    const int before = OpenDescriptors();
    for (int calls = 0; calls < 6 && in.remaining_bytes() > 0; ++calls) {
        const PathArg path = ChoosePath(in);
        switch (in.ConsumeIntegralInRange(0, 4)) {
            case 0: {
                std::int32_t index = in.ConsumeIntegral<std::int32_t>();
                FreeChecked(FindUSB(in.ConsumeBool() ? nullptr : &index));
                break;
            }
            case 1: {
                const std::int32_t status = DDSOut(path.get(), in.ConsumeIntegral<std::uint32_t>(),
                                                   in.ConsumeIntegral<std::int32_t>());
                FUZZ_CHECK(status == TOVRIK_DDSOUT_FAILED);  // nothing here is a TOVRIK
                break;
            }
            case 2:
                FUZZ_CHECK(DDSSuspend(path.get()) < 0);
                break;
            case 3: {
                const TovrikString version = GetVers(path.get());
                FUZZ_CHECK(version != nullptr && version[0] == '\0');
                FreeChecked(version);
                break;
            }
            default:
                AgainstFake(in);
                break;
        }
    }
    FUZZ_CHECK(OpenDescriptors() == before);
    FUZZ_CHECK(ReadAll(root + "/file") == kFileBytes);
    FUZZ_CHECK(ReadAll(root + "/empty").empty());
    struct stat st {};
    FUZZ_CHECK(::stat((root + "/dir").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    return 0;
}
