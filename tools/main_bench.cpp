// zbmainbench: the main screen's start-up (process start to its main window
// shown) against two yardsticks under the same Wine, a bare Win32 window
// program and a bare tab dialog with the common controls loaded, as ratios
// of medians over alternating runs; the main screen's start-up trace (the
// median time of each of its marks from the process's creation); and its
// private bytes once it is at rest.
//
//   zbmainbench [rounds]      (default 5)
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/reg.h"
#include "sim/machine.h"

namespace {

constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";
constexpr DWORD kWindowTimeoutMs = 30000;
constexpr DWORD kRestMs = 2000;
constexpr DWORD kTraceTimeoutMs = 10000;

std::wstring BinDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

struct Search {
    DWORD pid;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchVisible(HWND hWnd, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    wchar_t name[64] = {};
    GetClassNameW(hWnd, name, ARRAYSIZE(name));
    if (pid == search->pid && IsWindowVisible(hWnd) && lstrcmpW(name, search->className) == 0) {
        search->found = hWnd;
        return FALSE;
    }
    return TRUE;
}

// A start-up mark: its name and its time from the process's creation.
using Trace = std::vector<std::pair<std::string, double>>;

struct Run {
    double startMs = -1;
    SIZE_T privateBytes = 0;
    Trace trace;
};

std::wstring TracePath() {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"zbmainbench-trace.txt";
}

// The trace the program writes once its start-up is done (the file appears
// whole, by a rename), as times from begin.
Trace ReadTrace(const std::wstring& path, LONGLONG begin, double frequency) {
    Trace trace;
    const ULONGLONG deadline = GetTickCount64() + kTraceTimeoutMs;
    FILE* file = nullptr;
    while (!(file = _wfopen(path.c_str(), L"r")) && GetTickCount64() < deadline)
        Sleep(10);
    if (!file)
        return trace;
    char line[256];
    while (fgets(line, sizeof(line), file)) {
        char* tab = strchr(line, '\t');
        if (!tab)
            continue;
        *tab = '\0';
        const double counter = _strtoi64(tab + 1, nullptr, 10);
        if (strcmp(line, "frequency") != 0)
            trace.emplace_back(line, (counter - begin) * 1000.0 / frequency);
    }
    fclose(file);
    return trace;
}

// Starts the program, times it to its visible window, optionally waits for
// rest and reads its private bytes, then closes it.
Run TimeStart(const wchar_t* exe, const wchar_t* className, bool measureMemory,
              bool traced = false) {
    Run run;
    const std::wstring tracePath = TracePath();
    DeleteFileW(tracePath.c_str());
    SetEnvironmentVariableW(L"ZB_STARTUP_TRACE", traced ? tracePath.c_str() : nullptr);
    const std::wstring path = BinDir() + exe;
    std::wstring cmd = L"\"" + path + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER frequency, begin, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    if (!CreateProcessW(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return run;
    Search search = {pi.dwProcessId, className, nullptr};
    const ULONGLONG deadline = GetTickCount64() + kWindowTimeoutMs;
    while (!search.found && GetTickCount64() < deadline) {
        EnumWindows(MatchVisible, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            Sleep(1);
    }
    QueryPerformanceCounter(&now);
    if (search.found)
        run.startMs = (now.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart;
    if (search.found && traced)
        run.trace = ReadTrace(tracePath, begin.QuadPart, static_cast<double>(frequency.QuadPart));
    if (search.found && measureMemory) {
        Sleep(kRestMs);
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof(counters);
        if (GetProcessMemoryInfo(pi.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof(counters)))
            // Wine leaves PrivateUsage at 0; the page-file usage is the
            // same figure on Windows.
            run.privateBytes =
                counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    }
    if (search.found)
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? _wtoi(argv[1]) : 5;
    // The same notebook every time, whatever ran before: one battery, so
    // that one figure compares with the next.
    if (SimSetupProfile(L"one") != 0) {
        fprintf(stderr, "zbmainbench: the simulated notebook cannot be set up\n");
        return 1;
    }
    // No read-me in front of the measured screen; the user's choice comes back.
    DWORD readMe = 0;
    const bool hadReadMe =
        SUCCEEDED(CReg::GetDW(HKEY_CURRENT_USER, kSuiteKey, L"ReadMeCheck", &readMe));
    CReg::SetDW(HKEY_CURRENT_USER, kSuiteKey, L"ReadMeCheck", 1);

    std::vector<double> bare, tab, main;
    std::vector<std::string> markNames;
    std::map<std::string, std::vector<double>> markTimes;
    SIZE_T privateBytes = 0;
    TimeStart(L"zbbarewnd.exe", L"zbBareWindow", false); // warm-up, not counted
    TimeStart(L"zbbaretab.exe", L"#32770", false);
    TimeStart(L"zbMain.exe", L"zbMain", false);
    for (int i = 0; i < rounds; ++i) {
        const Run b = TimeStart(L"zbbarewnd.exe", L"zbBareWindow", false);
        const Run t = TimeStart(L"zbbaretab.exe", L"#32770", false);
        const Run m = TimeStart(L"zbMain.exe", L"zbMain", i == 0, true);
        if (b.startMs >= 0)
            bare.push_back(b.startMs);
        if (t.startMs >= 0)
            tab.push_back(t.startMs);
        if (m.startMs >= 0)
            main.push_back(m.startMs);
        for (const auto& mark : m.trace) {
            if (markTimes.find(mark.first) == markTimes.end())
                markNames.push_back(mark.first);
            markTimes[mark.first].push_back(mark.second);
        }
        if (i == 0)
            privateBytes = m.privateBytes;
    }
    SetEnvironmentVariableW(L"ZB_STARTUP_TRACE", nullptr);
    if (hadReadMe)
        CReg::SetDW(HKEY_CURRENT_USER, kSuiteKey, L"ReadMeCheck", readMe);
    else
        CReg::DeleteValue(HKEY_CURRENT_USER, kSuiteKey, L"ReadMeCheck");

    const double bareMs = Median(bare);
    const double tabMs = Median(tab);
    const double mainMs = Median(main);
    printf("Main screen start-up (process start to main window shown), median of %d:\n", rounds);
    printf("  zbMain.exe         %8.1f ms\n", mainMs);
    printf("  bare window        %8.1f ms\n", bareMs);
    printf("  bare tab dialog    %8.1f ms\n", tabMs);
    if (bareMs > 0 && mainMs > 0)
        printf("  ratio to the bare window      %6.2f\n", mainMs / bareMs);
    if (tabMs > 0 && mainMs > 0)
        printf("  ratio to the bare tab dialog  %6.2f\n", mainMs / tabMs);
    printf("Main screen start-up trace (median ms from process creation; step's own time):\n");
    double previous = 0;
    for (const std::string& name : markNames) {
        const double at = Median(markTimes[name]);
        printf("  %8.1f  %+7.1f  %s\n", at, at - previous, name.c_str());
        previous = at;
    }
    printf("Main screen private bytes at rest: %.1f MiB\n", privateBytes / (1024.0 * 1024.0));
    return bare.empty() || tab.empty() || main.empty() ? 1 : 0;
}
