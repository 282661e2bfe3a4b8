// zbwatch: follows a refresh of the simulated notebook as it happens, the
// way a main screen does (pipe 1), with the battery's capacity, temperature
// and firmware switches beside each step, and ends with what the refresh
// left behind: the stored outcome, the battery's refresh date and health.
//
//   zbwatch [1|2]     the battery whose date and health to report (1)
//
// Start it before or together with zbRefresh.exe; it waits up to a minute
// for the refresh tool and ends when the tool has ended. Exit code 0 when
// the refresh completed, 1 otherwise.
#include "battery/battery.h"
#include "common/settings.h"
#include "refresh_observer.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

constexpr DWORD kConnectTimeoutMs = 60000;
constexpr DWORD kPumpMs = 500;
constexpr ULONGLONG kQuietLineMs = 5000;

const char* OutcomeText(DWORD status) {
    switch (status) {
    case 0:
        return "completed";
    case 3:
        return "battery check failed or battery removed";
    case 4:
        return "battery removed while its charge mode was released";
    case 5:
        return "AC adapter missing or unplugged";
    case 6:
        return "resumed from sleep during the refresh";
    case 7:
        return "invalid power or battery status, or a phase failed";
    default:
        return "unknown";
    }
}

const char* HealthText(DWORD health) {
    if (health >= BATTERY_HEALTH_CAUTION)
        return "caution";
    if (health >= BATTERY_HEALTH_WARNING)
        return "warning";
    return "good";
}

class Display {
public:
    Display() : start_(GetTickCount64()) {}

    void OnNotice(const observer::Notice& n) {
        switch (n.message) {
        case WM_USER_REFMODE:
            Line(n.battery, "%-10s", observer::ModeName(n.value));
            break;
        case WM_USER_REFPROGRESS:
            if (n.value == lastProgress_)
                return;
            lastProgress_ = n.value;
            Line(n.battery, "%3lld %% done", n.value);
            break;
        case WM_USER_REFERROR:
            Line(n.battery, "ERROR %lld (%s); acknowledged", n.value,
                 OutcomeText(static_cast<DWORD>(n.value)));
            break;
        default:
            Line(n.battery, "power plan changed by someone else");
            break;
        }
        if (n.battery == 1 || n.battery == 2)
            current_ = n.battery;
    }

    // A line now and then while nothing happens (the cool-downs).
    void OnQuiet() {
        if (GetTickCount64() - lastLine_ >= kQuietLineMs)
            Line(current_, "...");
    }

private:
    template <typename... Args> void Line(UINT battery, const char* format, Args... args) {
        char what[96];
        snprintf(what, sizeof(what), format, args...);
        const sim::Machine m = observer::ReadMachineNow();
        const UINT slot = battery == 2 ? 1 : 0;
        printf("[%6.1f s] battery %u  %-32s %s  AC %s\n", (GetTickCount64() - start_) / 1000.0,
               slot + 1, what, observer::DescribeBattery(m.battery[slot]).c_str(),
               m.acOnline ? "on" : "off");
        fflush(stdout);
        lastLine_ = GetTickCount64();
    }

    UINT current_ = 1;
    ULONGLONG start_;
    ULONGLONG lastLine_ = 0;
    LONGLONG lastProgress_ = -1;
};

// What the refresh left: the outcome, the battery's date and its health.
bool ReportOutcome(UINT battNo) {
    DWORD status = 0;
    const bool stored = SUCCEEDED(GetRegLastRefreshStatus(&status));
    if (stored)
        printf("outcome: LastRefreshStatus %lu (%s)\n", status, OutcomeText(status));
    else
        printf("outcome: nothing stored (the refresh was cancelled)\n");

    CBattery battery(battNo);
    SYSTEMTIME day = {};
    if (SUCCEEDED(battery.GetLastRefreshDay(&day)))
        printf("battery %u (%ls): last refresh %04u/%02u/%02u\n", battNo, battery.GetOWNID(),
               day.wYear, day.wMonth, day.wDay);
    else
        printf("battery %u (%ls): no refresh date stored\n", battNo, battery.GetOWNID());
    const DWORD health = battery.GetBatteryHealth();
    printf("battery %u health: %lu (%s), full-charge capacity %u %% of the rated life\n", battNo,
           health, HealthText(health), battery.GetFullChargeRatio());
    return stored && status == 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const UINT battNo = argc > 1 && _wtoi(argv[1]) == 2 ? 2 : 1;
    observer::RefreshObserver refresh;
    printf("waiting for the refresh tool...\n");
    fflush(stdout);
    if (!refresh.Connect(kConnectTimeoutMs)) {
        printf("no refresh tool appeared\n");
        return 1;
    }
    Display display;
    while (refresh.Pump(kPumpMs, [&](const observer::Notice& n) { display.OnNotice(n); }))
        display.OnQuiet();
    printf("the refresh tool has ended\n");
    return ReportOutcome(battNo) ? 0 : 1;
}
