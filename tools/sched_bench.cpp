// zbschedbench: what the resident scheduler costs at rest. Starts
// zbSched.exe on the simulated notebook, lets it rest for the given seconds
// (its routine timer ticking at the default interval), ends it with "/end",
// and prints what the scheduler wrote to the trace as it ended: its
// wake-ups per minute (messages its loop took, of them timer ticks), its CPU
// time and its private bytes.
//
//   zbschedbench [seconds]   (default 120)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "common/handles.h"
#include "common/log.h"
#include "common/reg.h"
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

struct IdleFigures {
    unsigned long messages = 0;
    unsigned long timers = 0;
    unsigned long long cpuMs = 0;
    unsigned long long privateBytes = 0;
};

// The figures of the scheduler's last "Messages:" trace line, written as it
// ends (Wine gives no CPU times of another process).
bool ReadFigures(IdleFigures* figures) {
    wchar_t path[MAX_PATH] = {};
    CreateLogFilePath(path, ARRAYSIZE(path), L"vadovur_refresh.log");
    zb::UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return false;
    std::wstring text;
    wchar_t buf[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buf, sizeof(buf), &read, nullptr) && read > 0)
        text.append(buf, read / sizeof(wchar_t));
    const size_t at = text.rfind(L"Messages: ");
    return at != std::wstring::npos &&
           swscanf(text.c_str() + at,
                   L"Messages: %lu posted (%lu timer); CPU %llu ms; private bytes %llu",
                   &figures->messages, &figures->timers, &figures->cpuMs,
                   &figures->privateBytes) == 4;
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

    zb::UniqueHandle sched(Start(exe, L""));
    if (!sched) {
        fwprintf(stderr, L"zbschedbench: cannot start %ls\n", exe.c_str());
        return 1;
    }
    for (int i = 0; i < 300 && !FindWindowW(L"zbSched", nullptr); ++i)
        Sleep(100);
    wprintf(L"scheduler at rest for %lu s ...\n", seconds);
    fflush(stdout);
    Sleep(seconds * 1000);
    zb::UniqueHandle end(Start(exe, L"/end"));
    if (end)
        WaitForSingleObject(end.Get(), 30000);
    if (WaitForSingleObject(sched.Get(), 30000) != WAIT_OBJECT_0)
        TerminateProcess(sched.Get(), 1);
    IdleFigures figures;
    const bool measured = ReadFigures(&figures);
    if (hadLog)
        CReg::SetDW(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log", oldLog);
    else
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log");
    if (!measured) {
        wprintf(L"zbSched: no figures in the trace\n");
        return 1;
    }
    // From its start: the first check and the pipe server's first wait are
    // in the CPU time, and in nothing else.
    const double minutes = seconds / 60.0;
    wprintf(L"zbSched over %lu s from its start: %.1f wake-ups per minute (%lu messages, %lu of "
            L"them timer ticks), CPU %.3f s, private bytes %.1f MB\n",
            seconds, figures.messages / minutes, figures.messages, figures.timers,
            figures.cpuMs / 1000.0, figures.privateBytes / 1048576.0);
    return 0;
}
