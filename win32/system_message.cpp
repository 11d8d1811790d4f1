#include "win32/system_message.h"

#include <windows.h>

#include <memory>

#include "win32/text.h"

namespace tovrik::win {

std::string SystemMessageClause(std::wstring_view text) {
    std::wstring clause;
    clause.reserve(text.size());
    for (const wchar_t c : text) {
        // Long texts are broken into lines; the clause goes into a line of its own.
        if (c == L'\r' || c == L'\n') {
            if (!clause.empty() && clause.back() != L' ') clause += L' ';
        } else {
            clause += c;
        }
    }
    while (!clause.empty() &&
           (clause.back() == L' ' || clause.back() == L'.' || clause.back() == L'\x3002')) {
        clause.pop_back();
    }
    return Narrow(clause);
}

std::string SystemMessage(unsigned long code, unsigned short language) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owned(text, ::LocalFree);
    if (length == 0 || text == nullptr) return {};
    return SystemMessageClause(std::wstring_view(text, length));
}

}  // namespace tovrik::win
