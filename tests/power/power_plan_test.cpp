// The refresh power plan (Vista and later) against the simulated power
// manager: StorePowerPlan, RestorePowerPlan and the change test.
#include "power_test_support.h"

#include "common/settings.h"
#include "refresh/power_plan.h"

#include <gtest/gtest.h>

using namespace zbrefresh;

namespace {

using powertest::ActivePlan;
using powertest::CountEntries;
using powertest::ErrorEntries;
using powertest::PlanListed;
using powertest::PowerTest;

// The plans Windows ships with.
const GUID kBalanced = {
    0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
const GUID kPowerSaver = {
    0xa1841308, 0x3541, 0x4fab, {0xbc, 0x81, 0xf7, 0x15, 0x56, 0xf2, 0x0b, 0x4a}};

std::wstring RefreshPlanFile() {
    return testenv::BinDir() + REFRESH_PLAN_FILE_NAME;
}

void ImportRefreshPlan() {
    GUID wanted = REFRESH_POWER_PLAN_GUID;
    GUID* pGuid = &wanted;
    ASSERT_EQ(0u, PowerImportPowerScheme(nullptr, RefreshPlanFile().c_str(), &pGuid));
}

bool HasSavedUserPlan(GUID* pGuid = nullptr) {
    GUID guid = GUID_NULL;
    const bool saved = SUCCEEDED(GetRegUserPowerPlan(&guid));
    if (pGuid)
        *pGuid = guid;
    return saved;
}

TEST_F(PowerTest, ARefreshSwitchesToTheImportedPlanAndBack) {
    powertest::EnableTrace();
    ASSERT_EQ(0u, PowerSetActiveScheme(nullptr, &kPowerSaver));
    CPowerScheme refresh;

    StorePowerPlan(nullptr, &refresh);

    EXPECT_TRUE(IsEqualGUID(REFRESH_POWER_PLAN_GUID, refresh.GetGuid()));
    EXPECT_STREQ(L"バッテリ・リフレッシュ", refresh.GetFriendlyName());
    EXPECT_TRUE(refresh.IsPasswordOnWakeAC());
    EXPECT_TRUE(IsEqualGUID(REFRESH_POWER_PLAN_GUID, ActivePlan()));
    EXPECT_EQ(0u, powertest::PlanValue(ActivePlan(), powertest::SleepSubgroup(),
                                       powertest::StandbyTimeout(), false))
        << "the refresh plan does not sleep on battery";
    GUID saved;
    ASSERT_TRUE(HasSavedUserPlan(&saved));
    EXPECT_TRUE(IsEqualGUID(kPowerSaver, saved));
    EXPECT_TRUE(powertest::TraceContains(L"リフレッシュプランが存在するかチェックします"));
    EXPECT_TRUE(powertest::TraceContains(L"リフレッシュプランをインポートします"));
    EXPECT_FALSE(IsRefreshPlanReplaced(refresh));

    RestorePowerPlan(nullptr, &refresh);

    EXPECT_TRUE(IsEqualGUID(kPowerSaver, ActivePlan()));
    EXPECT_FALSE(HasSavedUserPlan());
    EXPECT_FALSE(PlanListed(REFRESH_POWER_PLAN_GUID));
    EXPECT_TRUE(powertest::TraceContains(L"SetActiveScheme=0"));
    EXPECT_TRUE(powertest::TraceContains(L"DeleteScheme=0"));
    EXPECT_TRUE(ErrorEntries().empty());
}

TEST_F(PowerTest, APlanLeftByAnEarlierRunIsUsedNotImportedAgain) {
    powertest::EnableTrace();
    ImportRefreshPlan();
    CPowerScheme refresh;

    StorePowerPlan(nullptr, &refresh);

    EXPECT_TRUE(IsEqualGUID(REFRESH_POWER_PLAN_GUID, ActivePlan()));
    EXPECT_FALSE(powertest::TraceContains(L"リフレッシュプランをインポートします"));
    EXPECT_TRUE(ErrorEntries().empty());
    RestorePowerPlan(nullptr, &refresh);
    EXPECT_TRUE(IsEqualGUID(kBalanced, ActivePlan()));
    EXPECT_FALSE(PlanListed(REFRESH_POWER_PLAN_GUID));
}

// Left active by a run that died: the saved user plan is not overwritten
// with it, and the plan still goes at the end.
TEST_F(PowerTest, WithTheRefreshPlanAlreadyActiveNothingIsStored) {
    ImportRefreshPlan();
    ASSERT_EQ(0u, PowerSetActiveScheme(nullptr, &REFRESH_POWER_PLAN_GUID));
    CPowerScheme refresh;

    StorePowerPlan(nullptr, &refresh);

    EXPECT_TRUE(IsEqualGUID(REFRESH_POWER_PLAN_GUID, refresh.GetGuid()));
    EXPECT_FALSE(HasSavedUserPlan());
    EXPECT_TRUE(ErrorEntries().empty());
    EXPECT_FALSE(IsRefreshPlanReplaced(refresh));

    // Without a saved user plan the end keeps the plan (entry 118) ...
    RestorePowerPlan(nullptr, &refresh);
    EXPECT_EQ(1u, CountEntries(L"E118"));
    EXPECT_TRUE(IsEqualGUID(REFRESH_POWER_PLAN_GUID, ActivePlan()));

    // ... and with one left by the run that died it restores that one and
    // deletes the refresh plan.
    ASSERT_HRESULT_SUCCEEDED(SetRegUserPowerPlan(&kPowerSaver));
    RestorePowerPlan(nullptr, &refresh);
    EXPECT_TRUE(IsEqualGUID(kPowerSaver, ActivePlan()));
    EXPECT_FALSE(HasSavedUserPlan());
    EXPECT_FALSE(PlanListed(REFRESH_POWER_PLAN_GUID));
    EXPECT_EQ(0u, CountEntries(L"E110"));
}

TEST_F(PowerTest, WithoutThePlanFileTheRefreshRunsOnTheUsersPlan) {
    powertest::FileMovedAside aside(RefreshPlanFile());
    ASSERT_TRUE(aside.Moved());
    CPowerScheme refresh;

    StorePowerPlan(nullptr, &refresh);

    EXPECT_TRUE(refresh.IsEmpty());
    EXPECT_EQ(2u, CountEntries(L"E110")) << "the import and the activation";
    EXPECT_TRUE(IsEqualGUID(kBalanced, ActivePlan()));
    ASSERT_EQ(0u, PowerSetActiveScheme(nullptr, &kPowerSaver));
    EXPECT_FALSE(IsRefreshPlanReplaced(refresh)) << "no notice without a refresh plan";

    // The user's plan was saved all the same, so the end gives it back.
    RestorePowerPlan(nullptr, &refresh);
    EXPECT_TRUE(IsEqualGUID(kBalanced, ActivePlan()));
    EXPECT_FALSE(HasSavedUserPlan());
    EXPECT_EQ(3u, CountEntries(L"E110")) << "and the delete of the empty plan";
}

TEST_F(PowerTest, AnotherPlanMadeActiveCountsAsAChange) {
    CPowerScheme refresh;
    StorePowerPlan(nullptr, &refresh);
    ASSERT_FALSE(refresh.IsEmpty());
    EXPECT_FALSE(IsRefreshPlanReplaced(refresh));

    ASSERT_EQ(0u, PowerSetActiveScheme(nullptr, &kPowerSaver));
    EXPECT_TRUE(IsRefreshPlanReplaced(refresh));

    // The main screen asks for the refresh plan again.
    EXPECT_EQ(0u, ActivateRefreshPlan(refresh));
    EXPECT_FALSE(IsRefreshPlanReplaced(refresh));
    CPowerScheme empty;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ActivateRefreshPlan(empty));
    RestorePowerPlan(nullptr, &refresh);
}

TEST_F(PowerTest, ASavedUserPlanOfTheWrongSizeIsNotRestored) {
    CPowerScheme refresh;
    StorePowerPlan(nullptr, &refresh);
    const BYTE shortValue[8] = {};
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, 0, KEY_SET_VALUE, &key));
    RegSetValueExW(key, L"UserPowerPlan", 0, REG_BINARY, shortValue, sizeof(shortValue));
    RegCloseKey(key);

    RestorePowerPlan(nullptr, &refresh);

    EXPECT_EQ(1u, CountEntries(L"E118"));
    EXPECT_TRUE(IsEqualGUID(REFRESH_POWER_PLAN_GUID, ActivePlan()));
    EXPECT_TRUE(PlanListed(REFRESH_POWER_PLAN_GUID)) << "not deleted while it is in use";
}

