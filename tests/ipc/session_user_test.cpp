// The session user and the record of the last refresh outcome.
#include "ipc/session_user.h"

#include "support/suite_env.h"

#define SECURITY_WIN32
#include <security.h>
#include <shlobj.h>
#include <wtsapi32.h>

#include <string>

namespace {

const wchar_t kUserKey[] = L"SOFTWARE\\ZEL\\VADOvur";

std::wstring SessionDomainUser() {
    LPWSTR user = nullptr;
    LPWSTR domain = nullptr;
    DWORD cb = 0;
    std::wstring result;
    if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName,
                                    &user, &cb) &&
        WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSDomainName,
                                    &domain, &cb))
        result = std::wstring(domain) + L"\\" + user;
    if (user)
        WTSFreeMemory(user);
    if (domain)
        WTSFreeMemory(domain);
    return result;
}

std::wstring SamUserName() {
    wchar_t name[USER_NAME_CCH] = {};
    ULONG cch = USER_NAME_CCH;
    return GetUserNameExW(NameSamCompatible, name, &cch) ? name : L"";
}

} // namespace

// Under Wine the test user is an administrator with a terminal-services
// session, so the session's "domain\user" is found and recorded.
TEST(SessionUser, AdministratorRecordsTheSessionsDomainAndUser) {
    ASSERT_TRUE(IsUserAnAdmin());
    const std::wstring expected = SessionDomainUser();
    ASSERT_FALSE(expected.empty());

    wchar_t name[USER_NAME_CCH] = L"stale";
    EXPECT_EQ(0u, SetSessionUserNameForAdmin(name, ARRAYSIZE(name)));
    EXPECT_EQ(expected, name);
    wchar_t recorded[USER_NAME_CCH] = {};
    EXPECT_TRUE(GetSessionUserName(recorded, ARRAYSIZE(recorded)));
    EXPECT_EQ(expected, recorded);

    // A short buffer truncates rather than overruns.
    wchar_t shortName[4] = {};
    EXPECT_EQ(0u, SetSessionUserName(shortName, ARRAYSIZE(shortName)));
    EXPECT_EQ(expected.substr(0, 3), shortName);

    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), SetSessionUserName(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), SetSessionUserNameForAdmin(nullptr));
}

class LastRefreshStatus : public testenv::SuiteStateTest {};

// Both values go to HKCU; a later store overwrites the earlier one.
TEST_F(LastRefreshStatus, StoresTheStatusAndTheProcessUser) {
    SetLastRefreshStatus(nullptr, 7);
    DWORD status = 0;
    DWORD cb = sizeof(status);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, kUserKey, L"LastRefreshStatus",
                                          RRF_RT_REG_DWORD, nullptr, &status, &cb));
    EXPECT_EQ(7u, status);

    wchar_t user[USER_NAME_CCH] = {};
    cb = sizeof(user);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, kUserKey, L"LastRefreshUser",
                                          RRF_RT_REG_SZ, nullptr, user, &cb));
    EXPECT_EQ(SamUserName(), user);

    SetLastRefreshStatus(nullptr, 0);
    cb = sizeof(status);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, kUserKey, L"LastRefreshStatus",
                                          RRF_RT_REG_DWORD, nullptr, &status, &cb));
    EXPECT_EQ(0u, status);
    EXPECT_TRUE(testenv::ReadLogLines(L"vadovur_error.log").empty()) << "no write failed";
}
