// zbshots: puts the running main screen or scheduler into the state a
// screenshot needs and prints the rectangle to capture ("WxH+X+Y", screen
// pixels), for tools/screenshots. One step per call.
//
// Main screen:
//   zbshots tab <n>              main window, tab n selected
//   zbshots readme               the read-me dialog
//   zbshots chargemode <b>       the charge mode dialog of battery b
//   zbshots message              the message box in front of the main window
//   zbshots confirm <b>          the confirmation of battery b's Start button
//   zbshots refresh <s> [speed]  the refresh window at step s (1 charging,
//                                2 discharging, 3 recharging): the first call
//                                ticks sleep and answers Yes; the simulated
//                                notebook runs at the speed until the window
//                                shows the step, then stands still
//   zbshots balloon              the refresh window in the notification area,
//                                the pointer over its icon: the balloon
//   zbshots restore              back from the notification area
//   zbshots countdown [speed]    runs on to the end; the sleep countdown
//   zbshots complete             the completion window
//   zbshots reservation <b>      the reservation dialog of battery b's page
//   zbshots history              the history dialog of the diagnosis page
//   zbshots close                closes the dialog in front (Cancel / OK)
//   zbshots exit                 ends the main screen
// Set-up (no window needed):
//   zbshots sample-history       puts the sample battery history in place
// Scheduler:
//   zbshots sched warning        the battery warning dialog
//   zbshots sched balloon        the balloon of its check
//   zbshots sched menu           right click on its notification icon: the menu
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <stdio.h>

#include <algorithm>
#include <string>

#include "main/program_ids.h"
#include "sim/machine.h"
#include "support/sample_history.h"
#include "support/suite_env.h"
#include "support/ui_driver.h"

namespace {

constexpr wchar_t kTitle[] = L"バッテリ・リフレッシュ＆診断ツール";
constexpr DWORD kRunMs = 120000;
constexpr UINT WM_NOTIFYICON = 0x402;
constexpr WORD IDM_BACK_FROM_TRAY = 0x8007;
constexpr int kSchedHideBox = 1001;

int PrintRect(const RECT& rc) {
    wprintf(L"%ldx%ld+%ld+%ld\n", rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top);
    return 0;
}

int PrintRect(HWND hWnd) {
    RECT rc = {};
    if (!hWnd || !GetWindowRect(hWnd, &rc))
        return 1;
    return PrintRect(rc);
}

DWORD ProcessOf(HWND hWnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    return pid;
}

HWND FrontDialog(HWND hMain) {
    return ui::WaitForWindow(ProcessOf(hMain), L"#32770", kTitle, 5000);
}

HWND InnerDialog(HWND hWnd) {
    return hWnd ? FindWindowExW(hWnd, nullptr, L"#32770", nullptr) : nullptr;
}

// A window together with the right end of the taskbar below it, where the
// notification icon it belongs to sits.
int PrintWithTray(HWND hWnd) {
    RECT rc = {}, tray = {};
    HWND hTray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!hWnd || !GetWindowRect(hWnd, &rc) || !hTray || !GetWindowRect(hTray, &tray))
        return 1;
    rc.right = (std::max)(rc.right, tray.right);
    rc.bottom = (std::max)(rc.bottom, tray.bottom);
    rc.left = (std::max)(0L, rc.left - 8);
    rc.top = (std::max)(0L, rc.top - 8);
    return PrintRect(rc);
}

// The pointer on the rightmost notification icon (the only one of the
// desktop the screenshots use).
POINT TrayIconPoint() {
    RECT tray = {};
    GetWindowRect(FindWindowW(L"Shell_TrayWnd", nullptr), &tray);
    POINT pt = {tray.right - GetSystemMetrics(SM_CXSMICON) / 2 - 3, (tray.top + tray.bottom) / 2};
    return pt;
}

