// Arbitrary bytes as the settings file: load every key TOVRIK reads, save, reload.
// Holds: nothing but finite numbers reaches the controller; every key written reads back as
// written; lines the save does not own (comments, unknown keys, junk) survive in order; a
// second save changes nothing.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/settings_store.h"
#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using tovrik::ControllerState;
using tovrik::IniProfile;

// tmpfs where there is one: a save fsyncs, and the disk must not set the pace.
const fs::path& WorkFolder() {
    static const fs::path folder = [] {
        const char* base = fs::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/tovrik-fuzz-settings-XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        return fs::path(pattern);
    }();
    return folder;
}

struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        fs::remove_all(WorkFolder(), ec);
    }
} cleanup;

// Plain system calls: a stream's buffers cost more than the save under the sanitizers.
std::string ReadAll(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return lines;
}

constexpr const char* kProfileKeys[] = {"Freq",    "Step",     "Display", "SaveFreq",
                                        "RevSpin", "RevWheel", "Lock",    "OutStart"};
constexpr const char* kPresetKeys[] = {"0", "1", "2"};

// Whether the save may have rewritten this line: it looks like one of the keys it writes.
bool MayBeOurs(std::string_view line) {
    const auto first = line.find_first_not_of(" \t\r\v\f");
    if (first == std::string_view::npos) return false;
    line.remove_prefix(first);
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view name = line.substr(0, eq);
    const auto last = name.find_last_not_of(" \t\r\v\f");
    name = name.substr(0, last == std::string_view::npos ? 0 : last + 1);
    const auto same = [name](std::string_view key) {
        if (key.size() != name.size()) return false;
        for (std::size_t i = 0; i < key.size(); ++i) {
            const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
            if (fold(key[i]) != fold(name[i])) return false;
        }
        return true;
    };
    for (const char* key : kProfileKeys) {
        if (same(key)) return true;
    }
    for (const char* key : kPresetKeys) {
        if (same(key)) return true;
    }
    return false;
}

bool AllFinite(const ControllerState& s) {
    if (!std::isfinite(s.frequencyHz) || !std::isfinite(s.stepHz)) return false;
    for (const double p : s.presets) {
        if (!std::isfinite(p)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int pressedStep = input.ConsumeIntegralInRange<int>(-2, 9);
    const bool fineStep = input.ConsumeBool();
    const std::string original = input.ConsumeRemainingBytesAsString();

    const fs::path path = WorkFolder() / "TOVRIK.INI";
    WriteAll(path, original);

    IniProfile profile(path);
    ControllerState state;
    const int step = tovrik::LoadSettings(profile, state);
    FUZZ_CHECK(step >= 0 && step < static_cast<int>(tovrik::StepTable.size()));
    FUZZ_CHECK(AllFinite(state));

    tovrik::SaveSettings(profile, state, fineStep ? std::nullopt : std::optional<int>(pressedStep));
    const std::string expected = profile.Text();
    FUZZ_CHECK(profile.Save());
    FUZZ_CHECK(ReadAll(path) == expected);

    const IniProfile reloaded(path);
    FUZZ_CHECK(reloaded.Text() == expected);
    // The values written are the ones the state holds, and they load to the same state.
    ControllerState again;
    tovrik::LoadSettings(reloaded, again);
    FUZZ_CHECK(AllFinite(again));
    FUZZ_CHECK(reloaded.ReadText("Profile", "Freq", "") ==
               tovrik::FormatFixed(state.frequencyHz, 2));
    FUZZ_CHECK(reloaded.ReadInt("Profile", "Display", -1) == state.displayMode);
    FUZZ_CHECK(reloaded.ReadInt("Profile", "SaveFreq", -1) == state.saveFrequency);
    FUZZ_CHECK(reloaded.ReadInt("Profile", "RevSpin", -1) == state.reverseSpin);
    FUZZ_CHECK(reloaded.ReadInt("Profile", "RevWheel", -1) == state.reverseWheel);
    FUZZ_CHECK(reloaded.ReadInt("Profile", "Lock", -1) == state.lockWhileOutput);
    FUZZ_CHECK(reloaded.ReadInt("Profile", "OutStart", -1) == state.outputAtStart);
    if (!fineStep && pressedStep >= 0 && pressedStep < 9) {
        FUZZ_CHECK(reloaded.ReadInt("Profile", "Step", -1) == pressedStep);
    }
    for (int i = 0; i < tovrik::kPresetCount; ++i) {
        FUZZ_CHECK(again.presets[static_cast<std::size_t>(i)] ==
                   tovrik::ParseProfileDouble(
                       tovrik::FormatFixed(state.presets[static_cast<std::size_t>(i)], 6)));
    }

    // Lines the save does not own come back unchanged and in order.
    const std::vector<std::string> before = Lines(original);
    const std::vector<std::string> after = Lines(expected);
    std::size_t at = 0;
    for (const std::string& line : before) {
        if (MayBeOurs(line)) continue;
        while (at < after.size() && after[at] != line) ++at;
        FUZZ_CHECK(at < after.size());
        ++at;
    }

    // Nothing left to change: a second round writes the same bytes.
    IniProfile second(path);
    ControllerState third;
    tovrik::LoadSettings(second, third);
    tovrik::SaveSettings(second, third, fineStep ? std::nullopt : std::optional<int>(pressedStep));
    FUZZ_CHECK(second.Text() == expected);
    return 0;
}
