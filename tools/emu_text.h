// Text forms of the bytes tovrik-emu sees, for its log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovrik::emu {

// "00 79 56 34 12 01 00 00": upper-case, one space between bytes.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

// What a write means to a TOVRIK: "frequency word 305419897 = 12,800,000.01 Hz", "stop",
// "power-saving", "control 09 word 1234" for other control bytes, "<n> bytes" for a write
// that is not one output report.
std::string DecodeWrite(const std::vector<std::uint8_t>& bytes);

// The word's frequency in Hz, truncated to hundredths: 305419897 -> "12,800,000.01".
std::string FormatHz(std::uint32_t word);

}  // namespace tovrik::emu
