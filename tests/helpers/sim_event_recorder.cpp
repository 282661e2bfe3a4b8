// Test helper: a process with one hidden top-level window that writes every
// WM_POWERBROADCAST it receives to a file, one line each, as
//   SUSPEND, RESUMEAUTOMATIC, RESUMESUSPEND, STATUS, PERCENT <n>, ACDC <n>,
//   SETTING <guid data1> <n>, BADSETTING, OTHER <n>
// after a first line READY. It links cellio.dll at load time like the
// suite's programs, so the library's watcher is what delivers the events.
//
//   sim_event_recorder <file> <lifetime ms>
// Ends on WM_CLOSE (exit 0) or when the lifetime runs out (exit 3).
#include "battery/cellio.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

const wchar_t* g_file;

void Record(const char* line) {
    HANDLE file = CreateFileW(g_file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

void RecordSetting(const POWERBROADCAST_SETTING* setting) {
    char line[96];
    if (!setting || setting->DataLength != sizeof(DWORD)) {
        Record("BADSETTING");
        return;
    }
    DWORD value;
    memcpy(&value, setting->Data, sizeof(value));
    if (IsEqualGUID(setting->PowerSetting, GUID_BATTERY_PERCENTAGE_REMAINING))
        snprintf(line, sizeof(line), "PERCENT %lu", value);
    else if (IsEqualGUID(setting->PowerSetting, GUID_ACDC_POWER_SOURCE))
        snprintf(line, sizeof(line), "ACDC %lu", value);
    else
        snprintf(line, sizeof(line), "SETTING %08lx %lu", setting->PowerSetting.Data1, value);
    Record(line);
}

void RecordPower(WPARAM event, LPARAM lParam) {
    char line[64];
    switch (event) {
    case PBT_APMSUSPEND:
        Record("SUSPEND");
        break;
    case PBT_APMRESUMEAUTOMATIC:
        Record("RESUMEAUTOMATIC");
        break;
    case PBT_APMRESUMESUSPEND:
        Record("RESUMESUSPEND");
        break;
    case PBT_APMPOWERSTATUSCHANGE:
        Record("STATUS");
        break;
    case PBT_POWERSETTINGCHANGE:
        RecordSetting(reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam));
        break;
    default:
        snprintf(line, sizeof(line), "OTHER %llu", static_cast<unsigned long long>(event));
        Record(line);
    }
}

LRESULT CALLBACK RecorderWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_POWERBROADCAST:
        RecordPower(wParam, lParam);
        return TRUE;
    case WM_TIMER:
        PostQuitMessage(3);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return 2;
    g_file = argv[1];
    const UINT lifetime = static_cast<UINT>(_wtoi(argv[2]));
    // Binds the library at load time, as the suite's programs do.
    CellioGetBatteryMask();

    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecorderWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SimEventRecorder";
    if (!RegisterClassW(&wc))
        return 2;
    HWND hwnd = CreateWindowW(wc.lpszClassName, L"recorder", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd)
        return 2;
    SetTimer(hwnd, 1, lifetime, nullptr);
    Record("READY");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return static_cast<int>(msg.wParam);
}
