#include "sample/sample_client.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "device/reports.h"

namespace tovrik::sample {

int TwipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

std::string BindFailureMessage(const BindError& error) {
    if (error.kind == BindError::Kind::Library) return error.library + "が読み込めません";
    return error.library + "に" + error.name + "が見つかりません";
}

std::optional<double> ParseTypedNumber(std::string_view text, char decimalPoint) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::string number;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number += '-';
        ++i;
    }
    std::size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            number += c;
            ++digits;
        } else if (c == decimalPoint && !point) {
            number += '.';
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        number += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
        const std::size_t start = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) number += text[i];
        if (i == start) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

SampleClient::SampleClient(LibraryBinding& library, ShowMessage showMessage)
    : library_(library), showMessage_(std::move(showMessage)) {}

void SampleClient::Load() {
    if (!devicePath_.empty()) return;
    std::int32_t index = 0;  // the index handed back is not needed
    const Bound<std::string> found = library_.FindUSB(index);
    if (!found) {
        showMessage_(BindFailureMessage(found.error));
        return;
    }
    if (found.value->empty()) {
        showMessage_(text::kNotDetected);
        return;
    }
    devicePath_ = *found.value;
    showMessage_(text::kDetected);
}

void SampleClient::SendFrequency(std::optional<double> hz) {
    const std::optional<std::int32_t> word = hz ? SampleClientTuningWord(*hz) : std::nullopt;
    if (!word) {
        showMessage_(text::kUnusableFrequency);
        return;
    }
    const Bound<std::int32_t> sent = library_.DDSOut(devicePath_, *word, 1);
    if (!sent) showMessage_(BindFailureMessage(sent.error));
}

void SampleClient::Suspend() {
    const Bound<std::int32_t> sent = library_.DDSSuspend(devicePath_);
    if (!sent) showMessage_(BindFailureMessage(sent.error));
}

}  // namespace tovrik::sample
