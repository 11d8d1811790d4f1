// Siglent's generator commands, as a Siglent oscilloscope's Bode plot sends them to an external
// generator, over the SCPI engine: the frequency and the output go through SCPI's own
// handlers; amplitude, offset, phase and load are kept and reported, since the device has no
// control of them (the scope measures input and output, so the ratio is right all the same).
#pragma once

#include <string_view>

#include "cli/scpi_commands.h"

namespace tovrik::cli::sdg {

// The scopes take a generator whose private identity names an SDG model.
inline constexpr std::string_view kPrivateIdentity = "IDN-SGLT-PRI SDG0000X";

// Runs `unit` when it is one of the dialect's (IDN-SGLT-PRI?, C<n>:BSWV, C<n>:OUTP, or BSWV
// and OUTP after a C<n>: header earlier in the line); false leaves it to SCPI.
bool RunUnit(scpi::Context& c, std::string_view unit);

}  // namespace tovrik::cli::sdg
