// zbschedbench: what the resident scheduler costs at rest. Starts
// zbSched.exe on the simulated notebook, lets it rest for the given seconds
// (its routine timer ticking at the default interval), ends it with "/end",
// and prints what the scheduler wrote to the trace when its start was done
// and as it ended: its wake-ups at rest per minute (messages its loop took,
// and how many of them were not its timer), its CPU time at rest and for the
// start, and its private bytes, beside those of a bare window program under
// the same Wine (the floor of any program here).
//
//   zbschedbench [seconds]   (default 120)
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "common/handles.h"
#include "common/log.h"
#include "common/reg.h"
#include "common/settings.h"
#include "common/util.h"

namespace {

constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";

HANDLE Start(const std::wstring& exe, const wchar_t* args) {
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

struct Cost {
    unsigned long messages = 0;
    unsigned long timers = 0;
    unsigned long long cpuMs = 0;
    unsigned long long privateBytes = 0;
};

std::wstring ReadTrace() {
    wchar_t path[MAX_PATH] = {};
    CreateLogFilePath(path, ARRAYSIZE(path), L"vadovur_refresh.log");
    zb::UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    std::wstring text;
    wchar_t buf[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), buf, sizeof(buf), &read, nullptr) && read > 0)
        text.append(buf, read / sizeof(wchar_t));
    return text;
}

// The figures of the scheduler's trace line of that kind ("Started" or
// "Ended") written after the first `from` characters of the trace: Wine
// gives no CPU times of another process.
bool ReadCost(const wchar_t* when, size_t from, Cost* cost) {
    const std::wstring text = ReadTrace();
    const std::wstring tag = std::wstring(when) + L": ";
    const size_t at = text.size() > from ? text.find(tag, from) : std::wstring::npos;
    return at != std::wstring::npos &&
           swscanf(text.c_str() + at + tag.size(),
                   L"%lu messages (%lu timer); CPU %llu ms; private bytes %llu", &cost->messages,
                   &cost->timers, &cost->cpuMs, &cost->privateBytes) == 4;
}

// Private bytes of a bare window program after a moment at rest; 0 when it
// could not be measured. Wine leaves PrivateUsage at 0: the page-file usage
// is the same figure on Windows.
unsigned long long BareWindowPrivateBytes(const std::wstring& dir) {
    zb::UniqueHandle bare(Start(dir + L"zbbarewnd.exe", L""));
    HWND hWnd = nullptr;
    for (int i = 0; i < 300 && !(hWnd = FindWindowW(L"zbBareWindow", nullptr)); ++i)
        Sleep(100);
    if (!bare || !hWnd)
        return 0;
    Sleep(2000);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    unsigned long long bytes = 0;
    if (GetProcessMemoryInfo(bare.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters)))
        bytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    PostMessageW(hWnd, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(bare.Get(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(bare.Get(), 1);
    return bytes;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(_wtoi(argv[1])) : 120;
    wchar_t dir[MAX_PATH] = {};
    GetCurrentPath(dir, ARRAYSIZE(dir));
    const std::wstring exe = std::wstring(dir) + L"zbSched.exe";

    DWORD oldLog = 0;
    const bool hadLog = SUCCEEDED(CReg::GetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log", &oldLog));
    CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log", 1);

    DWORD interval = 60000;
    GetRegRoutineCheckInterval(&interval);
    const size_t traceStart = ReadTrace().size();
    zb::UniqueHandle sched(Start(exe, L""));
    if (!sched) {
        fwprintf(stderr, L"zbschedbench: cannot start %ls\n", exe.c_str());
        return 1;
    }
    // The rest begins when the start (window, pipe, first check) is done.
    Cost started, ended;
    for (int i = 0; i < 300 && !ReadCost(L"Started", traceStart, &started); ++i)
        Sleep(100);
    wprintf(L"scheduler at rest for %lu s ...\n", seconds);
    fflush(stdout);
    Sleep(seconds * 1000);
    zb::UniqueHandle end(Start(exe, L"/end"));
    if (end)
        WaitForSingleObject(end.Get(), 30000);
    if (WaitForSingleObject(sched.Get(), 30000) != WAIT_OBJECT_0)
        TerminateProcess(sched.Get(), 1);
    const bool measured =
        ReadCost(L"Started", traceStart, &started) && ReadCost(L"Ended", traceStart, &ended);
    if (hadLog)
        CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log", oldLog);
    else
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log");
    if (!measured) {
        wprintf(L"zbSched: no figures in the trace\n");
        return 1;
    }
    const unsigned long long bareBytes = BareWindowPrivateBytes(dir);
    const double minutes = seconds / 60.0;
    wprintf(L"zbSched at rest for %lu s (routine timer every %lu s):\n", seconds,
            static_cast<unsigned long>(interval / 1000));
    wprintf(L"  wake-ups     %.1f per minute: %lu messages, %lu of them timer ticks, %lu other\n",
            ended.messages / minutes, ended.messages, ended.timers, ended.messages - ended.timers);
    wprintf(L"  CPU          %.3f s at rest (%.3f s for the start)\n",
            (ended.cpuMs - started.cpuMs) / 1000.0, started.cpuMs / 1000.0);
    wprintf(L"  private      %.1f MB at the end (%.1f MB after the start; a bare window program: "
            L"%.1f MB)\n",
            ended.privateBytes / 1048576.0, started.privateBytes / 1048576.0,
            bareBytes / 1048576.0);
    return 0;
}
