// A refresh that meets what people and other programs do to it. Killed in
// any phase (as with Task Manager), the next run first puts the machine
// right: the owner's charge modes, the firmware's refresh switched off, the
// user's power plan. A stray acknowledgement, a battery full before the
// first look, and mistyped settings do not steer the refresh either.
#include "scenario_support.h"

#include "common/reg.h"

#include <algorithm>

using namespace scenario;

namespace {

constexpr double kSlowSpeed = 300.0;
constexpr double kFastSpeed = 4000.0;
constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";
constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";

DWORD ModeCopy(const wchar_t* name) {
    DWORD mode = 0;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_LOCAL_MACHINE, kSuiteKey, name, &mode)) << name;
    return mode;
}

bool HasModeRecord(UINT battNo) {
    DWORD mode = 0;
    return SUCCEEDED(CReg::GetDW(
        HKEY_LOCAL_MACHINE, kSuiteKey,
        battNo == 1 ? L"RefreshOriginalMode_batt1" : L"RefreshOriginalMode_batt2", &mode));
}

class RefreshRecoveryTest : public RefreshScenarioTest {
protected:
    // Battery 1 (refreshed) in the 80 % mode, battery 2 in the 50 % mode.
    void SetUpBatteries(double percent, double speed) {
        SetUpMachine(L"two", [&](sim::Machine& m) {
            SetPercent(m.battery[0], percent);
            m.battery[0].chargeMode = 80;
            m.battery[1].chargeMode = 50;
            m.speed = speed;
        });
    }

    // A fresh main screen on pipe 1 for the next run.
    void NewRecorder() {
        recorder_.reset();
        recorder_.reset(new NoticeRecorder());
    }

    // Starts a refresh of battery 1, lets it charge and start the discharge,
    // then closes it with "/end"; the machine is then as the owner left it.
    void RunAndCancelMidDischarge() {
        ToolProcess tool(L"/b1 /nomain");
        ASSERT_TRUE(recorder_->WaitForMode(1, 1)) << "the refresh never got to its discharge";
        SetSpeed(kSlowSpeed);
        ToolProcess end(L"/end");
        EXPECT_EQ(0, end.Wait(kStepWaitMs));
        ASSERT_EQ(0, tool.Wait(kStepWaitMs));
    }

    void ExpectMachineAsTheOwnerLeftIt(const PowerState& before) {
        ExpectRefreshSwitchedOff(1);
        ExpectRefreshSwitchedOff(2);
        EXPECT_EQ(80u, ReadBattery(1).chargeMode);
        EXPECT_EQ(50u, ReadBattery(2).chargeMode);
        // The registry copy of the mode too, or the next read would re-apply it.
        EXPECT_EQ(80u, ModeCopy(L"CurrentMode_batt1"));
        EXPECT_EQ(50u, ModeCopy(L"CurrentMode_batt2"));
        EXPECT_FALSE(HasModeRecord(1));
        EXPECT_FALSE(HasModeRecord(2));
        ExpectSamePowerState(before, ReadPowerState());
    }
};

// Killed in each phase, then run again: the second run repairs what the
// first left (battery 1 released to 0 or with charging inhibited, battery 2
// held at the no-charge mode, the refresh plan active), gets on with its
// refresh, and gives everything back.
TEST_F(RefreshRecoveryTest, AKilledRunIsPutRightByTheNext) {
    struct Kill {
        INT64 mode;
        DWORD coolDownTime;
        DWORD coolDownLimit;
    };
    // The cool-downs are timed in real minutes: one of a minute holds the
    // refresh there; a temperature limit of 0 keeps COOLDOWN2 going.
    const Kill kills[] = {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {3, 0, 1}, {4, 0, 0}};
    for (const Kill& kill : kills) {
        SCOPED_TRACE(testing::Message() << "killed in mode " << kill.mode);
        SetRefreshSetting(L"RefreshCoolDownTime", kill.coolDownTime);
        SetRefreshSetting(L"RefreshCoolDownLimit", kill.coolDownLimit);
        SetRefreshSetting(L"RefreshCoolDownTemp", 0);
        SetUpBatteries(kill.mode == 0 ? 60 : 97, kill.mode == 0 ? kSlowSpeed : kFastSpeed);
        const PowerState before = ReadPowerState();
        NewRecorder();
        {
            ToolProcess tool(L"/b1 /nomain");
            if (kill.mode == 0) {
                ASSERT_TRUE(recorder_->WaitFor(
                    [](const Notice& n) { return n.message == kProgressNotice; }));
            } else if (kill.mode == 1) {
                ASSERT_TRUE(recorder_->WaitForMode(1, 1));
            } else {
                // Slow down for the end of the discharge, so that the second
                // charge is still going when it is killed.
                ASSERT_TRUE(recorder_->WaitFor([](const Notice& n) {
                    return n.message == kProgressNotice && n.wparam >= 37;
                }));
                SetSpeed(kSlowSpeed);
                ASSERT_TRUE(recorder_->WaitForMode(1, kill.mode, 2 * kStepWaitMs));
            }
            ASSERT_EQ(5u, ReadBattery(2).chargeMode);
        } // TerminateProcess

        SetRefreshSetting(L"RefreshCoolDownTime", 0);
        SetRefreshSetting(L"RefreshCoolDownLimit", 0);
        SetSpeed(kFastSpeed);
        NewRecorder();
        RunAndCancelMidDischarge();
        EXPECT_TRUE(TraceContains(L"given back after an interrupted refresh"));
        if (kill.mode >= 1 && kill.mode <= 3) {
            EXPECT_TRUE(TraceContains(L"refresh left on"));
        }
        ExpectMachineAsTheOwnerLeftIt(before);
        EXPECT_EQ(0u, TraceCount(L"DeleteScheme=57")) << "the refresh plan was not deleted";
        if (HasFailure())
            return;
    }
}

