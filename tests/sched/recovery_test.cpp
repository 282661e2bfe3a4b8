// A refresh tool killed as Task Manager would (TerminateProcess) leaves the
// refreshed battery with the firmware's refresh on (it never charges
// again), the other battery held at the no-charge mode and the refresh
// plan active. The scheduler puts all of it back: at its start, and within
// one routine interval when it was already running.
#include "sched_support.h"

#include "common/reg.h"
#include "sim/powrprof/power_store.h"

using namespace scenario;
using namespace schedtest;

namespace {

constexpr double kFastSpeed = 4000.0;
constexpr double kSlowSpeed = 300.0;

class SchedRecoveryTest : public RefreshScenarioTest {
protected:
    void SetUpBatteries() {
        SetUpMachine(L"two", [&](sim::Machine& m) {
            SetPercent(m.battery[0], 97);
            m.battery[0].chargeMode = 80;
            m.battery[1].chargeMode = 50;
            m.speed = kFastSpeed;
        });
    }

    void ExpectLeftBroken() {
        const sim::Battery b1 = ReadBattery(1);
        EXPECT_TRUE(b1.adpc == 0 || b1.chgc == 0) << "the kill left nothing to repair";
        EXPECT_EQ(5u, ReadBattery(2).chargeMode);
    }

    // The machine as the owner had it: waits for the scheduler's repair.
    void ExpectPutBack(const PowerState& before) {
        const bool repaired = testenv::WaitUntil(
            [] {
                const sim::Battery b1 = ReadBattery(1);
                return b1.adpc == 1 && b1.chgc == 1 && b1.chargeMode == 80 &&
                       ReadBattery(2).chargeMode == 50;
            },
            kWaitMs, 100);
        EXPECT_TRUE(repaired) << "the scheduler did not repair the machine";
        ExpectRefreshSwitchedOff(1);
        ExpectRefreshSwitchedOff(2);
        EXPECT_GE(ReadBattery(1).rate, 0.0) << "battery 1 still discharges";
        EXPECT_EQ(80u, ReadBattery(1).chargeMode);
        EXPECT_EQ(50u, ReadBattery(2).chargeMode);
        EXPECT_TRUE(testenv::WaitUntil(
            [&] {
                const PowerState now = ReadPowerState();
                return IsEqualGUID(now.activePlan, before.activePlan) &&
                       now.plans.size() == before.plans.size();
            },
            kWaitMs, 100));
        ExpectSamePowerState(before, ReadPowerState());
    }
};

// Killed during the discharge; the scheduler starts afterwards, with a
// refresh result waiting ("/comp"): the repair does not depend on the path
// the start takes.
TEST_F(SchedRecoveryTest, AKilledRefreshIsRepairedWhenTheSchedulerStarts) {
    SetUpBatteries();
    const PowerState before = ReadPowerState();
    {
        ToolProcess tool(L"/b1 /nomain");
        ASSERT_TRUE(recorder_->WaitForMode(1, 1)) << "the refresh never got to its discharge";
        SetSpeed(kSlowSpeed);
    } // TerminateProcess
    ExpectLeftBroken();
    ASSERT_EQ(S_OK,
              CReg::SetDW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur", L"LastRefreshStatus", 0));

    SchedFolder folder;
    SchedProcess sched(folder);
    ExpectPutBack(before);
    EXPECT_TRUE(TraceContains(L"refresh left on"));
    ASSERT_TRUE(folder.WaitForMainStarts(1));
    EXPECT_EQ("/comp", folder.MainStarts()[0]);
}

// The scheduler runs first (the routine timer every second); this user's
// refresh tool, started with "/sleep", makes it open the main screen with
// "/sleep /icon". The tool is killed in its cool-down; the next tick
// repairs the machine.
TEST_F(SchedRecoveryTest, ARefreshKilledWhileTheSchedulerRunsIsRepairedOnTheNextTick) {
    SetUserValue(L"RoutineCheckInterval", 1000);
    SetRefreshSetting(L"RefreshCoolDownTime", 1); // a real minute holds COOLDOWN1
    SetUpBatteries();
    const PowerState before = ReadPowerState();
    SchedFolder folder;
    {
        ToolProcess tool(L"/b1 /nomain /sleep");
        ASSERT_TRUE(recorder_->WaitForMode(1, 1));
        SchedProcess sched(folder);
        ASSERT_TRUE(folder.WaitForMainStarts(1));
        EXPECT_EQ("/sleep /icon", folder.MainStarts()[0]);
        ASSERT_TRUE(recorder_->WaitForMode(1, 2, 2 * kStepWaitMs)) << "no cool-down";
        ASSERT_TRUE(sched.Running());
        zb::UniqueHandle victim(OpenProcess(PROCESS_TERMINATE, FALSE, tool.Id()));
        ASSERT_TRUE(TerminateProcess(victim.Get(), 1));
        ASSERT_EQ(1, tool.Wait(kStepWaitMs));
        ExpectLeftBroken();
        ExpectPutBack(before);
        EXPECT_TRUE(sched.Running());
    }
}

// Windows XP: a refresh that ended without giving the user's power scheme
// back (its scheme still saved, the refresh scheme active) is put right at
// the scheduler's start with the older power-scheme interface.
TEST_F(SchedRecoveryTest, TheUsersSchemeIsBackOnWindowsXp) {
    SetUpBatteries();
    const PowerState before = ReadPowerState();
    simpower::XpScheme user;
    ASSERT_EQ(0u, simpower::ReadXpScheme(before.activeXpScheme, &user));
    UINT refreshScheme = static_cast<UINT>(-1);
    ASSERT_EQ(0u,
              simpower::WriteXpScheme(&refreshScheme, L"バッテリ・リフレッシュ", L"", user.policy));
    ASSERT_EQ(0u, simpower::SetActiveXpScheme(refreshScheme, nullptr, nullptr));
    SetUserRefreshSetting(L"UserPowerSetting", before.activeXpScheme);
    SetUserRefreshSetting(L"RefreshPowerSetting", refreshScheme);

    WineVersionFor xp(L"zbSched.exe", L"winxp64");
    SchedFolder folder;
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    EXPECT_TRUE(testenv::WaitUntil(
        [&] { return ReadPowerState().activeXpScheme == before.activeXpScheme; }, kWaitMs, 100));
    ExpectSamePowerState(before, ReadPowerState());
    DWORD saved = 0;
    EXPECT_TRUE(FAILED(CReg::GetDW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur\\Refresh",
                                   L"UserPowerSetting", &saved)));
}

} // namespace
