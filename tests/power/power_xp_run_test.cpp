// The power code in a program that Wine presents as Windows XP.
#include "power_test_support.h"

#include <gtest/gtest.h>

namespace {

using powertest::PowerTest;

const wchar_t kHelperVersionKey[] = L"Software\\Wine\\AppDefaults\\power_xp_helper.exe";

// The Windows version Wine reports to one program, for the life of the object.
class WineVersionForHelper {
public:
    explicit WineVersionForHelper(const wchar_t* version) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kHelperVersionKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    ~WineVersionForHelper() { RegDeleteTreeW(HKEY_CURRENT_USER, kHelperVersionKey); }
    WineVersionForHelper(const WineVersionForHelper&) = delete;
    WineVersionForHelper& operator=(const WineVersionForHelper&) = delete;
};

TEST_F(PowerTest, OnWindowsXpTheSchemesAreUsedAndThePlansLeftAlone) {
    const GUID before = powertest::ActivePlan();
    int rc = -1;
    {
        WineVersionForHelper xp(L"winxp64");
        rc = testenv::RunProgram(L"power_xp_helper.exe", L"", 60000);
    }
    EXPECT_EQ(0, rc) << "first failed check of tests/helpers/power_xp_helper.cpp";
    EXPECT_TRUE(IsEqualGUID(before, powertest::ActivePlan()));
}

} // namespace
