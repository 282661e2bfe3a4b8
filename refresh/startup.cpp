#include "refresh/startup.h"

#include "battery/refresh_repair.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/wrappers.h"
#include "ipc/pipe.h"
#include "refresh/battery_select.h"
#include "refresh/refresh_tool.h"
#include "refresh/refresh_wnd.h"
#include "refresh/resource.h"

#include <strsafe.h>

namespace zbrefresh {

namespace {

constexpr size_t kWindowNameCch = 100;

// Window title and class of the refresh window; the class starts with the
// program's name until the string table has been read.
wchar_t g_szTitle[kWindowNameCch] = L"";
wchar_t g_szWindowClass[kWindowNameCch] = L"zbRefresh";

// What the UI thread handled: messages taken from its queue (timer ticks
// among them) and messages sent to its windows, directly or from other
// threads (pipe servers, the power-event source). A queued message and a
// message sent from another thread each wake the thread once.
struct MessageCounts {
    unsigned long posted = 0;
    unsigned long timers = 0;
    unsigned long sent = 0;
    unsigned long sentFromOtherThreads = 0;
};
MessageCounts g_messageCounts;

zb::UniqueResource<zb::NullableTraits<HHOOK, UnhookWindowsHookEx>> g_sentMessageHook;

LRESULT CALLBACK CountSentMessage(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        ++g_messageCounts.sent;
        // wParam is zero when another thread sent the message.
        if (wParam == 0)
            ++g_messageCounts.sentFromOtherThreads;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The keep-awake window: no refresh, only a timer that ends it.
LRESULT OnDelayCreate(HWND hWnd) {
    SetWindowTextFromResource(hWnd, IDS_APP_TITLE);
    if (!SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED))
        LogApiFailure(L"DelayWndProc", __LINE__, L"SetThreadExecutionState", GetLastError());
    if (!SetTimer(hWnd, DELAY_TIMER_ID, DelayWindowPeriodMs(GetRegSleepDelay()), nullptr))
        LogApiFailure(L"DelayWndProc", __LINE__, L"SetTimer", GetLastError());
    return 0;
}

LRESULT CALLBACK DelayWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnDelayCreate(hWnd);
    case WM_TIMER:
        KillTimer(hWnd, DELAY_TIMER_ID);
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        SetThreadExecutionState(ES_SYSTEM_REQUIRED);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

ATOM RegisterDelayWindowClass(HINSTANCE hInstance) {
    WNDCLASSEXW wcex = {sizeof(wcex)};
    wcex.style = CS_HREDRAW | CS_VREDRAW;
    wcex.lpfnWndProc = DelayWndProc;
    wcex.hInstance = hInstance;
    wcex.hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_ZBREFRESH));
    wcex.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wcex.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wcex.lpszClassName = DELAY_WINDOW_CLASS;
    wcex.hIconSm = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_SMALL));
    return RegisterClassExW(&wcex);
}

} // namespace

RefreshStartup& GetRefreshStartup() {
    static RefreshStartup startup;
    return startup;
}

RefreshSwitches ReadRefreshSwitches(const CommandLineMap& args) {
    RefreshSwitches switches;
    switches.end = HasSwitch(args, L"/end");
    switches.delay = HasSwitch(args, L"/delay");
    switches.resv = HasSwitch(args, L"/resv");
    switches.sleep = HasSwitch(args, L"/sleep");
    switches.noMain = HasSwitch(args, L"/nomain");
    return switches;
}

bool IsStartRefusedForUser() {
    return IsWindowsXP() && !IsUserAdministrator() && GetRegLimited() == 0;
}

bool SendEndRequest() {
    CPipe pipe;
    if (!pipe.Connect(PIPE2_NAME))
        return false;
    PipeRecord record = {};
    record.message = WM_CLOSE;
    const bool sent = pipe.Send(&record, sizeof(record)) == static_cast<int>(sizeof(record));
    pipe.Close();
    return sent;
}

zb::UniqueHandle CreateInstanceMutex(bool delayInstance) {
    const LPCWSTR name = delayInstance ? DELAY_MUTEX_NAME : REFRESH_TOOL_MUTEX_NAME;
    zb::UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name));
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED)
        return zb::UniqueHandle();
    if (!mutex)
        LogApiFailure(L"wWinMain", __LINE__, L"CreateMutex", error);
    return mutex;
}

