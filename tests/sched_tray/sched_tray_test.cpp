// The scheduler in Wine's notification area (X11 driver under Xvfb): a worn
// battery puts its icon there, the right button opens the tray menu, "終了"
// removes the icon while the scheduler keeps running, and "TaskbarCreated"
// (the shell restarted) adds it again.
#include "sched_support.h"

#include "common/notify_icon.h"

using namespace scenario;
using namespace schedtest;

namespace {

using testenv::CountTrayIcons;

constexpr UINT kMenuExit = 105;

HWND MenuOf(DWORD processId) {
    HWND menu = nullptr;
    while ((menu = FindWindowExW(nullptr, menu, L"#32768", nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(menu, &pid);
        if (pid == processId && IsWindowVisible(menu))
            return menu;
    }
    return nullptr;
}

class SchedTrayTest : public testenv::SuiteStateTest {};

TEST_F(SchedTrayTest, IconMenuAndTaskbarCreated) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        m.battery[0].fullChargeCapacity = m.battery[0].designCapacity * 36 / 100;
        SetPercent(m.battery[0], 50);
    });
    SchedFolder folder;
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 1; }, kWaitMs))
        << "no icon for the worn battery";

    PostMessageW(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(WM_RBUTTONUP, 0));
    HWND menu = nullptr;
    ASSERT_TRUE(testenv::WaitUntil([&] { return (menu = MenuOf(sched.Id())) != nullptr; }, kWaitMs))
        << "no tray menu"; // (its items cannot be read from another process here)
    PostMessageW(hWnd, WM_CANCELMODE, 0, 0);
    ASSERT_TRUE(testenv::WaitUntil([&] { return MenuOf(sched.Id()) == nullptr; }, kWaitMs));

    DWORD_PTR result = 0;
    SendMessageTimeoutW(hWnd, WM_COMMAND, kMenuExit, 0, SMTO_NORMAL, kWaitMs, &result);
    EXPECT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 0; }, kWaitMs));
    EXPECT_TRUE(sched.Running());

    SendMessageTimeoutW(hWnd, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_NORMAL, kWaitMs,
                        &result);
    EXPECT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 1; }, kWaitMs))
        << "the icon did not come back";
}

} // namespace