// Moves the pointer there and waits until the system has it there, so that
// a click that follows lands there.
void PointTo(int x, int y) {
    SetCursorPos(x, y);
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    testenv::WaitUntil(
        [&] {
            POINT now = {};
            return GetCursorPos(&now) && now.x == x && now.y == y;
        },
        2000);
    Sleep(300);
}

// The refresh dialog shows a step by which of its three labels is enabled.
bool ShowsStep(HWND hDialog, int step) {
    for (int i = 1; i <= 3; ++i)
        if (ui::IsEnabled(hDialog, IDC_STEP_LABEL1 + i - 1) != (i == step))
            return false;
    return true;
}

int Refresh(HWND hMain, int step, double speed) {
    const DWORD pid = ProcessOf(hMain);
    HWND hWnd = ui::FindTopWindow(pid, L"RefreshWnd", nullptr);
    if (!hWnd) {
        HWND hConfirm = FrontDialog(hMain);
        if (!hConfirm)
            return 1;
        SendDlgItemMessageW(hConfirm, IDC_SLEEP_CHECK, BM_SETCHECK, BST_CHECKED, 0);
        ui::Click(hConfirm, IDOK);
        hWnd = ui::WaitForWindow(pid, L"RefreshWnd", nullptr);
    }
    HWND hDialog = InnerDialog(hWnd);
    if (!hDialog)
        return 1;
    SimSetSpeed(speed);
    const bool shown = testenv::WaitUntil([&] { return ShowsStep(hDialog, step); }, kRunMs, 5);
    SimSetSpeed(0);
    // The percentage and the animation catch up with the tool.
    Sleep(1500);
    return shown ? PrintRect(hWnd) : 1;
}

BOOL CALLBACK MatchBalloon(HWND hWnd, LPARAM lParam) {
    wchar_t name[64] = {};
    GetClassNameW(hWnd, name, ARRAYSIZE(name));
    if (!IsWindowVisible(hWnd) || lstrcmpW(name, TOOLTIPS_CLASSW) != 0 ||
        !(GetWindowLongW(hWnd, GWL_STYLE) & TTS_BALLOON))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

// A notification balloon on the screen (a plain tooltip does not count).
HWND Balloon(DWORD timeoutMs = 3000) {
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            EnumWindows(MatchBalloon, reinterpret_cast<LPARAM>(&found));
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

int ToTrayBalloon(HWND hMain) {
    HWND hWnd = ui::FindTopWindow(ProcessOf(hMain), L"RefreshWnd", nullptr);
    HWND hDialog = InnerDialog(hWnd);
    if (!hDialog)
        return 1;
    ui::Click(hDialog, IDC_TO_TRAY);
    testenv::WaitUntil([&] { return !IsWindowVisible(hWnd); }, ui::kWaitMs);
    Sleep(300);
    // The pointer moves onto the icon; the icon's owner hears of it.
    const POINT pt = TrayIconPoint();
    PointTo(pt.x, pt.y);
    HWND hBalloon = Balloon();
    if (!hBalloon) {
        PostMessageW(hDialog, WM_NOTIFYICON, MAKEWPARAM(pt.x, pt.y), WM_MOUSEMOVE);
        hBalloon = Balloon();
    }
    Sleep(500);
    return PrintWithTray(hBalloon);
}

int Restore(HWND hMain) {
    HWND hWnd = ui::FindTopWindow(ProcessOf(hMain), L"RefreshWnd", nullptr);
    HWND hDialog = InnerDialog(hWnd);
    if (!hDialog)
        return 1;
    SetCursorPos(0, 0);
    PostMessageW(hDialog, WM_COMMAND, IDM_BACK_FROM_TRAY, 0);
    testenv::WaitUntil([&] { return IsWindowVisible(hWnd) != FALSE; }, ui::kWaitMs);
    return 0;
}

HWND CompletionWindow(HWND hMain, DWORD timeoutMs) {
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = ui::FindTopWindow(ProcessOf(hMain), L"CompleteWnd", nullptr, true);
            return found && IsWindowVisible(InnerDialog(found));
        },
        timeoutMs);
    return found;
}

