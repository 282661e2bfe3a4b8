// CReg as the settings store relies on it: what reads accept, that writes
// create their keys, and that every failure is reported as one.
#include "common/log.h"
#include "common/reg.h"
#include "common/settings.h"

#include "support/suite_env.h"

#include <string>

namespace {

const wchar_t kKey[] = L"SOFTWARE\\ZEL\\VADOvur\\RegTest";

// Writes a value of any type and size, bypassing CReg.
void PutRaw(LPCWSTR lpName, DWORD dwType, const void* data, DWORD cbData) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, lpName, 0, dwType, static_cast<const BYTE*>(data), cbData));
    RegCloseKey(key);
}

bool ValueExists(LPCWSTR lpSubkey, LPCWSTR lpName) {
    return RegGetValueW(HKEY_CURRENT_USER, lpSubkey, lpName, RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

using RegTest = testenv::SuiteStateTest;

TEST_F(RegTest, DwordReadAcceptsAtMostFourBytes) {
    const ULONGLONG eight = 0x1122334455667788ULL;
    const WORD two = 0xBEEF;
    PutRaw(L"Eight", REG_QWORD, &eight, sizeof(eight));
    PutRaw(L"Two", REG_BINARY, &two, sizeof(two));
    DWORD value = 0xCCCCCCCC;
    EXPECT_EQ(E_FAIL, CReg::GetDW(HKEY_CURRENT_USER, kKey, L"Eight", &value));
    EXPECT_EQ(0xCCCCCCCCu, value) << "the out value is written only on success";
    EXPECT_EQ(E_FAIL, CReg::GetDW(HKEY_CURRENT_USER, kKey, L"Missing", &value));
    EXPECT_EQ(E_FAIL,
              CReg::GetDW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur\\NoKey", L"x", &value));
    EXPECT_EQ(0xCCCCCCCCu, value);
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_CURRENT_USER, kKey, L"Two", &value));
    EXPECT_EQ(0x0000BEEFu, value);
}

// Only numbers read as numbers: the text "2" has the bytes of 50.
TEST_F(RegTest, DwordReadRefusesText) {
    const DWORD four = 0x01020304;
    PutRaw(L"Bin", REG_BINARY, &four, sizeof(four));
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, kKey, L"Text", L"2"));
    PutRaw(L"Expand", REG_EXPAND_SZ, L"1", 4);
    PutRaw(L"Multi", REG_MULTI_SZ, L"\0", 4);
    DWORD value = 0;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_CURRENT_USER, kKey, L"Bin", &value));
    EXPECT_EQ(four, value);
    for (const wchar_t* name : {L"Text", L"Expand", L"Multi"})
        EXPECT_EQ(E_FAIL, CReg::GetDW(HKEY_CURRENT_USER, kKey, name, &value)) << name;
}

TEST_F(RegTest, WritesCreateTheWholeKeyPath) {
    const std::wstring deep = std::wstring(kKey) + L"\\A\\B\\C";
    EXPECT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, deep.c_str(), L"Value", 7));
    DWORD value = 0;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_CURRENT_USER, deep.c_str(), L"Value", &value));
    EXPECT_EQ(7u, value);
    EXPECT_TRUE(CReg::IsExistKey(HKEY_CURRENT_USER, deep.c_str()));
    EXPECT_FALSE(CReg::IsExistKey(HKEY_CURRENT_USER, (deep + L"\\D").c_str()));
}

TEST_F(RegTest, TextIsReadAsStoredWithinTheCapacity) {
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, kKey, L"Text", L"2024/03/05"));
    // The read copies what is stored and nothing beyond it.
    wchar_t text[16];
    wmemset(text, L'#', ARRAYSIZE(text));
    EXPECT_EQ(S_OK, CReg::GetSZ(HKEY_CURRENT_USER, kKey, L"Text", text, 15 * sizeof(wchar_t)));
    EXPECT_STREQ(L"2024/03/05", text);
    EXPECT_EQ(L'#', text[11]);
    // A text longer than the capacity fails; the caller then uses its default.
    EXPECT_EQ(E_FAIL, CReg::GetSZ(HKEY_CURRENT_USER, kKey, L"Text", text, 5 * sizeof(wchar_t)));
}

TEST_F(RegTest, BinaryReadReportsItsSize) {
    const BYTE data[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(S_OK, CReg::SetBIN(HKEY_CURRENT_USER, kKey, L"Bin", data, sizeof(data)));
    BYTE out[16] = {};
    DWORD cb = sizeof(out);
    EXPECT_EQ(S_OK, CReg::GetBIN(HKEY_CURRENT_USER, kKey, L"Bin", out, &cb));
    EXPECT_EQ(5u, cb);
    EXPECT_EQ(0, memcmp(data, out, sizeof(data)));
    cb = 4;
    EXPECT_EQ(E_FAIL, CReg::GetBIN(HKEY_CURRENT_USER, kKey, L"Bin", out, &cb));
    EXPECT_EQ(4u, cb) << "the size is replaced only on success";
}

TEST_F(RegTest, DeleteValueFailsForWhatIsNotThere) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, kKey, L"Value", 1));
    EXPECT_EQ(S_OK, CReg::DeleteValue(HKEY_CURRENT_USER, kKey, L"Value"));
    EXPECT_FALSE(ValueExists(kKey, L"Value"));
    EXPECT_EQ(E_FAIL, CReg::DeleteValue(HKEY_CURRENT_USER, kKey, L"Value"));
    EXPECT_EQ(E_FAIL, CReg::DeleteValue(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur\\NoKey", L"x"));
}

TEST_F(RegTest, NullArgumentsFailWithEPointerAndWriteNothing) {
    DWORD value = 0;
    BYTE data[4] = {};
    EXPECT_EQ(E_POINTER, CReg::GetDW(HKEY_CURRENT_USER, nullptr, L"x", &value));
    EXPECT_EQ(E_POINTER, CReg::GetBIN(HKEY_CURRENT_USER, kKey, L"x", data, nullptr));
    EXPECT_EQ(E_POINTER, CReg::SetSZ(HKEY_CURRENT_USER, kKey, L"x", nullptr));
    EXPECT_FALSE(CReg::IsExistKey(HKEY_CURRENT_USER, nullptr));
    // A binary write without data is a failure, not a success that wrote nothing.
    EXPECT_EQ(E_POINTER, CReg::SetBIN(HKEY_CURRENT_USER, kKey, L"Bin", nullptr, 16));
    EXPECT_EQ(E_POINTER, CReg::SetBIN(HKEY_CURRENT_USER, kKey, nullptr, data, sizeof(data)));
    EXPECT_FALSE(CReg::IsExistKey(HKEY_CURRENT_USER, kKey));
}

TEST_F(RegTest, NullArgumentIsTracedButAMissingValueIsNot) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"Log", 1));
    DWORD value = 0;
    CReg::GetDW(HKEY_CURRENT_USER, kKey, L"Missing", &value);
    CReg::DeleteValue(HKEY_CURRENT_USER, kKey, L"Missing");
    EXPECT_TRUE(testenv::ReadLogLines(L"vadovur_refresh.log").empty());

    CReg::SetBIN(HKEY_CURRENT_USER, kKey, L"Bin", nullptr, 16);
    const auto lines = testenv::ReadLogLines(L"vadovur_refresh.log");
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::wstring::npos, lines[0].find(L"[CReg::SetBIN]"));
    EXPECT_NE(std::wstring::npos, lines[0].find(L"] lpData is NULL.\n"));
}

} // namespace
