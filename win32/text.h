// UTF-8 (the source's texts) to and from the UTF-16 of the W functions.
#pragma once

#include <string>
#include <string_view>

namespace tovrik::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

}  // namespace tovrik::win
