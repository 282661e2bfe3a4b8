// The simulated power manager (sim/powrprof): what the suite's power code
// relies on, called the way the suite calls it, through the powrprof.dll the
// prefix loads.
#include "power_test_support.h"

#include "sim/machine.h"
#include "sim/powrprof/plan_file.h"
#include "sim/powrprof/power_store.h"

#include <gtest/gtest.h>

namespace {

using powertest::ActivePlan;
using powertest::PlanListed;
using powertest::PlanValue;
using powertest::PowerTest;
using powertest::TempFile;

const GUID kWanted = {0xc112aae6, 0x9692, 0x45a9, {0x91, 0x30, 0x0a, 0xbf, 0x58, 0x0f, 0x06, 0xa5}};

const char kPlanFile[] = "\xEF\xBB\xBF# test plan, UTF-8 with its mark\r\n"
                         "ZBSIM-POWERPLAN 1\r\n"
                         "name=Test plan\r\n"
                         "description=never sleeps\r\n"
                         "setting={238C9FA8-0AAD-41ED-83F4-97BE242C8F20},"
                         "29f6c1db-86da-48c5-9fdb-f2b67b1f44da, 0, 0x0\r\n";

std::wstring FriendlyName(const GUID& plan) {
    wchar_t name[256] = {};
    DWORD cb = sizeof(name);
    if (PowerReadFriendlyName(nullptr, &plan, nullptr, nullptr, reinterpret_cast<UCHAR*>(name),
                              &cb) != ERROR_SUCCESS)
        return L"<unreadable>";
    return name;
}

TEST_F(PowerTest, TheSystemPowrProfIsTheSimulatedOne) {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    wcscat_s(path, L"\\powrprof.dll");
    HMODULE module = LoadLibraryW(path);
    ASSERT_NE(nullptr, module) << "no powrprof.dll in system32";
    // Wine's own lacks the import: this one is ours.
    EXPECT_NE(nullptr, GetProcAddress(module, "PowerImportPowerScheme"));
    FreeLibrary(module);
}

TEST_F(PowerTest, StartsWithTheUsualPlansAndBalancedActive) {
    EXPECT_TRUE(IsEqualGUID(simpower::kBalancedPlan, ActivePlan()));
    EXPECT_TRUE(PlanListed(simpower::kBalancedPlan));
    EXPECT_TRUE(PlanListed(simpower::kHighPerformancePlan));
    EXPECT_TRUE(PlanListed(simpower::kPowerSaverPlan));
    EXPECT_FALSE(PlanListed(kWanted));

    GUID guid;
    DWORD cb = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
              PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, 0, nullptr, &cb));
    EXPECT_EQ(sizeof(GUID), cb);
    cb = sizeof(guid);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS),
              PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, 3,
                             reinterpret_cast<UCHAR*>(&guid), &cb));
}

TEST_F(PowerTest, ImportsAPlanFileUnderTheAskedIdentifierOnce) {
    TempFile file(L"zbtest_plan.txt", kPlanFile);
    GUID wanted = kWanted;
    GUID* pGuid = &wanted;
    ASSERT_EQ(0u, PowerImportPowerScheme(nullptr, file.Path(), &pGuid));
    EXPECT_EQ(&wanted, pGuid) << "an identifier given by the caller stays the caller's";
    EXPECT_TRUE(PlanListed(kWanted));
    EXPECT_EQ(L"Test plan", FriendlyName(kWanted));
    EXPECT_EQ(0u,
              PlanValue(kWanted, powertest::SleepSubgroup(), powertest::StandbyTimeout(), true));
    EXPECT_EQ(0u,
              PlanValue(kWanted, powertest::SleepSubgroup(), powertest::StandbyTimeout(), false));
    // Settings the file leaves out read as the system's defaults.
    EXPECT_EQ(10800u,
              PlanValue(kWanted, powertest::SleepSubgroup(), powertest::HibernateTimeout(), false));

    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS),
              PowerImportPowerScheme(nullptr, file.Path(), &pGuid));

    GUID* pNew = nullptr;
    ASSERT_EQ(0u, PowerImportPowerScheme(nullptr, file.Path(), &pNew));
    ASSERT_NE(nullptr, pNew);
    EXPECT_FALSE(IsEqualGUID(*pNew, kWanted));
    EXPECT_TRUE(PlanListed(*pNew));
    LocalFree(pNew);
}

