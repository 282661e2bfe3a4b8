// zbbench: times one whole refresh of the simulated notebook's battery 1
// and sets it against the least time the simulated machine itself needs
// for the same battery at the same time scale, phase by phase, so that
// what remains is the refresh tool's own delay at each phase change. Also
// reports the tool's CPU time and how often its thread woke.
//
//   zbbench [speed] [cool-down minutes]      (defaults 2000 and 0)
//
// The refresh runs twice: once with the trace off, for the times and the
// CPU time, and once with the trace on, for the tool's count of messages
// (its last trace lines). The settings it changes are put back at the end.
#include "common/log.h"
#include "common/reg.h"
#include "refresh_observer.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";
constexpr DWORD kRunTimeoutMs = 30 * 60 * 1000;
constexpr double kStepSeconds = 1.0;
constexpr double kMaxPhaseSeconds = 48 * 3600.0;
constexpr int kPhases = 5;
const char* const kPhaseNames[kPhases] = {"CHARGING1", "REFRESHING", "COOLDOWN1", "COOLDOWN2",
                                          "CHARGING2"};

// The battery the benchmark refreshes: battery 1 at 90 % in the 80 % mode.
bool SetUpMachine(double speed) {
    if (SimSetupProfile(L"one") != 0)
        return false;
    return sim::Modify([speed](sim::Machine& m) -> DWORD {
               sim::Battery& b = m.battery[0];
               b.remaining = b.fullChargeCapacity * 0.90;
               b.chargeLatched = 0;
               b.chargeMode = 80;
               m.speed = speed;
               return 0;
           }) == 0;
}

// Simulated seconds until done(m) holds, advancing a copy of the machine.
template <typename Done> double SimulateUntil(sim::Machine& m, Done done) {
    double seconds = 0;
    while (!done(m) && seconds < kMaxPhaseSeconds) {
        sim::Advance(m, kStepSeconds);
        seconds += kStepSeconds;
    }
    return seconds;
}

// The least real seconds each phase can take: the machine's own physics at
// the time scale, with an ideal controller that acts the moment a phase's
// end is reached, and the cool-downs' wall-clock minutes.
void MinimumPhaseSeconds(double speed, DWORD coolDownMinutes, double out[kPhases]) {
    sim::Machine m = observer::ReadMachineNow();
    sim::Battery& b = m.battery[0];
    const uint32_t ownMode = b.chargeMode;
    // CHARGING1: the mode is released; full, and the charger has stopped.
    b.chargeMode = 0;
    out[0] = SimulateUntil(m, [](const sim::Machine& x) {
        return sim::RemainingPercent(x.battery[0]) >= 100 && !sim::IsCharging(x.battery[0]);
    });
    // REFRESHING: the firmware discharges until it ends the refresh itself.
    b.adpc = 0;
    b.chgc = 0;
    out[1] = SimulateUntil(m, [](const sim::Machine& x) { return x.battery[0].adpc != 0; });
    // CHARGING2: refresh off, the mode back; it charges and stops at the mode.
    b.adpc = 1;
    b.chgc = 1;
    b.chargeMode = ownMode;
    bool seen = false;
    out[4] = SimulateUntil(m, [&seen](const sim::Machine& x) {
        const bool charging = sim::IsCharging(x.battery[0]);
        seen = seen || charging;
        return seen && (!charging || sim::RemainingPercent(x.battery[0]) >= 100);
    });
    for (int phase : {0, 1, 4})
        out[phase] /= speed;
    // The cool-downs wait wall-clock minutes; with a limit of as many
    // minutes the second one ends at the latest then (here: at once when 0).
    out[2] = coolDownMinutes * 60.0;
    out[3] = coolDownMinutes * 60.0;
}

struct RunResult {
    bool ok = false;
    double startup = 0;         // process start to the first notice
    double phase[kPhases] = {}; // process start / mode change to the next
    double finish = 0;          // completion notice to the process's end
    double total = 0;
    double cpuSeconds = 0;
    DWORD pid = 0;
};

std::wstring ProgramDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

double Seconds(ULONGLONG fromTick, ULONGLONG toTick) {
    return (toTick - fromTick) / 1000.0;
}

double FileTimeSeconds(const FILETIME& ft) {
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return v.QuadPart / 1e7;
}

