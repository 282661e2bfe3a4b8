// The refresh power scheme of Windows XP and the watcher of the power
// configuration, against the simulated power manager's XP schemes. The XP
// functions do not depend on the Windows version; the run as XP itself is
// XpVersion in power_xp_run_test.cpp.
#include "power_test_support.h"

#include "common/settings.h"
#include "refresh/power_scheme_xp.h"
#include "refresh/refresh_tool.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zbrefresh;

namespace {

using powertest::ErrorEntries;
using powertest::PowerTest;

// XP's "Portable/Laptop", the active scheme of a fresh store, and the
// first index a new scheme gets.
constexpr UINT kLaptopScheme = 1;
constexpr UINT kFirstNewScheme = 6;

UINT ActiveScheme() {
    UINT index = POWER_SCHEME_NONE;
    return GetActivePwrScheme(&index) ? index : POWER_SCHEME_NONE;
}

// The eight time-outs of a scheme, in the order of the "Charge..." settings:
// display, standby, disk and hibernate, each AC then DC. Empty when the
// scheme cannot be read.
using Timeouts = std::vector<ULONG>;
Timeouts SchemeTimeouts(UINT index) {
    POWER_POLICY p = {};
    if (!ReadPwrScheme(index, &p))
        return Timeouts();
    return Timeouts{p.user.VideoTimeoutAc,  p.user.VideoTimeoutDc,    p.user.IdleTimeoutAc,
                    p.user.IdleTimeoutDc,   p.user.SpindownTimeoutAc, p.user.SpindownTimeoutDc,
                    p.mach.DozeS4TimeoutAc, p.mach.DozeS4TimeoutDc};
}

void SetRefreshDword(HKEY root, const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, SETTINGS_KEY_REFRESH, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

void SetRefreshText(const wchar_t* name, const wchar_t* text) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY_REFRESH, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring SchemeName(UINT index) {
    CPowerSchemeArrayXP schemes;
    schemes.EnumPowerSchemes();
    CPowerSchemeXP scheme;
    return schemes.GetPowerSchemeInfo(index, &scheme) ? scheme.GetName() : L"<none>";
}

TEST_F(PowerTest, XpRefreshSchemeIsWrittenUsedAndRemoved) {
    ApplyRefreshPowerSchemeXP(nullptr);

    const UINT refresh = GetRegRefreshPowerSetting();
    EXPECT_EQ(kFirstNewScheme, refresh);
    EXPECT_EQ(refresh, ActiveScheme());
    EXPECT_EQ(kLaptopScheme, GetRegUserPowerSetting());
    EXPECT_EQ(L"バッテリ・リフレッシュ", SchemeName(refresh));
    EXPECT_TRUE(IsRefreshPowerSchemeActiveXP());
    // The default time-outs: display 1200/300, never standby, disk
    // 1200/600, never hibernate.
    EXPECT_EQ((Timeouts{1200, 300, 0, 0, 1200, 600, 0, 0}), SchemeTimeouts(refresh));

    // Asked again while it is active: nothing changes, the user's scheme
    // stays the one saved.
    ApplyRefreshPowerSchemeXP(nullptr);
    EXPECT_EQ(kLaptopScheme, GetRegUserPowerSetting());

    RestorePowerSchemeXP(nullptr);
    EXPECT_EQ(kLaptopScheme, ActiveScheme());
    EXPECT_EQ(SETTINGS_NOT_SET, GetRegUserPowerSetting());
    EXPECT_EQ(L"<none>", SchemeName(refresh));
    EXPECT_EQ(refresh, GetRegRefreshPowerSetting()) << "kept for the next run";
    EXPECT_FALSE(IsRefreshPowerSchemeActiveXP());
    EXPECT_TRUE(ErrorEntries().empty());

    // The next run writes its scheme again and remembers where it went.
    ApplyRefreshPowerSchemeXP(nullptr);
    EXPECT_TRUE(IsRefreshPowerSchemeActiveXP());
    RestorePowerSchemeXP(nullptr);
    EXPECT_EQ(kLaptopScheme, ActiveScheme());
    EXPECT_TRUE(ErrorEntries().empty());
}

TEST_F(PowerTest, XpRefreshSchemeTakesItsTimeoutsAndTextsFromTheSettings) {
    const wchar_t* const names[] = {L"ChargeACMonitor",   L"ChargeDcMonitor",   L"ChargeAcSuspend",
                                    L"ChargeDcSuspend",   L"ChargeAcHddspin",   L"ChargeDcHdddspin",
                                    L"ChargeAcHibernate", L"ChargeDcHiberanate"};
    for (DWORD i = 0; i < ARRAYSIZE(names); ++i)
        SetRefreshDword(HKEY_LOCAL_MACHINE, names[i], 100 + i);
    SetRefreshText(L"RefreshPowerSchemeName", L"Refresh");
    SetRefreshText(L"RefreshPowerSchemeDesc", L"while refreshing");

    ApplyRefreshPowerSchemeXP(nullptr);

    const UINT refresh = GetRegRefreshPowerSetting();
    EXPECT_EQ(L"Refresh", SchemeName(refresh));
    EXPECT_EQ((Timeouts{100, 101, 102, 103, 104, 105, 106, 107}), SchemeTimeouts(refresh));
    RestorePowerSchemeXP(nullptr);

    // However the settings read a long name, the scheme is written and
    // found again under the name they give.
    SetRefreshText(L"RefreshPowerSchemeName", L"0123456789012345678901234567890123456789");
    wchar_t name[CPowerSchemeXP::kTextChars] = {};
    GetRegRefreshPowerSchemeName(name, ARRAYSIZE(name));
    ApplyRefreshPowerSchemeXP(nullptr);
    EXPECT_EQ(name, SchemeName(GetRegRefreshPowerSetting()));
    EXPECT_TRUE(IsRefreshPowerSchemeActiveXP());
    RestorePowerSchemeXP(nullptr);
    EXPECT_EQ(kLaptopScheme, ActiveScheme());
    EXPECT_TRUE(ErrorEntries().empty());
}

TEST_F(PowerTest, XpSchemeOfTheSameNameIsReusedAndReactivated) {
    // A refresh scheme left by a run that never reached its clean-up.
    ApplyRefreshPowerSchemeXP(nullptr);
    const UINT refresh = GetRegRefreshPowerSetting();
    ASSERT_TRUE(SetActivePwrScheme(0, nullptr, nullptr));
    ASSERT_HRESULT_SUCCEEDED(DelRegUserPowerSetting());

    ApplyRefreshPowerSchemeXP(nullptr);
    EXPECT_EQ(refresh, ActiveScheme()) << "no second scheme";
    EXPECT_EQ(0u, GetRegUserPowerSetting());

    // Somebody switches; the main screen asks for the refresh scheme again.
    ASSERT_TRUE(SetActivePwrScheme(2, nullptr, nullptr));
    EXPECT_FALSE(IsRefreshPowerSchemeActiveXP());
    EXPECT_EQ(0u, ActivateRefreshPowerSchemeXP());
    EXPECT_TRUE(IsRefreshPowerSchemeActiveXP());

    RestorePowerSchemeXP(nullptr);
    EXPECT_EQ(0u, ActiveScheme());
    EXPECT_TRUE(ErrorEntries().empty());
}

TEST_F(PowerTest, XpRestoreWithoutASavedSchemeChangesNothing) {
    RestorePowerSchemeXP(nullptr);
    EXPECT_EQ(kLaptopScheme, ActiveScheme());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ActivateRefreshPowerSchemeXP())
        << "no refresh scheme known";
    EXPECT_TRUE(ErrorEntries().empty());
}

TEST_F(PowerTest, XpSchemeArrayLooksUpByIndexAndExactName) {
    CPowerSchemeArrayXP schemes;
    ASSERT_EQ(0u, schemes.EnumPowerSchemes());
    EXPECT_EQ(6u, schemes.GetCount());
    const std::wstring laptop = SchemeName(kLaptopScheme);
    EXPECT_EQ(kLaptopScheme, schemes.GetPowerSchemeID(laptop.c_str()));
    EXPECT_EQ(POWER_SCHEME_NONE, schemes.GetPowerSchemeID((laptop + L" ").c_str()));
    EXPECT_EQ(POWER_SCHEME_NONE, schemes.GetPowerSchemeID(nullptr));
    CPowerSchemeXP scheme;
    EXPECT_FALSE(schemes.GetPowerSchemeInfo(42, &scheme));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), schemes.SetActivePowerScheme(42));
    ASSERT_EQ(0u, schemes.GetActivePowerScheme(&scheme));
    EXPECT_EQ(kLaptopScheme, scheme.GetIndex());

    const CPowerSchemeXP unnamed(3, nullptr, L"");
    EXPECT_STREQ(L"", unnamed.GetName());
    EXPECT_EQ(POWER_SCHEME_NONE, unnamed.GetIndex());
}