TEST_F(PowerTest, ImportRefusesMissingAndForeignFiles) {
    GUID wanted = kWanted;
    GUID* pGuid = &wanted;
    wchar_t missing[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, missing);
    wcscat_s(missing, L"zbtest_no_such_plan");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              PowerImportPowerScheme(nullptr, missing, &pGuid));
    TempFile binary(L"zbtest_binary.pow", std::string("regf\x01\x00\xff\xfe garbage", 16));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
              PowerImportPowerScheme(nullptr, binary.Path(), &pGuid));
    EXPECT_FALSE(PlanListed(kWanted));
}

TEST_F(PowerTest, TheActivePlanCannotBeDeletedOthersCan) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              PowerDeleteScheme(nullptr, &simpower::kBalancedPlan));
    ASSERT_EQ(0u, PowerSetActiveScheme(nullptr, &simpower::kPowerSaverPlan));
    EXPECT_TRUE(IsEqualGUID(simpower::kPowerSaverPlan, ActivePlan()));
    EXPECT_EQ(0u, PowerDeleteScheme(nullptr, &simpower::kBalancedPlan));
    EXPECT_FALSE(PlanListed(simpower::kBalancedPlan));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              PowerSetActiveScheme(nullptr, &simpower::kBalancedPlan));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              PowerDeleteScheme(nullptr, &simpower::kBalancedPlan));
}

TEST_F(PowerTest, NamesAndValuesOfADuplicatedPlanReadBackAsWritten) {
    GUID* pCopy = nullptr;
    ASSERT_EQ(0u, PowerDuplicateScheme(nullptr, &simpower::kBalancedPlan, &pCopy));
    ASSERT_NE(nullptr, pCopy);
    const GUID copy = *pCopy;
    LocalFree(pCopy);
    EXPECT_EQ(FriendlyName(simpower::kBalancedPlan), FriendlyName(copy));

    std::wstring name = L"コピー";
    ASSERT_EQ(0u, PowerWriteFriendlyName(nullptr, &copy, nullptr, nullptr,
                                         reinterpret_cast<UCHAR*>(&name[0]),
                                         static_cast<DWORD>((name.size() + 1) * 2)));
    EXPECT_EQ(name, FriendlyName(copy));
    EXPECT_EQ(L"バランス", FriendlyName(simpower::kBalancedPlan));

    // Sizes: the whole name with its terminator, or more data.
    DWORD cb = 0;
    EXPECT_EQ(0u, PowerReadFriendlyName(nullptr, &copy, nullptr, nullptr, nullptr, &cb));
    EXPECT_EQ((name.size() + 1) * 2, cb);
    wchar_t tiny[2] = {};
    cb = sizeof(tiny);
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
              PowerReadFriendlyName(nullptr, &copy, nullptr, nullptr,
                                    reinterpret_cast<UCHAR*>(tiny), &cb));
    EXPECT_EQ((name.size() + 1) * 2, cb);

    ASSERT_EQ(0u, PowerWriteACValueIndex(nullptr, &copy, &powertest::SleepSubgroup(),
                                         &powertest::StandbyTimeout(), 42));
    ASSERT_EQ(0u, PowerWriteDCValueIndex(nullptr, &copy, &powertest::SleepSubgroup(),
                                         &powertest::StandbyTimeout(), 43));
    EXPECT_EQ(42u, PlanValue(copy, powertest::SleepSubgroup(), powertest::StandbyTimeout(), true));
    EXPECT_EQ(43u, PlanValue(copy, powertest::SleepSubgroup(), powertest::StandbyTimeout(), false));
    EXPECT_EQ(1800u, PlanValue(simpower::kBalancedPlan, powertest::SleepSubgroup(),
                               powertest::StandbyTimeout(), true));

    // A setting nobody defined is not there.
    DWORD value = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              PowerReadACValueIndex(nullptr, &copy, &powertest::SleepSubgroup(), &kWanted, &value));
}

// ---- XP schemes ------------------------------------------------------------

struct SchemeList {
    std::vector<UINT> indexes;
    std::vector<std::wstring> names;
};

BOOLEAN CALLBACK CollectScheme(UINT index, DWORD, LPWSTR name, DWORD, LPWSTR, PPOWER_POLICY,
                               LPARAM lParam) {
    auto* list = reinterpret_cast<SchemeList*>(lParam);
    list->indexes.push_back(index);
    list->names.push_back(name);
    return TRUE;
}