// A killed run that left battery 2 at the no-charge mode without a record
// (as older versions did): it is not "given back" as such, it charges.
TEST_F(RefreshRecoveryTest, ANoChargeModeWithoutARecordBecomesFullCharge) {
    SetUpBatteries(97, kFastSpeed);
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[1].chargeMode = 5;
                  return 0;
              }));
    RunAndCancelMidDischarge();
    EXPECT_EQ(0u, ReadBattery(2).chargeMode);
    EXPECT_FALSE(HasModeRecord(2));
}

// An acknowledgement on pipe 2 with no error notice out is no reason to
// stop: the refresh goes on.
TEST_F(RefreshRecoveryTest, AStrayAcknowledgementDoesNotEndTheRefresh) {
    SetUpBatteries(90, kSlowSpeed);
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(recorder_->WaitFor([](const Notice& n) { return n.message == kProgressNotice; }));
    ASSERT_TRUE(SendRequest(kErrorNotice, 0));
    ASSERT_TRUE(testenv::WaitUntil(
        [] { return TraceContains(L"WM_USER_REFERROR without an error; ignored."); }, kStepWaitMs));
    SetSpeed(kFastSpeed);
    ASSERT_TRUE(recorder_->WaitForMode(1, 1)) << "the refresh ended";
    SetSpeed(kSlowSpeed);
    ToolProcess end(L"/end");
    EXPECT_EQ(0, end.Wait(kStepWaitMs));
    ASSERT_EQ(0, tool.Wait(kStepWaitMs));
    EXPECT_TRUE(ErrorsOf(recorder_->Notices()).empty());
    EXPECT_EQ(-1, LastRefreshStatus());
}

// A battery already full and not charging: nothing changes, so no power
// event follows the one at the start, which comes while the tool still waits
// for pipe clients (the longest with no main screen at all). It must still
// get on to the discharge.
TEST_F(RefreshRecoveryTest, AFullBatteryMovesOnWithoutAPowerEvent) {
    recorder_.reset();
    SetUpBatteries(100, kSlowSpeed);
    ToolProcess tool(L"/b1 /nomain");
    // Timer 1 looks within a minute even if the first notice were lost.
    const auto discharging = [] {
        const std::vector<std::wstring> lines = ProgressLines(1);
        return std::find(lines.begin(), lines.end(), L"INFORMATION Start refreshing.") !=
               lines.end();
    };
    ASSERT_TRUE(testenv::WaitUntil(discharging, 2 * kStepWaitMs)) << "stalled in the first charge";
    ToolProcess end(L"/end");
    EXPECT_EQ(0, end.Wait(kStepWaitMs));
    ASSERT_EQ(0, tool.Wait(kStepWaitMs));
}

// A re-apply request of the main screen that waits while the window cleans
// up (held here by the firmware pause of the clean-up) is served once the
// user's plan is back: it must not switch the refresh plan on again.
TEST_F(RefreshRecoveryTest, ARequestDuringTheCleanUpReappliesNothing) {
    constexpr UINT32 kPowerPlanRequest = 0x8305;
    SetUpBatteries(97, kFastSpeed);
    const PowerState before = ReadPowerState();
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(recorder_->WaitForMode(1, 1));
    SetSpeed(kSlowSpeed);
    SetRefreshSetting(L"ADCHDelay", 3000);
    ToolProcess end(L"/end");
    EXPECT_EQ(0, end.Wait(kStepWaitMs));
    EXPECT_TRUE(SendRequest(kPowerPlanRequest, 0));
    ASSERT_EQ(0, tool.Wait(kStepWaitMs));
    EXPECT_FALSE(TraceContains(L"Fail to PowerSetActiveScheme()"));
    ExpectSamePowerState(before, ReadPowerState());
}

// "NotChargeLimit" as text, 0 (which would let battery 2 charge) or
// 0xFFFFFFFF (no charge mode at all): battery 2 is held at the default 5.
TEST_F(RefreshRecoveryTest, AMistypedNotChargeLimitHoldsAtTheDefault) {
    struct Case {
        bool text;
        DWORD value;
    };
    for (const Case& c : {Case{true, 0}, Case{false, 0}, Case{false, 0xFFFFFFFF}}) {
        SCOPED_TRACE(testing::Message() << (c.text ? "text" : "number") << " " << c.value);
        if (c.text)
            ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_LOCAL_MACHINE, kRefreshKey, L"NotChargeLimit", L"5"));
        else
            SetRefreshSetting(L"NotChargeLimit", c.value);
        SetUpBatteries(90, kSlowSpeed);
        NewRecorder();
        ToolProcess tool(L"/b1 /nomain");
        ASSERT_TRUE(
            recorder_->WaitFor([](const Notice& n) { return n.message == kProgressNotice; }));
        EXPECT_EQ(5u, ReadBattery(2).chargeMode);
        ToolProcess end(L"/end");
        EXPECT_EQ(0, end.Wait(kStepWaitMs));
        ASSERT_EQ(0, tool.Wait(kStepWaitMs));
        EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    }
}

} // namespace
