// The scheduler in Wine's notification area (X11 driver under Xvfb): a worn
// battery puts its icon there, the right button opens the tray menu, "終了"
// removes the icon while the scheduler keeps running, and "TaskbarCreated"
// (the shell restarted) adds it again. With an icon to show them on, the
// warnings are toasts from Windows 8 on and balloons before.
#include "sched_support.h"

#include "common/notify_icon.h"
#include "ipc/pipe.h"

#include <commctrl.h>

using namespace scenario;
using namespace schedtest;

namespace {

using testenv::CountTrayIcons;

constexpr UINT kMenuExit = 105;
constexpr wchar_t kOverdueBalloon[] =
    L"バッテリをリフレッシュしていない状態で長期間経過しています。バッテリ性能の回復及び診断のため"
    L"にバッテリ・リフレッシュ＆診断ツールを実行してください。";

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

// The balloon Wine's notification area shows (a tracking balloon tooltip of
// the desktop process) with that text, or null.
HWND BalloonWith(const wchar_t* text) {
    HWND tip = nullptr;
    while ((tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr)) != nullptr) {
        // Its text is the tip's, not a caption: asked for across processes.
        wchar_t shown[512] = {};
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(tip, WM_GETTEXT, ARRAYSIZE(shown), reinterpret_cast<LPARAM>(shown),
                            SMTO_NORMAL, kWaitMs, &copied);
        if (IsWindowVisible(tip) && (GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON) &&
            wcscmp(shown, text) == 0)
            return tip;
    }
    return nullptr;
}

class SchedTrayTest : public testenv::SuiteStateTest {};

TEST_F(SchedTrayTest, IconMenuAndTaskbarCreated) {
    SetUpMachine(L"one", [](sim::Machine& m) { Wear(m.battery[0], 36); });
    SchedFolder folder;
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 1; }, kWaitMs))
        << "no icon for the worn battery";

    // A right click, reported as version 4 reports it: the button, then the
    // menu request of the same click.
    PostMessageW(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(WM_RBUTTONUP, 0));
    PostMessageW(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(WM_CONTEXTMENU, 0));
    HWND menu = nullptr;
    ASSERT_TRUE(testenv::WaitUntil([&] { return (menu = MenuOf(sched.Id())) != nullptr; }, kWaitMs))
        << "no tray menu"; // (its items cannot be read from another process here)
    PostMessageW(hWnd, WM_CANCELMODE, 0, 0);
    ASSERT_TRUE(testenv::WaitUntil([&] { return MenuOf(sched.Id()) == nullptr; }, kWaitMs));
    // The keyboard (version 4 reports): the menu key opens the menu too.
    PostMessageW(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(WM_CONTEXTMENU, 0));
    ASSERT_TRUE(testenv::WaitUntil([&] { return MenuOf(sched.Id()) != nullptr; }, kWaitMs))
        << "no tray menu from the keyboard";
    PostMessageW(hWnd, WM_CANCELMODE, 0, 0);
    ASSERT_TRUE(testenv::WaitUntil([&] { return MenuOf(sched.Id()) == nullptr; }, kWaitMs));

    Deliver(hWnd, WM_COMMAND, kMenuExit);
    EXPECT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 0; }, kWaitMs));
    EXPECT_TRUE(sched.Running());

    Deliver(hWnd, RegisterWindowMessageW(L"TaskbarCreated"));
    ASSERT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 1; }, kWaitMs))
        << "the icon did not come back";

    // Enter on the icon opens the main screen as a double click does; the
    // selection a single click reports opens nothing.
    Deliver(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(WM_LBUTTONUP, 0));
    Deliver(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(NIN_SELECT, 0));
    EXPECT_TRUE(folder.MainStarts().empty()) << "a single click opened the main screen";
    Deliver(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(NIN_KEYSELECT, 0));
    ASSERT_TRUE(folder.WaitForMainStarts(1)) << "Enter on the icon did nothing";
    EXPECT_EQ("(none)", folder.MainStarts()[0]);
    EXPECT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 0; }, kWaitMs));
}

// Windows 10, both batteries worn: a warning toast for each (kind 3) and
// one warning dialog. A badly deteriorated battery gets the caution toast
// (kind 2). Acting on those toasts only brings the desktop forward: no main
// screen, no "Balloon".
TEST_F(SchedTrayTest, WarningToastsOnWindows10) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        Wear(m.battery[0], 36);
        Wear(m.battery[1], 36);
    });
    WineVersionFor win10(L"zbSched.exe", L"win10");
    SchedFolder folder(true, true);
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    ASSERT_TRUE(WaitForToasts(kWarningToast, 2)) << "not one toast per worn battery";
    EXPECT_EQ(1u, DialogsOf(sched.Id()).size());

    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  Wear(m.battery[1], 18);
                  return 0;
              }));
    Deliver(hWnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
    ASSERT_TRUE(WaitForToasts(kCautionToast, 1));
    ClickToast(Toasts(kCautionToast)[0]);
    ClickToast(Toasts(kWarningToast)[0]);
    // A later message: once it has opened the main screen, the clicks'
    // reports have been handled before it.
    PostMessageW(hWnd, WM_USER_RUNMAINDLG, RUNMAINDLG_COMP, 0);
    ASSERT_TRUE(folder.WaitForMainStarts(1));
    EXPECT_EQ(std::vector<std::string>{"/comp"}, folder.MainStarts());
    EXPECT_FALSE(HasUserValue(L"Balloon"));
}

// Windows 7 with the toast library present: the overdue reminder is a
// balloon on the reminder icon. The shell's reports of it store "Balloon";
// a click on it also opens the main screen and removes the icon.
TEST_F(SchedTrayTest, ReminderBalloonBeforeWindows8) {
    SetUpAgedBattery(L"one-nomode", 0);
    SchedFolder folder(true, true);
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    ASSERT_TRUE(testenv::WaitUntil([] { return BalloonWith(kOverdueBalloon) != nullptr; }, kWaitMs))
        << "no balloon";
    EXPECT_EQ(1, CountTrayIcons());
    EXPECT_TRUE(Toasts(kReminderToast).empty());

    // Wine's notification area does not report what became of a balloon:
    // the shell's reports are sent as Windows sends them.
    EXPECT_FALSE(HasUserValue(L"Balloon"));
    Deliver(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(NIN_BALLOONTIMEOUT, 0));
    EXPECT_TRUE(HasUserValue(L"Balloon"));
    EXPECT_TRUE(folder.MainStarts().empty());

    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur", L"Balloon");
    Deliver(hWnd, WM_NOTIFYICON, 0, MAKELPARAM(NIN_BALLOONUSERCLICK, 0));
    EXPECT_TRUE(HasUserValue(L"Balloon"));
    ASSERT_TRUE(folder.WaitForMainStarts(1));
    EXPECT_EQ("(none)", folder.MainStarts()[0]);
    EXPECT_TRUE(testenv::WaitUntil([] { return CountTrayIcons() == 0; }, kWaitMs));
}

} // namespace
