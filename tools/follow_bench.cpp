// zbfollowbench: how long the main screen's refresh window takes to show
// what the refresh tool reports. It starts refreshes from the real main
// screen as a person does, listens on pipe 1 beside it, and for each mode
// and progress notice measures the time until the refresh dialog shows it
// (the step labels, the percentage), and from the last notice to the
// completion window.
//
//   zbfollowbench [rounds] [speed]      (defaults 3 and 2000)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "main_ui/main_ui_support.h"
#include "refresh_observer.h"
#include "support/suite_env.h"
#include "support/ui_driver.h"

namespace {

constexpr wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";
constexpr wchar_t kRefreshKey[] = L"SOFTWARE\\ZEL\\VADOvur\\Refresh";
constexpr DWORD kRunTimeoutMs = 10 * 60 * 1000;
constexpr ULONGLONG kShowTimeoutMs = 5000;

// The enabled step labels for a mode (bit 0 step 1 ... bit 2 step 3).
int LabelsOf(LONGLONG mode) {
    if (mode == 0)
        return 1;
    if (mode >= 1 && mode <= 3)
        return 2;
    return mode == 4 ? 4 : -1;
}

int LabelsShown(HWND dialog) {
    const int ids[3] = {IDC_STEP_LABEL1, IDC_STEP_LABEL2, IDC_STEP_LABEL3};
    int labels = 0;
    for (int i = 0; i < 3; ++i)
        labels |= ui::IsEnabled(dialog, ids[i]) ? 1 << i : 0;
    return labels;
}

struct Waiting {
    bool mode; // else progress
    int shown; // labels or percent to wait for
    ULONGLONG tick;
};

struct Figures {
    std::vector<double> modes, progress, first, completion;
};

void Print(const char* what, std::vector<double> ms) {
    if (ms.empty()) {
        printf("  %-34s no samples\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    printf("  %-34s median %7.1f ms  min %7.1f  max %7.1f  (%zu)\n", what, ms[ms.size() / 2],
           ms.front(), ms.back(), ms.size());
}

bool SetUpMachine() {
    if (SimSetupProfile(L"one") != 0)
        return false;
    return sim::Modify([](sim::Machine& m) -> DWORD {
               m.battery[0].remaining = m.battery[0].fullChargeCapacity * 0.90;
               m.battery[0].chargeLatched = 0;
               m.speed = 0;
               return 0;
           }) == 0;
}

// One refresh from the Start button of battery 1 to the completion window.
bool RunOnce(double speed, Figures* figures) {
    if (!SetUpMachine())
        return false;
    ui::Program main(L"zbMain.exe", L"");
    if (!mainui::ConfirmInCopy(main))
        return false;
    const ULONGLONG started = GetTickCount64();
    HWND refreshWindow = ui::WaitForWindow(main.Id(), L"RefreshWnd", nullptr);
    HWND dialog =
        refreshWindow ? FindWindowExW(refreshWindow, nullptr, L"#32770", nullptr) : nullptr;
    observer::RefreshObserver listener;
    if (!dialog || !listener.Connect(ui::kWaitMs))
        return false;
    // The first report comes from the window's own query of the tool.
    testenv::WaitUntil([&] { return LabelsShown(dialog) == 1; }, ui::kWaitMs, 1);
    figures->first.push_back(static_cast<double>(GetTickCount64() - started));
    if (SimSetSpeed(speed) != 0)
        return false;

    // Only what changes the display counts: the three discharge modes share
    // a drawing, and a repeated percentage shows at once.
    std::deque<Waiting> waiting;
    ULONGLONG lastNotice = 0;
    int lastLabels = 1;
    int lastPercent = -1;
    const ULONGLONG deadline = GetTickCount64() + kRunTimeoutMs;
    while (IsWindow(dialog) && GetTickCount64() < deadline) {
        listener.Pump(1, [&](const observer::Notice& notice) {
            lastNotice = notice.tick;
            const int value = static_cast<int>(notice.value);
            if (notice.message == WM_USER_REFMODE && LabelsOf(value) >= 0 &&
                LabelsOf(value) != lastLabels) {
                lastLabels = LabelsOf(value);
                waiting.push_back({true, lastLabels, notice.tick});
            } else if (notice.message == WM_USER_REFPROGRESS && value != lastPercent) {
                lastPercent = value;
                waiting.push_back({false, value, notice.tick});
            }
        });
        if (waiting.empty())
            continue;
        const int labels = LabelsShown(dialog);
        const std::wstring percent = ui::Text(dialog, IDC_PERCENT);
        const ULONGLONG now = GetTickCount64();
        while (!waiting.empty()) {
            const Waiting& next = waiting.front();
            const bool shown =
                next.mode ? labels == next.shown : _wtoi(percent.c_str()) == next.shown;
            if (shown)
                (next.mode ? figures->modes : figures->progress)
                    .push_back(static_cast<double>(now - next.tick));
            else if (now - next.tick < kShowTimeoutMs)
                break;
            waiting.pop_front();
        }
    }
    HWND complete = ui::WaitForWindow(main.Id(), L"CompleteWnd", nullptr);
    if (complete && lastNotice)
        figures->completion.push_back(static_cast<double>(GetTickCount64() - lastNotice));
    if (!complete)
        return false;
    PostMessageW(complete, WM_CLOSE, 0, 0);
    PostMessageW(ui::FindTopWindow(main.Id(), L"zbMain", mainui::kTitle), WM_CLOSE, 0, 0);
    main.Wait();
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? _wtoi(argv[1]) : 3;
    const double speed = argc > 2 ? _wtof(argv[2]) : 2000.0;
    if (rounds <= 0 || speed <= 0) {
        printf("usage: zbfollowbench [rounds] [speed]\n");
        return 2;
    }
    using observer::SavedSetting;
    SavedSetting readMe(HKEY_CURRENT_USER, kSuiteKey, L"ReadMeCheck", 1);
    SavedSetting log(HKEY_LOCAL_MACHINE, kRefreshKey, L"Log", 0);
    SavedSetting coolDownTime(HKEY_LOCAL_MACHINE, kRefreshKey, L"RefreshCoolDownTime", 0);
    SavedSetting coolDownLimit(HKEY_LOCAL_MACHINE, kRefreshKey, L"RefreshCoolDownLimit", 0);
    SavedSetting adchDelay(HKEY_LOCAL_MACHINE, kRefreshKey, L"ADCHDelay", 0);

    printf("refresh window: from a notice of the refresh tool (pipe 1) to its display, %d "
           "refreshes of battery 1 at time scale %.0f\n",
           rounds, speed);
    Figures figures;
    for (int i = 0; i < rounds; ++i) {
        if (!RunOnce(speed, &figures)) {
            printf("  refresh %d did not run to its completion window\n", i + 1);
            return 1;
        }
    }
    Print("phase change -> step labels", figures.modes);
    Print("progress -> percentage", figures.progress);
    Print("Yes -> first phase shown", figures.first);
    Print("last notice -> completion window", figures.completion);
    return 0;
}
