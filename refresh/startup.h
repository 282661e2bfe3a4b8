// Start-up of zbRefresh.exe: the steps wWinMain runs before and around its
// message loop, and the keep-awake variant started with "/delay".
//
// The refresh tool runs one refresh and ends. A second refreshing instance
// and a second keep-awake instance exit at once (one mutex each); the two
// kinds may run side by side.
#pragma once

#include <windows.h>

#include "common/handles.h"
#include "common/util.h"
#include "ipc/contract.h"

namespace zbrefresh {

// Single-instance mutexes, shared by all sessions: REFRESH_TOOL_MUTEX_NAME
// (ipc/contract.h) for a refreshing instance, and this one.
constexpr wchar_t DELAY_MUTEX_NAME[] = L"Global\\vadovurMUTEX4";
// Owned by a separate alarm program a reservation may start alongside.
constexpr wchar_t ALARM_OBJECT_NAME[] = L"Global\\zel_Alarm";
constexpr DWORD ALARM_WAIT_MS = 20000;

constexpr wchar_t DELAY_WINDOW_CLASS[] = L"RefreshDelayWnd";
constexpr UINT_PTR DELAY_TIMER_ID = 1;

// Switches of the command line (exact, case-sensitive words).
struct RefreshSwitches {
    bool end = false;
    bool delay = false;
    bool resv = false;
    bool sleep = false;
    bool noMain = false;
};
RefreshSwitches ReadRefreshSwitches(const CommandLineMap& args);

// On Windows XP a user who is no administrator may refresh only when the
// "Limited" setting allows it.
bool IsStartRefusedForUser();

// "/end": asks a running refresh tool to close (WM_CLOSE on pipe 2).
// True when the request was delivered.
bool SendEndRequest();

// Creates the instance mutex (not owned). Empty when another instance of the
// same kind exists or the mutex belongs to another session we may not open.
zb::UniqueHandle CreateInstanceMutex(bool delayInstance);

// "/resv": when the alarm program runs, gives it ALARM_WAIT_MS first.
void WaitForAlarmProgram();

// Window title (string 103) and class name (string 109) of this module.
void LoadWindowNames(HINSTANCE hInstance);
LPCWSTR GetRefreshWindowTitle();
LPCWSTR GetRefreshWindowClass();

// Picks the batteries and creates the hidden refresh window with the queue
// as its creation parameter. FALSE when no refresh can start.
BOOL InitInstance(HINSTANCE hInstance, int nCmdShow);

// Tells a waiting main screen that the refresh window could not be made:
// error notice 0x8304 with reason 1 for battery 1 on pipe 1.
void ReportStartFailure();

// "/delay": keeps the machine from idling into sleep for "SleepDelay"
// minutes with a hidden window, then quits.
BOOL CreateDelayWindow(HINSTANCE hInstance);

// Milliseconds the keep-awake window waits: "SleepDelay" minutes, bounded
// to what a window timer can hold.
UINT DelayWindowPeriodMs(DWORD sleepDelayMinutes);

// Message loop with accelerator table 109 until WM_QUIT; returns its value.
int RunMessageLoop(HINSTANCE hInstance);

// Counts the messages this thread handles from now on; WriteMessageCounts
// ends the count and writes it to the trace (how often the tool woke during
// a refresh: queued messages, timer ticks, messages from other threads).
void StartMessageCounting();
void WriteMessageCounts();

} // namespace zbrefresh
