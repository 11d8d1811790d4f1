// The library's own cost per call, with the operating system replaced by the in-process fake:
// everything measured here is overhead on top of the system calls a real call makes.
#include <benchmark/benchmark.h>

#include <string>

#include "library/operations.h"
#include "tests/support/fake_platform.h"

namespace {

using tovrik::testing::FakePlatform;

// One DDSOut: open shared, write the frequency report, close.
void BM_DdsOut(benchmark::State& state) {
    auto platform = FakePlatform::WithLayout("t");
    std::uint32_t word = 305419897;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tovrik::library::DdsOut(platform, "/dev/hidraw0", word++, 1));
        platform.ClearSent();
    }
}
BENCHMARK(BM_DdsOut);

// One FindUSB over 64 interfaces, the TOVRIK last: 64 probes (open, identify, close), then
// the returned string is freed as a client would.
void BM_FindUsb64(benchmark::State& state) {
    std::string layout;
    for (int i = 0; i < 63; ++i) layout += "o,";
    layout += "t";
    auto platform = FakePlatform::WithLayout(layout);
    for (auto _ : state) {
        std::int32_t index = 0;
        TovrikString path = tovrik::library::FindUsb(platform, &index);
        benchmark::DoNotOptimize(path);
        tovrik::library::FreeString(path);
    }
}
BENCHMARK(BM_FindUsb64);

// The same platform calls as BM_FindUsb64 made directly: the fake's share of that figure,
// which stands for the system calls.
void BM_PlatformCallsOfFindUsb64(benchmark::State& state) {
    std::string layout;
    for (int i = 0; i < 63; ++i) layout += "o,";
    layout += "t";
    auto platform = FakePlatform::WithLayout(layout);
    for (auto _ : state) {
        for (const std::string& path : platform.EnumerateHidInterfaces()) {
            const auto handle = platform.Open(path, tovrik::ShareMode::Shared).handle;
            benchmark::DoNotOptimize(platform.GetIds(handle));
            platform.Close(handle);
        }
    }
}
BENCHMARK(BM_PlatformCallsOfFindUsb64);

// The platform calls of BM_DdsOut made directly.
void BM_PlatformCallsOfDdsOut(benchmark::State& state) {
    auto platform = FakePlatform::WithLayout("t");
    const std::string path = "/dev/hidraw0";
    for (auto _ : state) {
        const auto handle = platform.Open(path, tovrik::ShareMode::Shared).handle;
        benchmark::DoNotOptimize(platform.WriteReport(handle, tovrik::BuildFrequencyReport(1)));
        platform.Close(handle);
        platform.ClearSent();
    }
}
BENCHMARK(BM_PlatformCallsOfDdsOut);

}  // namespace

BENCHMARK_MAIN();
