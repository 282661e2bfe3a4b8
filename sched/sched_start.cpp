// Start-up of the scheduler's window and its routine timer.
#include "sched/sched.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/window_base.h"
#include "sched/resource.h"
#include "sched/sched_logic.h"

namespace zbsched {

namespace {

// The window's title and class name, strings of the program.
struct SchedNames {
    WCHAR title[100] = {};
    WCHAR windowClass[100] = {};
    explicit SchedNames(HINSTANCE hInstance) {
        LoadStringW(hInstance, IDS_APP_TITLE, title, static_cast<int>(ARRAYSIZE(title)));
        LoadStringW(hInstance, IDS_CLASS_NAME, windowClass,
                    static_cast<int>(ARRAYSIZE(windowClass)));
    }
};

} // namespace

void StartDaySettingOnStart(HWND hWnd) {
    SchedState* state = hWnd ? zb::WindowState<SchedState>(hWnd) : nullptr;
    if (state)
        StartDaySetting(hWnd, *state);
}

ATOM RegisterSchedClass(HINSTANCE hInstance) {
    const SchedNames names(hInstance);
    return zb::RegisterAppWindowClass(hInstance, names.windowClass,
                                      zb::StateWindowProc<SchedState, WndProc>, IDI_ZBSCHED,
                                      IDI_SMALL);
}

HWND InitInstance(HINSTANCE hInstance, int nCmdShow) {
    const SchedNames names(hInstance);
    std::unique_ptr<SchedState> state(new SchedState());
    state->instance = hInstance;
    HWND hWnd = zb::CreateWindowWithState(std::move(state), 0, names.windowClass, names.title,
                                          WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                          nullptr, nullptr, hInstance);
    if (!hWnd) {
        LogApiFailure(L"InitInstance", __LINE__, L"CreateWindow", GetLastError());
        return nullptr;
    }
    ShowWindow(hWnd, nCmdShow);
    UpdateWindow(hWnd);
    if (!SetRoutineCheckTimer(hWnd))
        WriteLog(L"InitInstance", __LINE__, L"Fail to SetRoutineCheckTimer.");
    return hWnd;
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