TEST_F(PowerTest, XpSchemesAreWrittenActivatedAndDeletedByIndex) {
    SchemeList list;
    ASSERT_TRUE(EnumPwrSchemes(CollectScheme, reinterpret_cast<LPARAM>(&list)));
    EXPECT_EQ((std::vector<UINT>{0, 1, 2, 3, 4, 5}), list.indexes);
    UINT active = 99;
    ASSERT_TRUE(GetActivePwrScheme(&active));
    EXPECT_EQ(1u, active);

    GLOBAL_POWER_POLICY global = {};
    POWER_POLICY policy = {};
    ASSERT_TRUE(GetCurrentPowerPolicies(&global, &policy));
    EXPECT_EQ(1200u, policy.user.IdleTimeoutAc) << "the active scheme's policy";

    policy.user.IdleTimeoutAc = 0;
    UINT index = NEWSCHEME;
    wchar_t name[] = L"Refresh";
    wchar_t desc[] = L"";
    ASSERT_TRUE(WritePwrScheme(&index, name, desc, &policy));
    EXPECT_EQ(6u, index);
    UINT again = 6;
    ASSERT_TRUE(WritePwrScheme(&again, name, desc, &policy));
    EXPECT_EQ(6u, again) << "an existing index is written over";

    ASSERT_TRUE(SetActivePwrScheme(6, nullptr, nullptr));
    POWER_POLICY current = {};
    ASSERT_TRUE(GetCurrentPowerPolicies(nullptr, &current));
    EXPECT_EQ(0u, current.user.IdleTimeoutAc);

    SetLastError(0);
    EXPECT_FALSE(DeletePwrScheme(6));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(SetActivePwrScheme(77, nullptr, nullptr));
    EXPECT_NE(0u, GetLastError());
    ASSERT_TRUE(SetActivePwrScheme(1, nullptr, nullptr));
    EXPECT_TRUE(DeletePwrScheme(6));
    list = SchemeList();
    ASSERT_TRUE(EnumPwrSchemes(CollectScheme, reinterpret_cast<LPARAM>(&list)));
    EXPECT_EQ(6u, list.indexes.size());
}

// ---- The simulated notebook ------------------------------------------------

TEST_F(PowerTest, BatteryStateComesFromTheSimulatedNotebook) {
    ASSERT_EQ(0u, SimSetupProfile(L"one"));
    sim::Machine machine = {};
    ASSERT_EQ(0u, sim::ReadMachine(&machine));
    SYSTEM_BATTERY_STATE state = {};
    ASSERT_EQ(0, CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state)));
    EXPECT_TRUE(state.BatteryPresent);
    EXPECT_EQ(machine.acOnline != 0, state.AcOnLine != 0);
    EXPECT_EQ(machine.battery[0].fullChargeCapacity, state.MaxCapacity);
    EXPECT_GT(state.RemainingCapacity, 0u);

    ASSERT_EQ(0u, SimSetupProfile(L"none"));
    ASSERT_EQ(0, CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, sizeof(state)));
    EXPECT_FALSE(state.BatteryPresent);
    EXPECT_NE(0, CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state, 4));
}

TEST_F(PowerTest, SetSuspendStateSleepsAndWakesTheNotebook) {
    // The power events reach a process's windows through the battery
    // library's watcher, as in every program of the suite.
    ASSERT_NE(nullptr, LoadLibraryW((testenv::BinDir() + L"cellio.dll").c_str()));
    ASSERT_EQ(0u, SimSetupProfile(L"one"));
    powertest::MessageRecorder window;
    ASSERT_NE(nullptr, window.Window());
    // The watcher has found the window once it has told it the settings.
    ASSERT_TRUE(testenv::PumpUntil([&] { return window.Count(WM_POWERBROADCAST) > 0; }, 10000));
    sim::Machine before = {};
    ASSERT_EQ(0u, sim::ReadMachine(&before));

    ASSERT_TRUE(SetSuspendState(FALSE, FALSE, FALSE));

    sim::Machine after = {};
    ASSERT_EQ(0u, sim::ReadMachine(&after));
    EXPECT_EQ(0u, after.suspended) << "the call returns after the resume";
    EXPECT_EQ(before.suspendCount + 1, after.suspendCount);
    EXPECT_EQ(before.resumeCount + 1, after.resumeCount);
    ASSERT_TRUE(testenv::PumpUntil(
        [&] {
            for (const auto& r : window.Records())
                if (r.message == WM_POWERBROADCAST && r.wParam == PBT_APMRESUMESUSPEND)
                    return true;
            return false;
        },
        10000));
    std::vector<WPARAM> events;
    for (const auto& r : window.Records())
        if (r.message == WM_POWERBROADCAST && r.wParam != PBT_APMPOWERSTATUSCHANGE &&
            r.wParam != PBT_POWERSETTINGCHANGE)
            events.push_back(r.wParam);
    EXPECT_EQ((std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND}),
              events);
}