int Countdown(HWND hMain, double speed) {
    SimSetSpeed(speed);
    HWND hComplete = CompletionWindow(hMain, kRunMs);
    SimSetSpeed(0);
    if (!hComplete)
        return 1;
    Sleep(1000);
    return PrintRect(FrontDialog(hMain));
}

// The dialog of the program that has the control, once it is on the screen.
int PrintDialogWith(HWND hProgram, int controlId) {
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = ui::FindTopWindow(ProcessOf(hProgram), L"#32770", kTitle, true);
            return found && ui::Control(found, controlId);
        },
        ui::kWaitMs);
    Sleep(500);
    return PrintRect(found);
}

int Reservation(HWND hMain, HWND hDialog, int battNo) {
    ui::SelectTab(hDialog, IDC_TAB, battNo);
    ui::Click(hDialog, battNo == 1 ? IDC_BUTTON_RESERVE1 : IDC_BUTTON_RESERVE2);
    return PrintDialogWith(hMain, IDC_RESV_BATT1);
}

// The dialog in front: Cancel (a task dialog's too), the refusal's OK, OK;
// with none, the completion window's OK.
int Close(HWND hMain) {
    HWND hFront = ui::FindTopWindow(ProcessOf(hMain), L"#32770", kTitle, true);
    if (!hFront) {
        if (HWND hComplete = CompletionWindow(hMain, 0))
            ui::Click(InnerDialog(hComplete), IDOK);
        Sleep(500);
        return 0;
    }
    // A task dialog (the sleep countdown) has no Cancel button; its command
    // IDOK presses its first button.
    if (!ui::Control(hFront, IDCANCEL))
        ui::Answer(hFront, IDOK);
    ui::Click(hFront, IDCANCEL);
    ui::Click(hFront, IDC_CM_REFUSAL_OK);
    ui::Click(hFront, IDOK);
    Sleep(500);
    return 0;
}

// The completion window alone: a sleep countdown in front of it (it has a
// picture of its own) is stopped.
int Complete(HWND hMain) {
    HWND hComplete = CompletionWindow(hMain, ui::kWaitMs);
    HWND hCountdown = ui::WaitForWindow(ProcessOf(hMain), L"#32770", kTitle, 2000);
    if (hCountdown) {
        ui::Answer(hCountdown, IDOK);
        testenv::WaitUntil([&] { return !IsWindow(hCountdown); }, ui::kWaitMs);
    }
    Sleep(500);
    return PrintRect(hComplete);
}

// Ends the program and waits until it has gone, so that the next one
// started is not a second instance.
int Exit(HWND hWnd) {
    zb::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, ProcessOf(hWnd)));
    PostMessageW(hWnd, WM_CLOSE, 0, 0);
    if (process.IsValid())
        WaitForSingleObject(process.Get(), ui::kWaitMs);
    return 0;
}

