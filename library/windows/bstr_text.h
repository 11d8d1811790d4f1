// The Windows exports' string type: a BSTR holding the text's bytes unconverted.
#pragma once

#include <windows.h>
// oleauto.h builds on windows.h.
#include <oleauto.h>

#include <string_view>

namespace tovrik::library {

// Byte length = text.size(); empty text gives a BSTR of length 0, not NULL. NULL only when
// memory runs out.
BSTR MakeByteBstr(std::string_view text) noexcept;

}  // namespace tovrik::library
