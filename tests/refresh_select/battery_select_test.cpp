// Battery selection at the refresh tool's start and the hold on the other
// battery's charging, run in this process against the simulated notebook,
// with a scheduler of this user listening on pipe 3 where it matters.
#include "battery/battery.h"
#include "common/reg.h"
#include "ipc/pipe.h"
#include "refresh/battery_select.h"
#include "sim/machine.h"
#include "support/suite_env.h"

#include <functional>
#include <vector>

using namespace zbrefresh;

namespace {

constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";
constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";

void SetUpMachine(const wchar_t* profile, const std::function<void(sim::Machine&)>& edit) {
    ASSERT_EQ(0u, SimSetupProfile(profile));
    ASSERT_EQ(0u, sim::Modify([&](sim::Machine& m) -> DWORD {
                  edit(m);
                  return 0;
              }));
}

uint32_t ChargeMode(UINT battNo) {
    sim::Machine m = {};
    EXPECT_EQ(0u, sim::ReadMachine(&m));
    return m.battery[battNo - 1].chargeMode;
}

LONG LastRefreshStatus() {
    DWORD status = 0;
    if (FAILED(CReg::GetDW(HKEY_CURRENT_USER, kSuiteKey, L"LastRefreshStatus", &status)))
        return -1;
    return static_cast<LONG>(status);
}

// ---- The other battery's charging -------------------------------------------

class StopChargeOtherBatteryTest : public testenv::SuiteStateTest {};

TEST_F(StopChargeOtherBatteryTest, HoldsTheOtherBatteryAndGivesItsModeBack) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[1].chargeMode = 50; });
    CBattery* battery1 = GetRefreshBattery(1);
    EXPECT_EQ(1, StopChargeOtherBattery(battery1, TRUE));
    EXPECT_EQ(5u, ChargeMode(2));
    EXPECT_EQ(1, StopChargeOtherBattery(battery1, FALSE));
    EXPECT_EQ(50u, ChargeMode(2));
}

TEST_F(StopChargeOtherBatteryTest, HoldsWithTheNotChargeLimitSetting) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"NotChargeLimit", 7));
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[0].chargeMode = 80; });
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(2), TRUE));
    EXPECT_EQ(7u, ChargeMode(1));
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(2), FALSE));
    EXPECT_EQ(80u, ChargeMode(1));
}

TEST_F(StopChargeOtherBatteryTest, ASingleBatteryMachineHasNothingToHold) {
    SetUpMachine(L"one", [](sim::Machine& m) { m.battery[0].chargeMode = 80; });
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), TRUE));
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), FALSE));
    EXPECT_EQ(80u, ChargeMode(1));
}

// Taking the refreshed battery out must not leave the other one held.
TEST_F(StopChargeOtherBatteryTest, TheHeldBatteryGetsItsModeBackWhenTheOtherIsTakenOut) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[1].chargeMode = 50; });
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), TRUE));
    ASSERT_EQ(0u, SimSetBatteryPresent(1, false));
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), FALSE));
    EXPECT_EQ(50u, ChargeMode(2));
}

// A battery marked for its own refresh charges fully until then: it is not
// held, and reverting writes the same mode back.
TEST_F(StopChargeOtherBatteryTest, AMarkedBatteryIsNotHeld) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[1].chargeMode = 0xC4; });
    EXPECT_EQ(0, StopChargeOtherBattery(GetRefreshBattery(1), TRUE));
    EXPECT_EQ(0xC4u, ChargeMode(2));
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), FALSE));
    EXPECT_EQ(0xC4u, ChargeMode(2));
}

// In a run of both batteries the other battery changes; the mode saved from
// battery 2 must never be written onto battery 1.
TEST_F(StopChargeOtherBatteryTest, ASavedModeGoesBackOnlyToItsOwnBattery) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        m.battery[0].chargeMode = 80;
        m.battery[1].chargeMode = 50;
    });
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), TRUE));
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(2), FALSE));
    EXPECT_EQ(80u, ChargeMode(1));
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), FALSE));
    EXPECT_EQ(50u, ChargeMode(2));
}

// A mode that cannot be read is not held, and the mode saved by an earlier
// hold is forgotten: reverting must not write a stale mode.
TEST_F(StopChargeOtherBatteryTest, AFailedReadForgetsTheSavedMode) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[1].chargeMode = 50; });
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), TRUE));
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[1].chargeModeSupported = 0;
                  return 0;
              }));
    EXPECT_EQ(0, StopChargeOtherBattery(GetRefreshBattery(1), TRUE));
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[1].chargeModeSupported = 1;
                  return 0;
              }));
    EXPECT_EQ(1, StopChargeOtherBattery(GetRefreshBattery(1), FALSE));
    EXPECT_EQ(5u, ChargeMode(2));
}