void WaitForAlarmProgram() {
    zb::UniqueHandle alarm(OpenMutexW(SYNCHRONIZE, FALSE, ALARM_OBJECT_NAME));
    if (!alarm) {
        WriteLog(L"wWinMain", __LINE__, L"Alarm Is not running!\n");
        return;
    }
    WriteLog(L"wWinMain", __LINE__, L"Alarm Is running!\n");
    WriteLog(L"wWinMain", __LINE__, L"Sleep Start\n");
    Sleep(ALARM_WAIT_MS);
    WriteLog(L"wWinMain", __LINE__, L"Sleep end\n");
}

void LoadWindowNames(HINSTANCE hInstance) {
    LoadStringW(hInstance, IDS_APP_TITLE, g_szTitle, static_cast<int>(ARRAYSIZE(g_szTitle)));
    LoadStringW(hInstance, IDS_CLASS_NAME, g_szWindowClass,
                static_cast<int>(ARRAYSIZE(g_szWindowClass)));
}

LPCWSTR GetRefreshWindowTitle() {
    return g_szTitle;
}
LPCWSTR GetRefreshWindowClass() {
    return g_szWindowClass;
}

// The window is never shown, whatever the caller asks for.
BOOL InitInstance(HINSTANCE hInstance, int /*nCmdShow*/) {
    // The queue outlives the window: the window procedure keeps a pointer.
    static RefreshQueue queue;
    GetRefreshStartup().instance = hInstance;

    // Before anything is changed: what a run that died left behind.
    RepairAfterInterruptedRefresh();
    if (!GetRefBattery(&queue)) {
        WriteLog(L"InitInstance", __LINE__, L"GetRefBattery error\n");
        return FALSE;
    }
    HWND hWnd = CreateRefreshWindow(hInstance, g_szWindowClass, g_szTitle, &queue);
    if (!hWnd) {
        WriteLog(L"InitInstance", __LINE__, L"Fail to CreateWindow(). ErrorCode: %08x\n",
                 GetLastError());
        return FALSE;
    }
    GetRefreshStartup().traceEnabled = IsLogEnabled() != FALSE;
    ShowWindow(hWnd, SW_HIDE);
    UpdateWindow(hWnd);
    return TRUE;
}

void ReportStartFailure() {
    CPipeToDlg pipe;
    pipe.Create(PIPE1_NAME);
    pipe.SendAll(WM_USER_REFERROR, 1, 1);
}

UINT DelayWindowPeriodMs(DWORD sleepDelayMinutes) {
    const ULONGLONG ms = static_cast<ULONGLONG>(sleepDelayMinutes) * 60000ULL;
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms);
}

BOOL CreateDelayWindow(HINSTANCE hInstance) {
    if (!RegisterDelayWindowClass(hInstance)) {
        LogApiFailure(L"wWinMain", __LINE__, L"RegisterClassEx", GetLastError());
        return FALSE;
    }
    HWND hWnd = CreateWindowExW(0, DELAY_WINDOW_CLASS, L"", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                0, CW_USEDEFAULT, 0, nullptr, nullptr, hInstance, nullptr);
    if (!hWnd) {
        LogApiFailure(L"wWinMain", __LINE__, L"CreateWindow", GetLastError());
        return FALSE;
    }
    ShowWindow(hWnd, SW_HIDE);
    return TRUE;
}

int RunMessageLoop(HINSTANCE hInstance) {
    HACCEL accelerators = LoadAcceleratorsW(hInstance, MAKEINTRESOURCEW(IDC_ZBREFRESH));
    MSG msg = {};
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(msg.wParam);
        if (got == -1) {
            LogApiFailure(L"wWinMain", __LINE__, L"GetMessage", GetLastError());
            return 0;
        }
        ++g_messageCounts.posted;
        if (msg.message == WM_TIMER)
            ++g_messageCounts.timers;
        if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void StartMessageCounting() {
    g_messageCounts = MessageCounts();
    g_sentMessageHook.Reset(
        SetWindowsHookExW(WH_CALLWNDPROC, CountSentMessage, nullptr, GetCurrentThreadId()));
    if (!g_sentMessageHook)
        LogApiFailure(L"wWinMain", __LINE__, L"SetWindowsHookEx", GetLastError());
}

void WriteMessageCounts() {
    g_sentMessageHook.Reset();
    WriteLog(L"wWinMain", __LINE__,
             L"Messages: %lu posted (%lu timer), %lu sent (%lu from other threads); wake-ups %lu\n",
             g_messageCounts.posted, g_messageCounts.timers, g_messageCounts.sent,
             g_messageCounts.sentFromOtherThreads,
             g_messageCounts.posted + g_messageCounts.sentFromOtherThreads);
}

} // namespace zbrefresh
