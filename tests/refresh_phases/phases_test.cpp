// The phase machine against the simulated notebook's firmware, in process:
// one WM_USER_REFPROC at a time through RunRefreshPhases, with the machine's
// time stopped so that every outcome follows from the set-up alone.
#include "battery/battery.h"
#include "common/reg.h"
#include "ipc/pipe.h"
#include "refresh/phases.h"
#include "refresh/refresh_state.h"
#include "sim/machine.h"
#include "support/suite_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace zbrefresh;

namespace {

constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";
constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";

// Progress-log lines without their time stamps.
std::vector<std::wstring> ProgressTexts(DWORD battNo) {
    std::vector<std::wstring> texts;
    for (const std::wstring& line : testenv::ReadLogLines(
             battNo == 1 ? L"vadovur_progress_01.log" : L"vadovur_progress_02.log")) {
        const size_t stampEnd = line.find(L"] ");
        texts.push_back(stampEnd == std::wstring::npos ? line : line.substr(stampEnd + 2));
    }
    return texts;
}

size_t CountText(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

sim::Battery SimBattery(int index) {
    sim::Machine m = {};
    EXPECT_EQ(0u, sim::ReadMachine(&m));
    return m.battery[index];
}

template <typename F> void ChangeMachine(F&& change) {
    ASSERT_EQ(0u, sim::Modify([&change](sim::Machine& m) -> DWORD {
                  change(m);
                  return 0;
              }));
}

// The phase data of a battery in a given mode.
void StartAt(RefreshPhaseState& state, CBattery& battery, RefreshModeValue mode) {
    state.battery = &battery;
    state.live.battery = static_cast<LONG>(battery.GetBattNo());
    state.live.mode = mode;
}

void SetPercent(sim::Battery& b, double percent) {
    b.remaining = b.fullChargeCapacity * percent / 100.0;
    b.chargeLatched = 0;
}

class RefreshPhasesTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override {
        SuiteStateTest::SetUp();
        // Timers need a window; a message-only one gets no power events.
        hWnd_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, hWnd_);
        ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"ADCHDelay", 0));
    }

    void TearDown() override {
        if (IsWindow(hWnd_))
            DestroyWindow(hWnd_);
        SuiteStateTest::TearDown();
    }

    // A machine from a profile with its clock stopped.
    void SetUpMachine(const wchar_t* profile) {
        ASSERT_EQ(0u, SimSetupProfile(profile));
        ASSERT_EQ(0u, SimSetSpeed(0.0));
    }

    void Tick(RefreshQueue* pQueue, RefreshPhaseState* pState) {
        RunRefreshPhases(hWnd_, pQueue, &pipe_, pState);
    }

    HWND hWnd_ = nullptr;
    CPipeToDlg pipe_; // not listening: the notices reach nobody
};

} // namespace

TEST_F(RefreshPhasesTest, CoolDownsOfZeroMinutesRestoreTheModeAndChargeAgainInOneTick) {
    SetUpMachine(L"one");
    // The discharge has ended (ADPC set, CHGC clear); the battery was marked
    // for a refresh in the 68 % mode.
    ChangeMachine([](sim::Machine& m) {
        sim::Battery& b = m.battery[0];
        SetPercent(b, 60.0);
        b.adpc = 1;
        b.chgc = 0;
        b.chargeMode = 0xC4;
    });
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"RefreshCoolDownTime", 0));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"RefreshCoolDownLimit", 0));
    CBattery battery(1);
    RefreshQueue queue{&battery};
    RefreshPhaseState state;
    StartAt(state, battery, REFRESH_MODE_COOLDOWN1);
    state.live.progress = 40;
    state.savedChargeMode = 0xC4;
    state.chargeModeMarked = true;

    Tick(&queue, &state);

    // COOLDOWN1 and COOLDOWN2 ended at their first ticks; with both times 0
    // neither moved the progress.
    EXPECT_EQ(REFRESH_MODE_CHARGING2, state.live.mode.load());
    const std::vector<std::wstring> texts = ProgressTexts(1);
    EXPECT_EQ(1u, CountText(texts, L"COOLDOWN1  (Progress:40 %)"));
    EXPECT_EQ(1u, CountText(texts, L"INFORMATION Start cool down2."));
    EXPECT_EQ(1u, std::count_if(texts.begin(), texts.end(), [](const std::wstring& t) {
                  return t.rfind(L"COOLDOWN2  (Progress:40 %, ", 0) == 0;
              }));
    // The refresh is off and the mode is back, without the mark, as 80 %.
    EXPECT_EQ(1u, CountText(texts, L"INFORMATION Changed charge mode. (0050)"));
    EXPECT_EQ(1u, CountText(texts, L"INFORMATION Start charging, again."));
    const sim::Battery b = SimBattery(0);
    EXPECT_EQ(1u, b.adpc);
    EXPECT_EQ(1u, b.chgc);
    EXPECT_EQ(80u, b.chargeMode);
    EXPECT_EQ(80u, state.savedChargeMode);
    EXPECT_FALSE(state.chargeModeMarked);
    EXPECT_FALSE(state.chargeModeReleased);
    // CHARGING2's first tick ran in the same message, scaled to 80 %.
    EXPECT_EQ(80 + 60 / 4, state.live.progress.load());
    EXPECT_EQ(1u, CountText(texts, L"CHARGING2  (Progress:95 %, Capacity:60 %)"));
}

