#include "library/operations.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_platform.h"

namespace tovrik::library {
namespace {

using testing::FakePlatform;

// Owns a returned string the way a client should.
struct Text {
    explicit Text(TovrikString s) : value(s) {}
    ~Text() { FreeString(value); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    std::string str() const { return std::string(value, StringLength(value)); }
    TovrikString value;
};

OutputReport Bytes(std::initializer_list<std::uint8_t> bytes) {
    OutputReport report{};
    std::copy(bytes.begin(), bytes.end(), report.begin());
    return report;
}

TEST(LibraryString, CarriesLengthBeforeTheBytesAndATerminator) {
    const std::string embedded("a\0b", 3);
    for (const std::string& text : {std::string(), std::string("/dev/hidraw3"), embedded}) {
        Text s(MakeString(text));
        ASSERT_NE(s.value, nullptr);
        std::uint32_t stored = 0;
        std::memcpy(&stored, s.value - 4, 4);
        EXPECT_EQ(stored, text.size());
        EXPECT_EQ(StringLength(s.value), text.size());
        EXPECT_EQ(s.str(), text);
        EXPECT_EQ(s.value[text.size()], '\0');
    }
    EXPECT_EQ(StringLength(nullptr), 0u);
    FreeString(nullptr);  // must be a no-op
}

TEST(LibraryFindUsb, NullIndexIsNoDeviceAndHeldDevicesAreSkipped) {
    auto platform = FakePlatform::WithLayout("t,t");
    Text none(FindUsb(platform, nullptr));
    ASSERT_NE(none.value, nullptr);
    EXPECT_EQ(StringLength(none.value), 0u);

    platform.At(0).heldByOtherProgram = true;
    std::int32_t index = 0;
    Text found(FindUsb(platform, &index));
    EXPECT_EQ(found.str(), "/dev/hidraw1");
    EXPECT_EQ(index, 2);
}

TEST(LibrarySend, ReportsAndStatuses) {
    struct Case {
        const char* name;
        const char* path;
        int writeError;
        bool present;
        std::int32_t (*call)(DevicePlatform&, const char*);
        std::int32_t status;
        bool sends;
        OutputReport bytes;
    };
    const auto frequency = [](DevicePlatform& p, const char* path) {
        return DdsOut(p, path, 305419897u, 1);
    };
    const auto stop = [](DevicePlatform& p, const char* path) {
        return DdsOut(p, path, 305419897u, 0);
    };
    const auto negative = [](DevicePlatform& p, const char* path) {
        return DdsOut(p, path, static_cast<std::uint32_t>(-24), 7);
    };
    const auto suspend = [](DevicePlatform& p, const char* path) { return DdsSuspend(p, path); };
    const Case cases[] = {
        {"frequency", "/dev/hidraw0", 0, true, frequency, 0, true,
         Bytes({0, 0x79, 0x56, 0x34, 0x12, 1})},
        {"stop, whatever the word", "/dev/hidraw0", 0, true, stop, 0, true,
         Bytes({0, 0, 0, 0, 0, 1})},
        {"negative word", "/dev/hidraw0", 0, true, negative, 0, true,
         Bytes({0, 0xE8, 0xFF, 0xFF, 0xFF, 1})},
        {"suspend", "/dev/hidraw0", 0, true, suspend, 0, true, Bytes({0, 0, 0, 0, 0, 5})},
        {"out refused", "/dev/hidraw0", EIO, true, frequency, 1, false, {}},
        {"suspend refused", "/dev/hidraw0", EIO, true, suspend, -EIO, false, {}},
        {"suspend refused, no code", "/dev/hidraw0", -3, true, suspend, -EIO, false, {}},
        {"out unplugged", "/dev/hidraw0", 0, false, frequency, 1, false, {}},
        {"suspend unplugged", "/dev/hidraw0", 0, false, suspend, -1, false, {}},
        {"suspend empty path", "", 0, true, suspend, -1, false, {}},
        {"suspend null path", nullptr, 0, true, suspend, -1, false, {}},
        {"out null path", nullptr, 0, true, frequency, 1, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto platform = FakePlatform::WithLayout("t");
        platform.At(0).writeError = c.writeError;
        platform.At(0).present = c.present;
        EXPECT_EQ(c.call(platform, c.path), c.status);
        ASSERT_EQ(platform.sent().size(), c.sends ? 1u : 0u);
        if (c.sends) {
            EXPECT_EQ(platform.sent()[0].bytes, c.bytes);
        }
        EXPECT_EQ(platform.OpenHandleCount(), 0u);
        EXPECT_EQ(platform.doubleCloseCount(), 0);
    }
}

TEST(LibraryGetVers, FormatsTheFeatureOrGivesTheEmptyString) {
    auto platform = FakePlatform::WithLayout("t,t");
    platform.At(0).feature = {0, 1, 2, 3, 9, 9, 9, 9};
    platform.At(1).refuseFeature = true;
    const struct {
        const char* path;
        const char* text;
    } cases[] = {{"/dev/hidraw0", "01/02/03"},
                 {"/dev/hidraw1", ""},
                 {"/dev/hidraw5", ""},
                 {"", ""},
                 {nullptr, ""}};
    for (const auto& c : cases) {
        Text version(GetVersion(platform, c.path));
        ASSERT_NE(version.value, nullptr);
        EXPECT_EQ(version.str(), c.text);
    }
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

// A platform that fails in the way C++ does: by throwing.
class ThrowingPlatform : public FakePlatform {
  public:
    explicit ThrowingPlatform(bool badAlloc) : badAlloc_(badAlloc) {
        Add({.path = "/dev/hidraw0"});
    }
    std::vector<std::string> EnumerateHidInterfaces() override { Throw(); }
    OpenResult Open(const std::string&, ShareMode) override { Throw(); }

  private:
    [[noreturn]] void Throw() {
        if (badAlloc_) throw std::bad_alloc();
        throw std::runtime_error("backend failure");
    }
    bool badAlloc_;
};

TEST(LibraryExceptions, NeverLeaveTheLibrary) {
    for (const bool badAlloc : {true, false}) {
        ThrowingPlatform platform(badAlloc);
        std::int32_t index = 2;
        Text found(FindUsb(platform, &index));
        EXPECT_EQ(found.str(), "");
        EXPECT_EQ(DdsOut(platform, "/dev/hidraw0", 1, 1), 1);
        EXPECT_EQ(DdsSuspend(platform, "/dev/hidraw0"), -1);
        Text version(GetVersion(platform, "/dev/hidraw0"));
        EXPECT_EQ(version.str(), "");
    }
}

// Each thread has its own devices; any state shared between calls would mix their answers.
TEST(LibraryThreads, ConcurrentCallersDoNotSeeEachOthersState) {
    auto run = [](std::string layout, std::string expected, std::int32_t expectedIndex,
                  int& mismatches) {
        auto platform = FakePlatform::WithLayout(layout);
        for (int i = 0; i < 2000; ++i) {
            std::int32_t index = 0;
            Text found(FindUsb(platform, &index));
            Text version(GetVersion(platform, found.value));
            if (found.str() != expected || index != expectedIndex || version.str() != "01/00/00" ||
                DdsSuspend(platform, found.value) != 0) {
                ++mismatches;
            }
        }
    };
    int mismatchesA = 0;
    int mismatchesB = 0;
    std::thread a(run, "t", "/dev/hidraw0", 1, std::ref(mismatchesA));
    std::thread b(run, "o,o,o,o,o,t", "/dev/hidraw5", 6, std::ref(mismatchesB));
    a.join();
    b.join();
    EXPECT_EQ(mismatchesA, 0);
    EXPECT_EQ(mismatchesB, 0);
}

}  // namespace
}  // namespace tovrik::library
