// ANSI text from the firmware, in the Japanese code page the users have.
#include "common/util.h"

#include <gtest/gtest.h>

#include <string>

TEST(CStrConversion, ConvertsShiftJis) {
    ASSERT_EQ(932u, GetACP());
    // "バッテリ-ＡＢ" in Shift-JIS.
    const char sjis[] = "\x83\x6f\x83\x62\x83\x65\x83\x8a-\x82\x60\x82\x61";
    const CStrConversion text(sjis);
    EXPECT_EQ(std::wstring(L"バッテリ-ＡＢ"), text.GetString());
}

TEST(CStrConversion, WideTextIsCopiedAndNullIsEmpty) {
    const CStrConversion wide(L"LION");
    EXPECT_EQ(std::wstring(L"LION"), static_cast<LPCWSTR>(wide));
    const CStrConversion none(static_cast<LPCSTR>(nullptr));
    EXPECT_EQ(std::wstring(), none.GetString());
    const CStrConversion empty("");
    EXPECT_EQ(std::wstring(), empty.GetString());
}

TEST(CStrConversion, SjisToUnicodeHandsOutABufferToFree) {
    LPWSTR out = nullptr;
    ASSERT_EQ(S_OK, CStrConversion::SjisToUnicode("ABC", &out));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(std::wstring(L"ABC"), out);
    LocalFree(out);
    EXPECT_EQ(E_POINTER, CStrConversion::SjisToUnicode(nullptr, &out));
    EXPECT_EQ(E_POINTER, CStrConversion::SjisToUnicode("x", nullptr));
}
