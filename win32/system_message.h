// The system's own texts for Win32 error codes, for messages the user reads.
#pragma once

#include <string>
#include <string_view>

namespace tovrik::win {

// The text FormatMessage has for error `code` in UTF-8, in `language` (0: the user's language,
// and where the system has no text in it, English, as FormatMessage falls back), as a clause:
// one line, without its closing full stop. Empty where the system has no text for it.
std::string SystemMessage(unsigned long code, unsigned short language = 0);

// A system text (a sentence of one or more lines ending in ".\r\n", or "。\r\n" in Japanese)
// as that clause, in UTF-8.
std::string SystemMessageClause(std::wstring_view text);

}  // namespace tovrik::win