TEST_F(RefreshPhasesTest, TheToolEndsTheDischargeAtTheLimitAndCoolsDownAtTheNextTick) {
    SetUpMachine(L"one-312"); // RefreshLimit 2 on this platform
    ChangeMachine([](sim::Machine& m) {
        sim::Battery& b = m.battery[0];
        SetPercent(b, 2.0);
        b.adpc = 0;
        b.chgc = 0;
    });
    CBattery battery(1);
    RefreshQueue queue{&battery};
    RefreshPhaseState state;
    StartAt(state, battery, REFRESH_MODE_REFRESHING);

    Tick(&queue, &state);
    EXPECT_EQ(REFRESH_MODE_REFRESHING, state.live.mode.load());
    EXPECT_EQ((100 - 2) / 5 + 20, state.live.progress.load());
    sim::Battery b = SimBattery(0);
    EXPECT_EQ(1u, b.adpc) << "ADPC 1 ends the discharge";
    EXPECT_EQ(0u, b.chgc) << "charging stays held off";

    Tick(&queue, &state);
    EXPECT_EQ(REFRESH_MODE_COOLDOWN1, state.live.mode.load());
    const std::vector<std::wstring> texts = ProgressTexts(1);
    EXPECT_EQ(2u, CountText(texts, L"REFRESHING (Progress:39 %, Capacity:2 %)"));
    EXPECT_EQ(1u, CountText(texts, L"INFORMATION Start cool down."));
    EXPECT_EQ(1u, CountText(texts, L"COOLDOWN1  (Progress:40 %)"));
    EXPECT_TRUE(state.coolDown1[0].started);
    EXPECT_FALSE(state.coolDown1[1].started);
}

TEST_F(RefreshPhasesTest, TheSecondBatteryBeginsWithItsOwnChargingSeenFlagAndChargeMode) {
    SetUpMachine(L"two");
    ChangeMachine([](sim::Machine& m) {
        m.battery[0].chargeMode = 0;
        m.battery[1].chargeMode = 80;
    });
    CBattery battery1(1);
    CBattery battery2(2);
    RefreshQueue queue{&battery1, &battery2};
    RefreshPhaseState state;
    StartAt(state, battery1, REFRESH_MODE_DONE);
    state.live.progress = 100;
    state.chargingSeen = true; // battery 1's second charge saw it charging

    Tick(&queue, &state);

    ASSERT_TRUE(IsWindow(hWnd_)) << "only the last battery closes the window";
    ASSERT_EQ(1u, queue.size());
    EXPECT_EQ(&battery2, queue.front());
    EXPECT_EQ(&battery2, state.battery);
    EXPECT_EQ(2, state.live.battery.load());
    EXPECT_EQ(REFRESH_MODE_CHARGING1, state.live.mode.load());
    EXPECT_EQ(0, state.live.progress.load());
    EXPECT_FALSE(state.chargingSeen);
    // Battery 2's 80 % mode is released for the full charge and remembered;
    // battery 1 is held off charging meanwhile.
    EXPECT_TRUE(state.chargeModeReleased);
    EXPECT_EQ(80u, state.savedChargeMode);
    EXPECT_EQ(0u, SimBattery(1).chargeMode);
    EXPECT_EQ(static_cast<uint32_t>(sim::kDefaultNotChargeLimit), SimBattery(0).chargeMode);
    EXPECT_EQ(std::vector<std::wstring>{L"START!"}, ProgressTexts(2));
    // Battery 1's refresh date is recorded.
    SYSTEMTIME day = {};
    EXPECT_EQ(S_OK, battery1.GetLastRefreshDay(&day));
}

TEST_F(RefreshPhasesTest, AFailedPhaseRunsTheErrorTailOnce) {
    SetUpMachine(L"one");
    // The firmware has dropped the refresh (both switches on) without a sleep.
    ChangeMachine([](sim::Machine& m) {
        m.battery[0].adpc = 1;
        m.battery[0].chgc = 1;
    });
    CBattery battery(1);
    RefreshQueue queue{&battery};
    RefreshPhaseState state;
    StartAt(state, battery, REFRESH_MODE_REFRESHING);

    Tick(&queue, &state);
    EXPECT_EQ(REFRESH_MODE_ERROR, state.live.mode.load());
    EXPECT_TRUE(state.closeTimerRunning);
    EXPECT_FALSE(state.errorArmed);
    DWORD status = 0;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_CURRENT_USER, kSuiteKey, L"LastRefreshStatus", &status));
    EXPECT_EQ(7u, status);
    EXPECT_EQ(1u, CountText(ProgressTexts(1), L"ABORTED!    An error occured."));

    // The refresh is over: a later tick runs no phase and reports nothing
    // again.
    Tick(&queue, &state);
    EXPECT_EQ(1u, CountText(ProgressTexts(1), L"ABORTED!    An error occured."));
    EXPECT_EQ(REFRESH_MODE_ERROR, state.live.mode.load());
}

TEST_F(RefreshPhasesTest, HandlersWithoutABatteryOrBroadcasterFailAndLeaveTheModeAtMinusOne) {
    SetUpMachine(L"one");
    CBattery battery(1);
    RefreshPhaseState state;
    state.live.battery = 1;
    state.live.mode = REFRESH_MODE_COOLDOWN1;
    EXPECT_EQ(E_POINTER, ProcCoolDown1(&pipe_, hWnd_, nullptr, &state));
    EXPECT_EQ(REFRESH_MODE_ERROR, state.live.mode.load());

    state.live.mode = REFRESH_MODE_CHARGING2;
    EXPECT_EQ(E_POINTER, ProcSecondCHGC(nullptr, hWnd_, &battery, &state));
    EXPECT_EQ(REFRESH_MODE_ERROR, state.live.mode.load());
    EXPECT_TRUE(ProgressTexts(1).empty()) << "nothing was done";
}
