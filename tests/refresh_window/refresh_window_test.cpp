// The refresh window in process, on the simulated notebook: what its
// creation takes from the battery and what its destruction gives back.
#include "battery/battery.h"
#include "ipc/pipe.h"
#include "refresh/refresh_tool.h"
#include "refresh/refresh_wnd.h"
#include "sim/machine.h"
#include "support/suite_env.h"

#include <gtest/gtest.h>

#include <string>

using namespace zbrefresh;

namespace {

constexpr wchar_t kClassName[] = L"ZBREFRESH";
constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";

sim::Battery SimBattery(int index) {
    sim::Machine m = {};
    EXPECT_EQ(0u, sim::ReadMachine(&m));
    return m.battery[index];
}

class RefreshWindowTest : public testenv::SuiteStateTest {
protected:
    static void SetUpTestSuite() {
        ASSERT_NE(0, RegisterRefreshWindowClass(GetModuleHandleW(nullptr), kClassName));
    }

    void SetUp() override {
        SuiteStateTest::SetUp();
        ASSERT_EQ(0u, SimSetupProfile(L"two"));
        ASSERT_EQ(0u, SimSetSpeed(0.0));
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRefreshKey, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, &key, nullptr));
        const DWORD noDelay = 0;
        RegSetValueExW(key, L"ADCHDelay", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&noDelay),
                       sizeof(noDelay));
        RegCloseKey(key);
    }

    HWND Create(RefreshQueue* pQueue) {
        return CreateRefreshWindow(GetModuleHandleW(nullptr), kClassName, L"", pQueue);
    }
};

} // namespace

TEST_F(RefreshWindowTest, AnEmptyQueueClosesTheWindowDuringItsCreation) {
    RefreshQueue queue;
    EXPECT_EQ(nullptr, Create(&queue));
    EXPECT_EQ(nullptr, Create(nullptr));
    // Nothing was begun: no progress log, the firmware untouched.
    EXPECT_TRUE(testenv::ReadLogLines(L"vadovur_progress_01.log").empty());
    EXPECT_EQ(1u, SimBattery(0).adpc);
}

TEST_F(RefreshWindowTest, TheWindowTakesTheChargeModesAndItsDestructionGivesThemBack) {
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[0].chargeMode = 80;
                  m.battery[1].chargeMode = 50;
                  return 0;
              }));
    CBattery battery1(1);
    RefreshQueue queue{&battery1};
    GetRefreshStartup().switchSleep = true;

    const HWND hWnd = Create(&queue);
    ASSERT_NE(nullptr, hWnd);
    // Battery 1 charges fully for its refresh; battery 2 is held off.
    EXPECT_EQ(0u, SimBattery(0).chargeMode);
    EXPECT_EQ(static_cast<uint32_t>(sim::kDefaultNotChargeLimit), SimBattery(1).chargeMode);
    const std::wstring first = testenv::ReadLogLines(L"vadovur_progress_01.log").at(0);
    EXPECT_EQ(L"START!", first.substr(first.find(L"] ") + 2));
    // The scheduler's query: bit 0 tells that "/sleep" was given.
    EXPECT_EQ(1, SendMessageW(hWnd, WM_USER_REFQUERY, 0, 0));

    // A discharge that was running when the window goes away is ended.
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[0].adpc = 0;
                  m.battery[0].chgc = 0;
                  return 0;
              }));
    EXPECT_TRUE(DestroyWindow(hWnd));
    GetRefreshStartup().switchSleep = false;

    const sim::Battery b1 = SimBattery(0);
    EXPECT_EQ(1u, b1.adpc);
    EXPECT_EQ(1u, b1.chgc);
    EXPECT_EQ(80u, b1.chargeMode);
    EXPECT_EQ(50u, SimBattery(1).chargeMode);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop ends";
}