// ---- Watcher ---------------------------------------------------------------

bool Received(const powertest::MessageRecorder& window) {
    return window.Count(WM_USER_POWERCFGCHANGED) > 0;
}

// Somebody else switches schemes, again and again until done() holds: a
// change made before the watcher has registered for notifications is not
// seen, and the tests cannot know when it has.
template <typename Done> bool SwitchSchemesUntil(Done done) {
    for (int i = 0; i < 50; ++i) {
        if (!SetActivePwrScheme(i % 2 == 0 ? 0 : 2, nullptr, nullptr))
            return false;
        if (done())
            return true;
    }
    return false;
}

TEST_F(PowerTest, XpWatcherReportsASchemeChangedBySomebodyElse) {
    powertest::MessageRecorder window(powertest::MessageRecorder::Kind::MessageOnly);
    ApplyRefreshPowerSchemeXP(window.Window());
    ASSERT_TRUE(StartPowerSchemeNotifyThread(window.Window()));

    EXPECT_TRUE(SwitchSchemesUntil(
        [&] { return testenv::PumpUntil([&] { return Received(window); }, 200); }));

    EndPowerSchemeNotifyThread();
    RestorePowerSchemeXP(window.Window());
    EXPECT_TRUE(ErrorEntries().empty());
}

TEST_F(PowerTest, XpWatcherEndsWhileItWaitsOnTheWindow) {
    powertest::MessageRecorder window(powertest::MessageRecorder::Kind::MessageOnly);
    ApplyRefreshPowerSchemeXP(window.Window());
    ASSERT_TRUE(StartPowerSchemeNotifyThread(window.Window()));

    // Without pumping: wait until the watcher's SendMessageW is pending on
    // this thread (a message-only window hears from nobody else).
    ASSERT_TRUE(SwitchSchemesUntil([] {
        return testenv::WaitUntil(
            [] { return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; }, 200);
    }));

    // The end serves the pending message while it waits for the thread.
    EndPowerSchemeNotifyThread();
    EXPECT_GE(window.Count(WM_USER_POWERCFGCHANGED), 1u);
    RestorePowerSchemeXP(window.Window());
}

TEST_F(PowerTest, XpWatcherEndWithoutStartOnlyTraces) {
    powertest::EnableTrace();
    EndPowerSchemeNotifyThread();
    EXPECT_TRUE(powertest::TraceContains(L"電源設定監視を終了します"));
    EXPECT_TRUE(ErrorEntries().empty());
}

} // namespace
