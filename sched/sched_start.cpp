// Start-up of the scheduler's window and its routine timer.
#include "sched/sched.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "sched/resource.h"
#include "sched/sched_logic.h"

namespace zbsched {

namespace {

HINSTANCE g_hInstance = nullptr; // the program's module, for texts and icons
HWND g_hWnd = nullptr;           // the hidden window
WCHAR g_szTitle[100] = {};
WCHAR g_szWindowClass[100] = {};

} // namespace

HINSTANCE GetSchedInstance() {
    return g_hInstance;
}

HWND GetSchedWindow() {
    return g_hWnd;
}

void StartDaySettingOnStart() {
    SchedState* state = g_hWnd ? zb::WindowState<SchedState>(g_hWnd) : nullptr;
    if (state)
        StartDaySetting(g_hWnd, *state);
}

ATOM RegisterSchedClass(HINSTANCE hInstance) {
    LoadStringW(hInstance, IDS_APP_TITLE, g_szTitle, static_cast<int>(ARRAYSIZE(g_szTitle)));
    LoadStringW(hInstance, IDS_CLASS_NAME, g_szWindowClass,
                static_cast<int>(ARRAYSIZE(g_szWindowClass)));
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = zb::StateWindowProc<SchedState, WndProc>;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_ZBSCHED));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = g_szWindowClass;
    wc.hIconSm = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_SMALL));
    return RegisterClassExW(&wc);
}

BOOL InitInstance(HINSTANCE hInstance, int nCmdShow) {
    g_hInstance = hInstance;
    std::unique_ptr<SchedState> state(new SchedState());
    state->instance = hInstance;
    HWND hWnd = zb::CreateWindowWithState(std::move(state), 0, g_szWindowClass, g_szTitle,
                                          WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                          nullptr, nullptr, hInstance);
    if (!hWnd) {
        LogApiFailure(L"InitInstance", __LINE__, L"CreateWindow", GetLastError());
        return FALSE;
    }
    g_hWnd = hWnd;
    ShowWindow(hWnd, nCmdShow);
    UpdateWindow(hWnd);
    if (!SetRoutineCheckTimer(hWnd))
        WriteLog(L"InitInstance", __LINE__, L"Fail to SetRoutineCheckTimer.");
    return TRUE;
}

BOOL SetRoutineCheckTimer(HWND hWnd) {
    if (IsNullArg(hWnd, L"SetRoutineCheckTimer", __LINE__, L"hWnd"))
        return FALSE;
    DWORD dwSetting = 60000;
    GetRegRoutineCheckInterval(&dwSetting);
    const DWORD dwInterval = ClampRoutineCheckInterval(dwSetting);
    if (dwInterval != dwSetting)
        WriteLog(L"SetRoutineCheckTimer", __LINE__,
                 L"RoutineCheckInterval %lu ms is out of range: the timer uses %lu ms.", dwSetting,
                 dwInterval);
    for (int i = 0; i < 10; ++i) {
        if (SetTimer(hWnd, ROUTINE_TIMER_ID, dwInterval, nullptr))
            return TRUE;
        WriteLog(L"SetRoutineCheckTimer", __LINE__, L"Fail to SetTimer(). Retry Count: %d.", i);
    }
    return FALSE;
}

} // namespace zbsched