TEST_F(PowerTest, AUserPlanGoneMeanwhileIsReportedAndKeptSaved) {
    ASSERT_EQ(0u, PowerSetActiveScheme(nullptr, &kPowerSaver));
    CPowerScheme refresh;
    StorePowerPlan(nullptr, &refresh);
    ASSERT_EQ(0u, PowerDeleteScheme(nullptr, &kPowerSaver));

    RestorePowerPlan(nullptr, &refresh);

    // Activation fails (not found), and the refresh plan, still active,
    // cannot be deleted either.
    EXPECT_EQ((std::vector<std::wstring>{L"E110(0x2)", L"E110(0x5)"}), ErrorEntries());
    EXPECT_TRUE(HasSavedUserPlan());
    EXPECT_TRUE(IsEqualGUID(REFRESH_POWER_PLAN_GUID, ActivePlan()));
}

TEST_F(PowerTest, AnUnreadableActivePlanLeavesEverythingAsItIs) {
    // The power manager's record of the active plan is damaged.
    ASSERT_TRUE(IsEqualGUID(kBalanced, ActivePlan()));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Control\\Power\\User\\PowerSchemes", 0,
                            KEY_SET_VALUE, &key));
    const wchar_t garbage[] = L"not-a-plan";
    RegSetValueExW(key, L"ActivePowerScheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(garbage),
                   sizeof(garbage));
    RegCloseKey(key);
    CPowerScheme refresh;

    StorePowerPlan(nullptr, &refresh);

    EXPECT_EQ((std::vector<std::wstring>{L"E110(0xd)"}), ErrorEntries());
    EXPECT_FALSE(HasSavedUserPlan()) << "no made-up user plan";
    EXPECT_TRUE(refresh.IsEmpty());
    EXPECT_FALSE(PlanListed(REFRESH_POWER_PLAN_GUID));
}

TEST_F(PowerTest, PlanObjectsRefuseMissingArgumentsAndListEveryPlan) {
    powertest::EnableTrace();
    StorePowerPlan(nullptr, nullptr);
    RestorePowerPlan(nullptr, nullptr);
    EXPECT_TRUE(powertest::TraceContains(L"pPs2 is NULL."));

    CPowerScheme scheme;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              scheme.ImportScheme(nullptr, REFRESH_POWER_PLAN_GUID));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), scheme.DeleteScheme());

    CPowerSchemeArray plans;
    EXPECT_EQ(0u, plans.EnumPowerScheme());
    EXPECT_EQ(3u, plans.GetCount());
    EXPECT_TRUE(plans.GetPowerScheme(nullptr).IsEmpty());
    EXPECT_TRUE(plans.GetPowerScheme(&REFRESH_POWER_PLAN_GUID).IsEmpty());
    const CPowerScheme balanced = plans.GetPowerScheme(&kBalanced);
    EXPECT_STREQ(L"バランス", balanced.GetFriendlyName());
}

} // namespace
