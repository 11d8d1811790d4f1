#include "library/windows/bstr_text.h"

#include <limits>

namespace tovrik::library {

BSTR MakeByteBstr(std::string_view text) noexcept {
    // A BSTR's length prefix is 32 bits; nothing this library returns comes near it.
    if (text.size() > std::numeric_limits<UINT>::max() / 2) text = {};
    // A non-null source: with NULL the bytes would be left uninitialised.
    return ::SysAllocStringByteLen(text.empty() ? "" : text.data(), static_cast<UINT>(text.size()));
}

}  // namespace tovrik::library
