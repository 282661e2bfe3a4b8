// Refreshes that end early: the AC adapter unplugged, the battery removed,
// a sleep in the middle of a cool-down, and a close request from a second
// zbRefresh. Each is reported to the main screen (an error notice and the
// stored status) and, once the main screen has acknowledged it, the tool
// closes at once through its clean-up, leaving a clean machine: the
// firmware's refresh off, the charge modes and the power plan restored.
//
// The refresh that closes by itself when nobody acknowledges is the
// refresh_close area's (it waits the whole three minutes).
#include "scenario_support.h"

#include "common/reg.h"

#include <algorithm>

using namespace scenario;

namespace {

// Slow enough that a discharge lasts far longer than the steps below.
constexpr double kSlowSpeed = 300.0;
constexpr double kFastSpeed = 4000.0;

class RefreshAbortTest : public RefreshScenarioTest {
protected:
    // Two batteries; battery 1 (refreshed) in the 80 % mode, battery 2 in
    // the 50 % mode. Battery 2 is removed on a one-battery machine.
    void SetUpBatteries(bool twoBatteries, DWORD battery1Mode) {
        SetUpMachine(twoBatteries ? L"two" : L"one", [&](sim::Machine& m) {
            SetPercent(m.battery[0], 97);
            m.battery[0].chargeMode = battery1Mode;
            m.battery[1].chargeMode = 50;
            m.speed = kFastSpeed;
        });
        before_ = ReadPowerState();
    }

    // The main screen answers the error notice; the tool closes at once.
    void AcknowledgeAndExpectClose(ToolProcess& tool, LONG status) {
        ASSERT_TRUE(recorder_->WaitFor([&](const Notice& n) {
            return n.message == kErrorNotice && static_cast<LONG>(n.wparam) == status;
        })) << "no error notice "
            << status;
        for (const Notice& n : recorder_->Notices()) {
            if (n.message == kErrorNotice) {
                EXPECT_EQ(1u, n.battery);
            }
        }
        EXPECT_EQ(status, LastRefreshStatus());
        ASSERT_TRUE(SendRequest(kErrorNotice, static_cast<UINT64>(status)));
        ASSERT_EQ(0, tool.Wait(kStepWaitMs));
        EXPECT_TRUE(TraceContains(L"Refresh error occured. Close zbRefresh.exe."));
        EXPECT_FALSE(TraceContains(L"WM_USER_REFERROR message timeout."));
    }

    void ExpectAborted(const wchar_t* reason) {
        const std::vector<std::wstring> lines = ProgressLines(1);
        EXPECT_NE(lines.end(),
                  std::find(lines.begin(), lines.end(), std::wstring(L"ABORTED!    ") + reason));
        EXPECT_EQ(lines.end(), std::find(lines.begin(), lines.end(), L"COMPLETED!"));
    }

    void ExpectPowerPlanBack() { ExpectSamePowerState(before_, ReadPowerState()); }

    // Starts a refresh and, once it discharges, closes it with "/end".
    void EndRefreshMidDischarge() {
        ToolProcess tool(L"/b1 /nomain");
        ASSERT_TRUE(recorder_->WaitForMode(1, 1));
        SetSpeed(kSlowSpeed);
        ToolProcess end(L"/end");
        EXPECT_EQ(0, end.Wait(kStepWaitMs));
        ASSERT_EQ(0, tool.Wait(kStepWaitMs));
    }

    PowerState before_;
};

TEST_F(RefreshAbortTest, UnpluggingTheAdapterMidDischargeStoresFiveAndCleansUp) {
    SetUpBatteries(true, 80);
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(recorder_->WaitForMode(1, 1));
    SetSpeed(kSlowSpeed);
    ASSERT_EQ(5u, ReadBattery(2).chargeMode);
    ASSERT_EQ(0u, SimSetAcOnline(false));

    AcknowledgeAndExpectClose(tool, 5);
    ExpectAborted(L"Unplugged the AC adapter.");
    ExpectRefreshSwitchedOff(1);
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    ExpectPowerPlanBack();
    // The battery history ends the refresh with its status, once.
    const std::vector<zbhistory::HistoryRow> rows = HistoryRows();
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(zbhistory::HistoryEvent::RefreshStart, rows[0].event);
    EXPECT_EQ(zbhistory::HistoryEvent::RefreshEnd, rows[1].event);
    EXPECT_TRUE(rows[1].hasStatus);
    EXPECT_EQ(5u, rows[1].status);
}

// The tool had released battery 1's 80 % mode: removal reports 4. Battery 2,
// held while battery 1 was refreshed, gets its own mode back.
TEST_F(RefreshAbortTest, RemovingABatteryWhoseModeWasReleasedReportsFour) {
    SetUpBatteries(true, 80);
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(recorder_->WaitFor([](const Notice& n) { return n.message == kProgressNotice; }));
    ASSERT_EQ(0u, SimSetBatteryPresent(1, false));

    AcknowledgeAndExpectClose(tool, 4);
    ExpectAborted(L"Unplugged the battery.");
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    // Battery 1's own mode could not be given back: its record stays for
    // whoever sees the battery next.
    DWORD recorded = 0;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZEL\\VADOvur",
                                L"RefreshOriginalMode_batt1", &recorded));
    EXPECT_EQ(80u, recorded);
    ExpectPowerPlanBack();
}