RunResult RunRefresh(double speed) {
    RunResult result;
    if (!SetUpMachine(speed))
        return result;
    observer::RefreshObserver refresh;
    const std::wstring exe = ProgramDir() + L"zbRefresh.exe";
    std::wstring cmd = L"\"" + exe + L"\" /b1 /nomain";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    const ULONGLONG start = GetTickCount64();
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        printf("cannot start zbRefresh.exe: %lu\n", GetLastError());
        return result;
    }
    CloseHandle(pi.hThread);
    result.pid = pi.dwProcessId;

    ULONGLONG first = 0;
    ULONGLONG modeTick[7] = {};
    const bool connected = refresh.Connect(60000);
    const auto onNotice = [&](const observer::Notice& n) {
        if (!first)
            first = n.tick;
        if (n.message == WM_USER_REFMODE && n.value >= 1 && n.value <= 5 && !modeTick[n.value])
            modeTick[n.value] = n.tick;
    };
    while (connected && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT &&
           GetTickCount64() - start < kRunTimeoutMs)
        refresh.Pump(100, onNotice);
    refresh.Pump(0, onNotice);
    const bool ended = WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0;
    const ULONGLONG end = GetTickCount64();
    FILETIME created, exited, kernel, user;
    if (ended && GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user))
        result.cpuSeconds = FileTimeSeconds(kernel) + FileTimeSeconds(user);
    if (!ended)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);

    result.ok =
        ended && first && modeTick[1] && modeTick[2] && modeTick[3] && modeTick[4] && modeTick[5];
    if (!result.ok)
        return result;
    result.startup = Seconds(start, first);
    // The charge begins when the window releases the charge mode, before
    // the first notice: CHARGING1 counts from the process's start.
    result.phase[0] = Seconds(start, modeTick[1]);
    for (int phase = 1; phase < kPhases; ++phase)
        result.phase[phase] = Seconds(modeTick[phase], modeTick[phase + 1]);
    result.finish = Seconds(modeTick[5], end);
    result.total = Seconds(start, end);
    return result;
}

// The tool's own count of its messages: its "Messages:" trace line.
std::string MessageCounts(DWORD pid) {
    wchar_t path[MAX_PATH] = {};
    CreateLogFilePath(path, ARRAYSIZE(path), L"vadovur_refresh.log");
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "(no trace)";
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    std::wstring text(static_cast<size_t>(size.QuadPart / 2), L'\0');
    DWORD read = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size() * 2), &read, nullptr);
    CloseHandle(file);
    wchar_t tag[16];
    swprintf(tag, 16, L"[%08X]", pid);
    size_t at = text.rfind(L"Messages: ");
    while (at != std::wstring::npos) {
        const size_t lineStart = text.rfind(L'\n', at);
        const size_t from = lineStart == std::wstring::npos ? 0 : lineStart + 1;
        const std::wstring line = text.substr(from, text.find(L'\n', at) - from);
        if (line.find(tag) != std::wstring::npos) {
            char narrow[256];
            snprintf(narrow, sizeof(narrow), "%ls", line.substr(at - from + 10).c_str());
            return narrow;
        }
        if (at == 0)
            break;
        at = text.rfind(L"Messages: ", at - 1);
    }
    return "(no count in the trace)";
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const double speed = argc > 1 ? _wtof(argv[1]) : 2000.0;
    const DWORD coolDown = argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 0;
    if (speed <= 0) {
        printf("usage: zbbench [speed] [cool-down minutes]\n");
        return 2;
    }
    using observer::SavedSetting;
    SavedSetting log(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log", 0);
    SavedSetting coolDownTime(HKEY_LOCAL_MACHINE, kRefreshKey, L"RefreshCoolDownTime", coolDown);
    SavedSetting coolDownLimit(HKEY_LOCAL_MACHINE, kRefreshKey, L"RefreshCoolDownLimit", coolDown);

    if (!SetUpMachine(speed)) {
        printf("cannot set up the simulated notebook\n");
        return 1;
    }
    double minimum[kPhases];
    MinimumPhaseSeconds(speed, coolDown, minimum);

    printf("whole refresh of battery 1 (90 %% in the 80 %% mode), time scale %.0f, cool-downs "
           "%lu min\n",
           speed, coolDown);
    const RunResult timed = RunRefresh(speed);
    log.Set(1);
    const RunResult counted = RunRefresh(speed);
    log.Set(0);
    SimSetSpeed(1.0);
    if (!timed.ok || !counted.ok) {
        printf("the refresh did not complete\n");
        return 1;
    }

    printf("\n%-12s %12s %12s %8s %12s\n", "phase", "minimum s", "measured s", "ratio",
           "tool delay s");
    double minTotal = 0;
    for (int phase = 0; phase < kPhases; ++phase) {
        minTotal += minimum[phase];
        const double ratio = minimum[phase] > 0 ? timed.phase[phase] / minimum[phase] : 0;
        printf("%-12s %12.2f %12.2f %8.2f %12.2f\n", kPhaseNames[phase], minimum[phase],
               timed.phase[phase], ratio, timed.phase[phase] - minimum[phase]);
    }
    printf("%-12s %12s %12.2f %8s %12.2f\n", "finish", "-", timed.finish, "-", timed.finish);
    printf("%-12s %12.2f %12.2f %8.2f %12.2f\n", "whole", minTotal, timed.total,
           minTotal > 0 ? timed.total / minTotal : 0, timed.total - minTotal);
    printf("(start-up, from the process's start to its first notice: %.2f s)\n", timed.startup);
    printf("\nzbRefresh CPU time: %.2f s with the trace off, %.2f s with it on\n", timed.cpuSeconds,
           counted.cpuSeconds);
    printf("zbRefresh messages (trace on): %s\n", MessageCounts(counted.pid).c_str());
    return 0;
}
