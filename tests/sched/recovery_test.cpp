// A refresh tool killed as Task Manager would (TerminateProcess) leaves the
// refreshed battery with the firmware's refresh on (it never charges
// again), the other battery held at the no-charge mode and the refresh
// plan active. The scheduler puts all of it back: at its start, and within
// one routine interval when it was already running.
#include "sched_support.h"

#include "common/reg.h"
#include "common/settings.h"
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

// Windows XP: the error log names what failed. A saved scheme that cannot
// be made active again (it no longer exists) stays saved; a refresh scheme
// that cannot be deleted (here the one just made active again) is an entry
// of its own.
TEST_F(SchedRecoveryTest, XpRecoveryFailuresNameWhatFailed) {
    SetUpBatteries();
    const PowerState before = ReadPowerState();
    WineVersionFor xp(L"zbSched.exe", L"winxp64");
    SchedFolder folder;
    const auto startAndEnd = [&] {
        SchedProcess sched(folder);
        ASSERT_NE(nullptr, sched.Window());
        Deliver(sched.Window(), WM_NULL);
    };
    SetUserRefreshSetting(L"UserPowerSetting", 77);
    startAndEnd();
    EXPECT_EQ(1u, ErrorLogCount(L"電源プランの変更に失敗しました。"));
    EXPECT_EQ(77u, GetRegUserPowerSetting()) << "the saved scheme was dropped";

    SetUserRefreshSetting(L"UserPowerSetting", before.activeXpScheme);
    SetUserRefreshSetting(L"RefreshPowerSetting", before.activeXpScheme);
    startAndEnd();
    EXPECT_EQ(1u, ErrorLogCount(L"リフレッシュ用電源プランの削除に失敗しました。"));
    EXPECT_EQ(0u, ErrorLogCount(L"バッテリをリフレッシュしていない状態で長期間経過しています。"));
}

// The saved plan cannot be made active again (here it no longer exists):
// its record stays for a later try instead of leaving the keep-awake plan
// active with nothing to undo it; the error log has the failure once,
// however many ticks try again.
TEST_F(SchedRecoveryTest, ASavedPlanThatCannotBeRestoredStaysSaved) {
    SetUserValue(L"RoutineCheckInterval", 1000);
    SetUpBatteries();
    const GUID gone = {
        0x5d1c6a2e, 0x0b7e, 0x4d47, {0x9a, 0x31, 0x44, 0x18, 0x0c, 0x6f, 0x2b, 0x90}};
    ASSERT_EQ(S_OK, SetRegUserPowerPlan(&gone));
    SchedFolder folder;
    SchedProcess sched(folder);
    ASSERT_NE(nullptr, sched.Window());
    Deliver(sched.Window(), WM_NULL);
    EXPECT_TRUE(testenv::WaitUntil([] { return TraceCount(L"restoring it.") >= 3; }, kWaitMs, 100))
        << "not tried again on the ticks";
    GUID kept = {};
    ASSERT_EQ(S_OK, GetRegUserPowerPlan(&kept)) << "the saved plan was dropped";
    EXPECT_TRUE(IsEqualGUID(gone, kept));
    EXPECT_EQ(1u, ErrorLogCount(L"電源プランの変更に失敗しました。"));
}

} // namespace
