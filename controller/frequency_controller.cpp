#include "controller/frequency_controller.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

namespace tovrik {
namespace {

constexpr std::size_t kReadoutCapacity = 63;  // the readout control's 64-byte buffer
constexpr int kWheelNotch = 120;

// Decimal digits with at most one '.'; an empty text or a lone point reads 0. Parsed without
// the C library's locale so that a ',' locale in the GUI cannot change the value.
double EntryValue(const std::string& text) {
    if (text.empty() || text == ".") return 0.0;
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return ec == std::errc{} ? value : 0.0;
}

// Whether the decimal value of the text is above the limit. Its double can round onto the
// limit from either side, so in that case the digits decide: only a non-zero digit after a
// whole part of exactly the limit lies above it.
bool EntryExceedsLimit(const std::string& text) {
    const double value = EntryValue(text);
    if (value != FrequencyLimitHz) return value > FrequencyLimitHz;
    const std::size_t point = text.find('.');
    if (point == std::string::npos) return false;
    return EntryValue(text.substr(0, point)) == FrequencyLimitHz &&
           text.find_first_not_of('0', point + 1) != std::string::npos;
}

// "%.0f": rounded to a whole number, no point, no grouping.
std::string WholeNumberText(double value) {
    char buffer[352];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    return std::string(buffer, ec == std::errc{} ? end : buffer);
}

}  // namespace

void WriteToStandardError(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

FrequencyController::FrequencyController(DevicePlatform& platform, ControllerWindow& window,
                                         Diagnostics diagnostics)
    : platform_(platform),
      window_(window),
      diagnostics_(diagnostics ? std::move(diagnostics) : Diagnostics(WriteToStandardError)),
      device_(platform, ReconnectPolicy::FirstFound, {}, [this](const DeviceRefusal& refusal) {
          diagnostics_(refusal.path + ": " + platform_.Describe(refusal.error.code).text);
      }) {}

bool FrequencyController::LockApplies() const {
    return state_.lockWhileOutput != 0 && state_.outputOn != 0;
}

// ---------------------------------------------------------------------------------------------
// Output cycle

void FrequencyController::ConnectAtStartup() {
    device_.Open();
    UpdateStatusLine();
}

std::string FrequencyController::ReadoutText() const {
    if (state_.entryActive) {
        std::string text;
        text.reserve(kReadoutCapacity);
        text.append(state_.entryText, 0, kReadoutCapacity);
        text.append("_Hz", 0, kReadoutCapacity - text.size());
        return text;
    }
    return FormatReadout(TuningWordToHz(ComputeTuningWord(state_.frequencyHz)), state_.displayMode);
}

void FrequencyController::Refresh() {
    window_.SetControlText(control::kReadout, ReadoutText());
    // An open entry freezes sending until it ends.
    if (!state_.entryActive && state_.outputOn != 0) SendFrequency(state_.outputOn);
}

void FrequencyController::SendFrequency(int on) {
    if (state_.entryActive) return;
    const TuningWord word = ComputeTuningWord(state_.frequencyHz);
    const OutputReport report =
        on != 0 ? BuildOutputReport(word, FrequencyControlByte(0)) : BuildStopReport();
    // One rediscovery and one more write after a failure.
    if (!device_.Write(report)) {
        window_.ShowMessage(text::kDeviceNotFound, MessageIcon::Exclamation);
        device_.Close();
    }
    UpdateStatusLine();
}

void FrequencyController::ToggleOutput() {
    state_.outputOn = state_.outputOn == 0 ? 1 : 0;
    window_.SetButtonChecked(control::kOutputButton, state_.outputOn != 0);
    SendFrequency(state_.outputOn);
}

void FrequencyController::UpdateStatusLine() {
    window_.SetControlText(control::kStatusLine,
                           device_.open() ? text::kStatusDetected : text::kStatusNotDetected);
}

void FrequencyController::ExitProgram() {
    // Leave the synthesizer silent; during an entry SendFrequency sends nothing.
    if (state_.outputOn != 0) SendFrequency(0);
    device_.Close();
    window_.DestroyWindow();
}

void FrequencyController::ShowFirmwareVersion() {
    const DeviceResult<std::string> version = device_.Version();
    if (!version) {
        window_.ShowMessage(text::kVersionUnavailable, MessageIcon::Exclamation);
        return;
    }
    const std::string_view format = text::kVersionFormat;
    const std::size_t at = format.find("%s");
    std::string message(format.substr(0, at));
    if (at != std::string_view::npos) {
        message += *version;
        message += format.substr(at + 2);
    }
    window_.ShowMessage(message, MessageIcon::Information);
}

// ---------------------------------------------------------------------------------------------
// Tuning inputs. A change that would pass 0 or the limit is dropped as a whole, silently; the
// comparisons are written so that a NaN candidate is dropped too.

void FrequencyController::SelectStep(double stepHz) {
    state_.stepHz = stepHz;
}

int FrequencyController::ApplySpinDelta(std::int32_t count) {
    // 64 bits so that reversing INT32_MIN cannot overflow.
    std::int64_t k = count;
    if (state_.reverseSpin != 0) k = -k;
    if (k > 0) {
        const double candidate = state_.frequencyHz + static_cast<double>(k) * state_.stepHz;
        if (candidate <= FrequencyLimitHz) state_.frequencyHz = candidate;
    } else if (k < 0) {
        const double candidate = state_.frequencyHz - static_cast<double>(-k) * state_.stepHz;
        if (candidate >= 0.0) state_.frequencyHz = candidate;
    }
    Refresh();
    return 0;
}

void FrequencyController::ApplyWheelDelta(std::int16_t delta) {
    if (LockApplies()) {
        window_.Beep();
        return;
    }
    int d = delta;
    if (state_.reverseWheel != 0) {
        d = -d;
        // Negation in 16 bits: -(-32768) wraps back to -32768.
        if (d > INT16_MAX) d -= 65536;
    }
    const int notches = d / kWheelNotch;  // truncates toward zero; the remainder is dropped
    const double candidate = state_.frequencyHz - static_cast<double>(notches) * state_.stepHz;
    const bool allowed = d > 0 ? candidate >= 0.0 : candidate <= FrequencyLimitHz;
    if (allowed) state_.frequencyHz = candidate;
    Refresh();
}

// ---------------------------------------------------------------------------------------------
// Direct keyboard entry

void FrequencyController::EndEntry() {
    state_.entryActive = false;
    if (!state_.entryText.empty()) state_.frequencyHz = EntryValue(state_.entryText);
    Refresh();
}

void FrequencyController::ToggleEntry() {
    if (LockApplies()) {
        window_.Beep();
        return;
    }
    if (!state_.entryActive) {
        state_.entryHasPoint = false;
        state_.entryText.clear();
        state_.entryActive = true;
        Refresh();
    } else {
        EndEntry();
    }
}

void FrequencyController::AppendToEntry(char c) {
    std::string& entry = state_.entryText;
    if (entry.size() >= kMaxEntryLength) {
        window_.Beep();
        return;
    }
    entry.push_back(c);
    if (EntryExceedsLimit(entry)) {
        entry.pop_back();
        window_.Beep();
        return;
    }
    Refresh();
}

KeyResult FrequencyController::PointKey() {
    // The flag is kept even outside an entry: a point key there passes on but still counts.
    if (state_.entryHasPoint) {
        window_.Beep();
        return KeyResult::Consumed;
    }
    if (!state_.entryActive) {
        state_.entryHasPoint = true;
        return KeyResult::PassedOn;
    }
    // A point refused for length must not leave the flag set without a point in the text.
    if (state_.entryText.size() >= kMaxEntryLength) {
        window_.Beep();
        return KeyResult::Consumed;
    }
    state_.entryHasPoint = true;
    AppendToEntry('.');
    return KeyResult::Consumed;
}

void FrequencyController::ApplyUnit(double factor) {
    const double product = EntryValue(state_.entryText) * factor;
    if (product > FrequencyLimitHz) {
        window_.Beep();
        return;
    }
    state_.entryText = WholeNumberText(product);
    Refresh();
}

KeyResult FrequencyController::PreviewKey(int virtualKey) {
    const bool open = state_.entryActive;
    switch (virtualKey) {
        case vk::kBack:
            if (!open || state_.entryText.empty()) {
                window_.Beep();
            } else {
                if (state_.entryText.back() == '.') state_.entryHasPoint = false;
                state_.entryText.pop_back();
                Refresh();
            }
            return KeyResult::Consumed;
        case vk::kReturn:
            // No lock test here, unlike click and F2.
            if (open) EndEntry();
            return KeyResult::Consumed;
        case vk::kEscape:
            // Swallowed so that it never reaches the dialog's cancel handling.
            return KeyResult::Consumed;
        case vk::kDelete:
        case vk::kPeriod:
            return PointKey();
        case vk::kK:
        case vk::kNumpadAdd:
            if (!open) return KeyResult::PassedOn;
            ApplyUnit(1'000.0);
            return KeyResult::Consumed;
        case vk::kM:
        case vk::kNumpadSubtract:
            if (!open) return KeyResult::PassedOn;
            ApplyUnit(1'000'000.0);
            return KeyResult::Consumed;
        case vk::kF2:
            if (LockApplies()) {
                window_.Beep();
                return KeyResult::Consumed;
            }
            ToggleEntry();
            return KeyResult::PassedOn;
        default:
            if (virtualKey >= vk::k0 && virtualKey <= vk::k9) {
                if (!open) return KeyResult::PassedOn;
                AppendToEntry(static_cast<char>('0' + (virtualKey - vk::k0)));
                return KeyResult::Consumed;
            }
            return KeyResult::PassedOn;
    }
}

// ---------------------------------------------------------------------------------------------
// Presets and write mode

void FrequencyController::ToggleWriteMode() {
    state_.writeMode = !state_.writeMode;
    window_.SetButtonChecked(control::kWriteButton, state_.writeMode);
}

void FrequencyController::PressPreset(int slot) {
    if (slot < 0 || slot >= kPresetCount) return;
    // A refused press leaves write mode armed.
    if (LockApplies() || state_.entryActive) {
        window_.Beep();
        return;
    }
    const auto index = static_cast<std::size_t>(slot);
    if (state_.writeMode) {
        state_.presets[index] = state_.frequencyHz;
        state_.writeMode = false;
        window_.SetButtonChecked(control::kWriteButton, false);
        return;
    }
    state_.frequencyHz = state_.presets[index];
    Refresh();
}

}  // namespace tovrik
