// tovrik.dll's text results: BSTRs that carry the text's bytes as they are.
#include "library/windows/bstr_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tovrik::library {
namespace {

TEST(ByteBstr, HoldsTheBytesUnconvertedWithTheirCountAsLength) {
    const std::string embedded("a\0b", 3);
    const std::string shiftJis = "\xB6\xDE\xCA\x83\x65";  // half-width katakana, a lead byte
    for (const std::string& text :
         {std::string(), std::string(R"(\\?\hid#vid_1774&pid_9851#1)"), embedded, shiftJis}) {
        SCOPED_TRACE(text);
        const BSTR value = MakeByteBstr(text);
        ASSERT_NE(value, nullptr) << "empty is a BSTR of length 0, not NULL";
        EXPECT_EQ(::SysStringByteLen(value), text.size());
        const char* bytes = reinterpret_cast<const char*>(value);
        EXPECT_EQ(std::string(bytes, text.size()), text);
        EXPECT_EQ(bytes[text.size()], '\0') << "usable as a C string";
        ::SysFreeString(value);
    }
}

}  // namespace
}  // namespace tovrik::library