// ---- The plan file ---------------------------------------------------------

TEST(SimPlanFile, ReadsNameDescriptionAndSettings) {
    simpower::PowerPlan plan;
    std::wstring error;
    ASSERT_EQ(0u, simpower::ParsePlanText(L"# c\r\nZBSIM-POWERPLAN 1\r\n\r\nname= Refresh \n"
                                          L"setting=fea3413e-7e05-4911-9a71-700331f1c294,"
                                          L"0e796bdb-100d-47d6-a2d5-f7d2daa51f51,1,0x10\n",
                                          &plan, &error))
        << error;
    EXPECT_EQ(L"Refresh", plan.name);
    EXPECT_EQ(L"", plan.description);
    ASSERT_EQ(1u, plan.settings.size());
    EXPECT_TRUE(IsEqualGUID(simpower::kNoSubgroup, plan.settings[0].subgroup));
    EXPECT_TRUE(IsEqualGUID(simpower::kLockConsoleOnWake, plan.settings[0].setting));
    EXPECT_EQ(1u, plan.settings[0].ac);
    EXPECT_EQ(16u, plan.settings[0].dc);
}

TEST(SimPlanFile, RefusesAnythingElse) {
    const wchar_t* const bad[] = {
        L"",                                             // empty
        L"name=x\n",                                     // no header
        L"ZBSIM-POWERPLAN 2\nname=x\n",                  // other version
        L"ZBSIM-POWERPLAN 1\n",                          // no name
        L"ZBSIM-POWERPLAN 1\nname=x\ncolour=blue\n",     // unknown key
        L"ZBSIM-POWERPLAN 1\nname=x\nsetting=1,2,3,4\n", // not identifiers
        L"ZBSIM-POWERPLAN 1\nname=x\nsetting=fea3413e-7e05-4911-9a71-700331f1c294,"
        L"0e796bdb-100d-47d6-a2d5-f7d2daa51f51,1\n", // three fields
        L"ZBSIM-POWERPLAN 1\nname=x\nsetting=fea3413e-7e05-4911-9a71-700331f1c294,"
        L"0e796bdb-100d-47d6-a2d5-f7d2daa51f51,-1,99999999999\n", // numbers out of range
    };
    for (const wchar_t* text : bad) {
        simpower::PowerPlan plan;
        std::wstring error;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
                  simpower::ParsePlanText(text, &plan, &error))
            << "accepted: " << testing::PrintToString(std::wstring(text));
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimPlanFile, TheBuiltRefreshPlanNeverSleepsOrHibernates) {
    simpower::PowerPlan plan;
    std::wstring error;
    ASSERT_EQ(0u,
              simpower::ReadPlanFile((testenv::BinDir() + L"refreshplan").c_str(), &plan, &error))
        << error;
    int checked = 0;
    for (const simpower::PlanSetting& s : plan.settings) {
        if (IsEqualGUID(s.setting, simpower::kStandbyTimeout) ||
            IsEqualGUID(s.setting, simpower::kHibernateTimeout) ||
            IsEqualGUID(s.setting, simpower::kCriticalBatteryAction)) {
            EXPECT_EQ(0u, s.ac);
            EXPECT_EQ(0u, s.dc);
            ++checked;
        }
    }
    EXPECT_EQ(3, checked);
}

TEST_F(PowerTest, SimctlShowsAndResetsThePlansOfEveryProcess) {
    TempFile file(L"zbtest_plan.txt", kPlanFile);
    GUID wanted = kWanted;
    GUID* pGuid = &wanted;
    ASSERT_EQ(0u, PowerImportPowerScheme(nullptr, file.Path(), &pGuid));
    ASSERT_EQ(0u, PowerSetActiveScheme(nullptr, &kWanted));
    ASSERT_TRUE(SetActivePwrScheme(0, nullptr, nullptr));

    EXPECT_EQ(0, testenv::RunProgram(L"simctl.exe", L"plans"));
    EXPECT_EQ(2, testenv::RunProgram(L"simctl.exe", L"plans everything"));
    EXPECT_EQ(0, testenv::RunProgram(L"simctl.exe", L"plans reset"));

    EXPECT_FALSE(PlanListed(kWanted));
    EXPECT_TRUE(IsEqualGUID(simpower::kBalancedPlan, ActivePlan()));
    UINT active = 0;
    ASSERT_TRUE(GetActivePwrScheme(&active));
    EXPECT_EQ(1u, active);
}

} // namespace