// A battery that charges fully anyway keeps its mode: removal reports 3.
TEST_F(RefreshAbortTest, RemovingABatteryWhoseModeWasKeptReportsThree) {
    SetUpBatteries(false, 0);
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(recorder_->WaitFor([](const Notice& n) { return n.message == kProgressNotice; }));
    ASSERT_EQ(0u, SimSetBatteryPresent(1, false));

    AcknowledgeAndExpectClose(tool, 3);
    ExpectAborted(L"Unplugged the battery.");
    ExpectPowerPlanBack();
}

TEST_F(RefreshAbortTest, SleepingDuringACoolDownReportsSixOnResume) {
    SetRefreshSetting(L"RefreshCoolDownTime", 1);
    SetUpBatteries(false, 80);
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(recorder_->WaitForMode(1, 2));
    ASSERT_EQ(0u, SimSuspend());
    ASSERT_TRUE(
        testenv::WaitUntil([] { return TraceContains(L"S3/S4に移行しました。"); }, kStepWaitMs));
    ASSERT_EQ(0u, SimResume());

    AcknowledgeAndExpectClose(tool, 6);
    ExpectAborted(L"Resumed.");
    ExpectRefreshSwitchedOff(1);
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    ExpectPowerPlanBack();
}

// Once an abort is decided the phases stop: a second charge that would
// finish on the battery's first point lost stays unfinished (no status 0,
// no refresh date), and a discharge whose battery was taken out fails no
// further (no status 7 over the 4). Each notice goes out once.
TEST_F(RefreshAbortTest, NoPhaseStepRunsAfterAnAbort) {
    struct Case {
        INT64 mode;
        LONG status;
    };
    for (const Case& c : {Case{4, 5}, Case{1, 4}}) {
        SCOPED_TRACE(testing::Message() << "abort in mode " << c.mode);
        SetUpBatteries(true, 80);
        recorder_.reset();
        recorder_.reset(new NoticeRecorder());
        ToolProcess tool(L"/b1 /nomain");
        if (c.mode == 4) {
            ASSERT_TRUE(recorder_->WaitFor(
                [](const Notice& n) { return n.message == kProgressNotice && n.wparam >= 37; }));
        }
        SetSpeed(kSlowSpeed);
        ASSERT_TRUE(recorder_->WaitForMode(1, c.mode, 2 * kStepWaitMs));
        if (c.status == 5)
            ASSERT_EQ(0u, SimSetAcOnline(false));
        else
            ASSERT_EQ(0u, SimSetBatteryPresent(1, false));
        ASSERT_TRUE(recorder_->WaitFor([&](const Notice& n) { return n.message == kErrorNotice; }));
        // Let a tick come after the abort: the remaining percentage changes
        // (timer 1 would come only within its minute).
        const size_t ticks = TraceCount(L"WM_USER_REFPROC mode=");
        ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                      for (sim::Battery& b : m.battery)
                          b.remaining = (std::max)(0.0, b.remaining - b.fullChargeCapacity * 0.05);
                      return 0;
                  }));
        EXPECT_TRUE(testenv::WaitUntil([&] { return TraceCount(L"WM_USER_REFPROC mode=") > ticks; },
                                       2 * kStepWaitMs));

        AcknowledgeAndExpectClose(tool, c.status);
        // A battery pulled mid-read may fail the phase (7) a moment before
        // its removal is seen; the removal's status then replaces it once.
        const std::vector<INT64> errors = ErrorsOf(recorder_->Notices());
        if (c.status == 4 && errors.size() == 2)
            EXPECT_EQ((std::vector<INT64>{7, c.status}), errors);
        else
            EXPECT_EQ((std::vector<INT64>{c.status}), errors);
        EXPECT_EQ(c.status, LastRefreshStatus());
        EXPECT_EQ(0u, TraceCount(L"ProcComplete: start!"));
        const std::vector<std::wstring> lines = ProgressLines(1);
        EXPECT_EQ(lines.end(), std::find(lines.begin(), lines.end(), L"COMPLETED!"));
        if (HasFailure())
            return;
    }
}

// "zbRefresh /end" closes the running tool through its clean-up.
TEST_F(RefreshAbortTest, ASecondToolWithEndClosesTheRunningRefresh) {
    SetUpBatteries(true, 80);
    EndRefreshMidDischarge();
    ExpectRefreshSwitchedOff(1);
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    ExpectPowerPlanBack();
}

// A close is no outcome: nothing is reported or stored, even when a power
// event arrives during the clean-up (a phase tick then would find the
// refresh just switched off and report 7 for a refresh the user cancelled).
TEST_F(RefreshAbortTest, ACancelledRefreshReportsNothing) {
    SetUpBatteries(true, 80);
    EndRefreshMidDischarge();
    EXPECT_TRUE(ErrorsOf(recorder_->Notices()).empty());
    EXPECT_EQ(-1, LastRefreshStatus());
}

} // namespace
