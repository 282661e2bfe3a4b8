// zbSched.exe: the resident scheduler. One instance per session; a second
// one exits at once, and with "/end" closes the first. "/end" alone starts
// nothing.
#include <windows.h>

#include <locale.h>
#include <objbase.h>
#include <psapi.h>
#include <string.h>

#include "common/handles.h"
#include "common/help.h"
#include "common/log.h"
#include "common/toast.h"
#include "sched/resource.h"
#include "sched/sched.h"

namespace {

// How long "/end" waits for the first instance to end.
constexpr DWORD kEndWaitMs = 10000;

// What the scheduler has cost so far, for the trace (zbschedbench reads it):
// its CPU time and its commit charge, that is, its private bytes.
void LogProcessCost(LPCWSTR lpszWhen, unsigned long messages, unsigned long timers) {
    FILETIME created, exited, kernel, user;
    ULONGLONG cpuMs = 0;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        cpuMs = ((static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
                 (static_cast<ULONGLONG>(user.dwHighDateTime) << 32 | user.dwLowDateTime)) /
                10000;
    PROCESS_MEMORY_COUNTERS mem = {};
    mem.cb = sizeof(mem);
    GetProcessMemoryInfo(GetCurrentProcess(), &mem, sizeof(mem));
    WriteLog(L"wWinMain", __LINE__,
             L"%s: %lu messages (%lu timer); CPU %llu ms; private bytes %llu\n", lpszWhen, messages,
             timers, cpuMs, static_cast<ULONGLONG>(mem.PagefileUsage));
}

} // namespace

int APIENTRY wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int /*nCmdShow*/) {
    const bool endRequest = lpCmdLine && wcsstr(lpCmdLine, L"/end");
    zb::UniqueHandle instanceMutex(CreateMutexW(nullptr, FALSE, zbsched::SCHED_MUTEX_NAME));
    const DWORD dwErr = GetLastError();
    // "/end" only ever ends a scheduler: with none running there is nothing
    // to do, and staying resident would leave the package's removal a
    // scheduler it started itself, holding the program's files.
    if (endRequest && dwErr != ERROR_ALREADY_EXISTS && dwErr != ERROR_ACCESS_DENIED)
        return 0;
    if (dwErr == ERROR_ALREADY_EXISTS || dwErr == ERROR_ACCESS_DENIED) {
        if (endRequest) {
            WCHAR szClass[100] = {};
            LoadStringW(hInstance, IDS_CLASS_NAME, szClass, static_cast<int>(ARRAYSIZE(szClass)));
            HWND hFirst = FindWindowW(szClass, nullptr);
            if (IsWindow(hFirst)) {
                DWORD firstId = 0;
                GetWindowThreadProcessId(hFirst, &firstId);
                const zb::UniqueHandle first(OpenProcess(SYNCHRONIZE, FALSE, firstId));
                SendMessageW(hFirst, WM_CLOSE, 0, 0);
                // The package's removal runs "/end" just before it deletes the
                // program's files: return once the first instance has let go
                // of them, not while it is still ending.
                if (first)
                    WaitForSingleObject(first.Get(), kEndWaitMs);
            }
        }
        return 0;
    }

    zbsched::RegisterSchedClass(hInstance);
    _wsetlocale(LC_ALL, L"");
    const HRESULT hrCom = CoInitialize(nullptr);
    InitializeHelp();
    const HRESULT hrToast = GetToastLibrary().InitializeToast();
    if (FAILED(hrToast))
        WriteLog(L"wWinMain", __LINE__, L"ToastDll Init Failed. hr: %08x.\n", hrToast);

    // The window stays hidden whatever the caller asked for.
    HWND hWnd = zbsched::InitInstance(hInstance, SW_HIDE);
    if (!hWnd) {
        GetToastLibrary().FinalizeToast();
        return 0;
    }
    HACCEL hAccel = LoadAcceleratorsW(hInstance, MAKEINTRESOURCEW(IDC_ZBSCHED));
    zbsched::StartDaySettingOnStart(hWnd);

    // What the scheduler costs at rest: every message the loop takes wakes
    // it; the count goes to the trace at the end, beside what the start cost.
    LogProcessCost(L"Started", 0, 0);
    unsigned long messages = 0, timers = 0;
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ++messages;
        if (msg.message == WM_TIMER)
            ++timers;
        // The warning dialogs are modeless: their keys go through here.
        HWND hActive = GetActiveWindow();
        if (hActive && hActive != hWnd && IsDialogMessageW(hActive, &msg))
            continue;
        if (!TranslateAcceleratorW(msg.hwnd, hAccel, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    LogProcessCost(L"Ended", messages, timers);
    GetToastLibrary().FinalizeToast();
    UninitializeHelp();
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return static_cast<int>(msg.wParam);
}