int MainStep(const std::wstring& step, int argc, wchar_t** argv) {
    HWND hMain = ui::WaitForWindow(0, L"zbMain", kTitle, ui::kWaitMs, false);
    if (!hMain)
        return 1;
    HWND hDialog = InnerDialog(hMain);
    const int arg = argc > 2 ? _wtoi(argv[2]) : 0;
    if (step == L"tab" && argc > 2) {
        ui::SelectTab(hDialog, IDC_TAB, arg);
        Sleep(500);
        return PrintRect(hMain);
    }
    if (step == L"readme") {
        PostMessageW(hMain, WM_COMMAND, 0x800B, 0);
        return PrintRect(FrontDialog(hMain));
    }
    if (step == L"chargemode" && argc > 2) {
        ui::SelectTab(hDialog, IDC_TAB, arg);
        ui::Click(hDialog, arg == 1 ? IDC_BUTTON_CHAREGEMODE1 : IDC_BUTTON_CHAREGEMODE2);
        Sleep(500);
        return PrintRect(FrontDialog(hMain));
    }
    if (step == L"message") {
        Sleep(500);
        return PrintRect(FrontDialog(hMain));
    }
    if (step == L"confirm" && argc > 2) {
        ui::SelectTab(hDialog, IDC_TAB, arg);
        ui::Click(hDialog, arg == 1 ? IDC_BUTTON_REFRESH1 : IDC_BUTTON_REFRESH2);
        Sleep(500);
        return PrintRect(FrontDialog(hMain));
    }
    if (step == L"refresh" && argc > 2)
        return Refresh(hMain, arg, argc > 3 ? _wtof(argv[3]) : 0);
    if (step == L"balloon")
        return ToTrayBalloon(hMain);
    if (step == L"restore")
        return Restore(hMain);
    if (step == L"countdown")
        return Countdown(hMain, argc > 2 ? _wtof(argv[2]) : 0);
    if (step == L"complete")
        return Complete(hMain);
    if (step == L"reservation" && argc > 2)
        return Reservation(hMain, hDialog, arg);
    if (step == L"history") {
        ui::SelectTab(hDialog, IDC_TAB, 0);
        ui::Click(hDialog, IDC_BUTTON_HISTORY);
        return PrintDialogWith(hMain, IDC_HISTORY_CHART);
    }
    if (step == L"close")
        return Close(hMain);
    if (step == L"exit")
        return Exit(hMain);
    return 2;
}

int SchedStep(const std::wstring& step) {
    HWND hSched = ui::WaitForWindow(0, L"zbSched", nullptr, ui::kWaitMs, false);
    if (!hSched)
        return 1;
    if (step == L"warning")
        return PrintDialogWith(hSched, kSchedHideBox);
    if (step == L"balloon")
        return PrintWithTray(Balloon());
    if (step == L"menu") {
        // The balloon of the check goes first, as when its close button is
        // clicked: an empty balloon text on the scheduler's icon (id 0).
        NOTIFYICONDATAW nid = {};
        nid.cbSize = sizeof(nid);
        nid.hWnd = hSched;
        nid.uFlags = NIF_INFO;
        Shell_NotifyIconW(NIM_MODIFY, &nid);
        testenv::WaitUntil([] { return Balloon(0) == nullptr; }, 5000, 100);
        // A right click as a person gives it, on the icon; then the pointer
        // onto the menu's first item.
        const POINT pt = TrayIconPoint();
        HWND hMenu = nullptr;
        for (int i = 0; i < 3 && !hMenu; ++i) {
            PointTo(pt.x, pt.y);
            mouse_event(MOUSEEVENTF_RIGHTDOWN, 0, 0, 0, 0);
            mouse_event(MOUSEEVENTF_RIGHTUP, 0, 0, 0, 0);
            hMenu = ui::WaitForWindow(0, L"#32768", nullptr, 2000);
        }
        RECT rc = {};
        if (!hMenu || !GetWindowRect(hMenu, &rc))
            return 1;
        PointTo((rc.left + rc.right) / 2, rc.top + GetSystemMetrics(SM_CYMENU) / 2);
        return PrintWithTray(hMenu);
    }
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    const std::wstring step = argv[1];
    if (step == L"sample-history")
        return SUCCEEDED(testenv::WriteSampleHistory()) ? 0 : 1;
    // The programs run on the virtual desktop "shots" of tools/screenshots;
    // windows are found only from a thread on the same desktop.
    HDESK desktop = nullptr;
    for (int i = 0; i < 200 && !desktop; ++i) {
        desktop = OpenDesktopW(L"shots", 0, FALSE, GENERIC_ALL);
        if (!desktop)
            Sleep(100);
    }
    if (desktop)
        SetThreadDesktop(desktop);
    if (step == L"sched")
        return argc > 2 ? SchedStep(argv[2]) : 2;
    return MainStep(step, argc, argv);
}