// ---- Choosing the batteries --------------------------------------------------

// A scheduler of this user on pipe 3 that keeps the start flags it is asked
// to open the main screen with.
class FakeScheduler {
public:
    FakeScheduler() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"BatterySelectTestScheduler";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        EXPECT_TRUE(server_.Create(window_, PIPE3_NAME));
    }
    ~FakeScheduler() {
        server_.Close();
        DestroyWindow(window_);
    }
    FakeScheduler(const FakeScheduler&) = delete;
    FakeScheduler& operator=(const FakeScheduler&) = delete;

    // Pumps this thread's messages until a request came (bounded).
    std::vector<UINT64> WaitForRequests(DWORD timeoutMs) {
        testenv::WaitUntil(
            [&] {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&msg);
                return !requests_.empty();
            },
            timeoutMs);
        return requests_;
    }

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FakeScheduler*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (self && message == WM_USER_RUNMAINDLG) {
            self->requests_.push_back(wParam);
            return 0;
        }
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    CPipeToSch server_;
    std::vector<UINT64> requests_;
};

CommandLineMap Args(std::initializer_list<const wchar_t*> words) {
    CommandLineMap args;
    args[L"zbRefresh.exe"] = L"";
    for (const wchar_t* word : words)
        args[word] = L"";
    return args;
}

class GetRefBatteryTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override {
        SuiteStateTest::SetUp();
        // Invalid readings are retried; no need to wait between them here.
        ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, kRefreshKey, L"WaitPowerSchemeTime", 0));
    }
};

TEST_F(GetRefBatteryTest, AllBatteriesComeInOrderAndTheSchedulerShowsTheProgress) {
    SetUpMachine(L"two", [](sim::Machine&) {});
    FakeScheduler scheduler;
    RefreshQueue queue;
    ASSERT_TRUE(GetRefBattery(&queue, Args({L"/sleep"})));
    ASSERT_EQ(2u, queue.size());
    EXPECT_EQ(1u, queue[0]->GetBattNo());
    EXPECT_EQ(2u, queue[1]->GetBattNo());
    EXPECT_EQ(std::vector<UINT64>{RUNMAINDLG_ICON | RUNMAINDLG_SLEEP},
              scheduler.WaitForRequests(5000));
    EXPECT_EQ(-1, LastRefreshStatus());
}

TEST_F(GetRefBatteryTest, BothSwitchesAreTheSameAsNone) {
    SetUpMachine(L"two", [](sim::Machine&) {});
    RefreshQueue queue;
    ASSERT_TRUE(GetRefBattery(&queue, Args({L"/b2", L"/b1", L"/nomain"})));
    ASSERT_EQ(2u, queue.size());
    EXPECT_EQ(1u, queue[0]->GetBattNo());
    EXPECT_EQ(2u, queue[1]->GetBattNo());
}

TEST_F(GetRefBatteryTest, WithoutTheAdapterNothingIsQueuedAndTheOutcomeIsShown) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.acOnline = 0; });
    FakeScheduler scheduler;
    RefreshQueue queue;
    // "/nomain" keeps the scheduler out of a start, never out of a failure.
    EXPECT_FALSE(GetRefBattery(&queue, Args({L"/b2", L"/nomain"})));
    EXPECT_EQ(5, LastRefreshStatus());
    EXPECT_EQ(std::vector<UINT64>{RUNMAINDLG_COMP}, scheduler.WaitForRequests(5000));
}

TEST_F(GetRefBatteryTest, AMissingBatteryStopsTheChoiceWithThree) {
    SetUpMachine(L"one", [](sim::Machine&) {});
    RefreshQueue queue;
    EXPECT_FALSE(GetRefBattery(&queue, Args({L"/nomain"})));
    EXPECT_EQ(3, LastRefreshStatus());
}

TEST_F(GetRefBatteryTest, SwitchesAreCaseSensitive) {
    SetUpMachine(L"one", [](sim::Machine&) {});
    RefreshQueue queue;
    // "/B1" is no switch: all batteries are asked for, and battery 2 is absent.
    EXPECT_FALSE(GetRefBattery(&queue, Args({L"/B1", L"/nomain"})));
    EXPECT_EQ(3, LastRefreshStatus());
}

} // namespace
