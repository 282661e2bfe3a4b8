// What the demo's progress display (zbwatch) and the refresh benchmark
// (zbbench) share: following a running refresh as a main screen does, on
// pipe 1, and describing the simulated notebook's batteries.
#pragma once

#include <windows.h>

#include "common/reg.h"
#include "ipc/pipe.h"
#include "sim/machine.h"

#include <functional>
#include <string>

namespace observer {

// One notice of the refresh tool, with the moment it was taken off the
// queue (GetTickCount64).
struct Notice {
    UINT message; // WM_USER_REFMODE, WM_USER_REFPROGRESS, ...
    UINT battery;
    LONGLONG value; // mode, percent or reason
    ULONGLONG tick;
};

// A main screen's view of the refresh: connects to pipe 1 as soon as the
// tool listens and hands every notice to the callback. An error notice is
// acknowledged at once on pipe 2, as the main screen's refresh window
// does, so the tool closes without waiting for its time-out.
class RefreshObserver {
public:
    RefreshObserver();
    ~RefreshObserver();
    RefreshObserver(const RefreshObserver&) = delete;
    RefreshObserver& operator=(const RefreshObserver&) = delete;

    // Tries to connect until timeoutMs passes; true when connected.
    bool Connect(DWORD timeoutMs);
    // Handles notices for up to waitMs (fewer when one came); false once
    // the refresh tool has ended.
    bool Pump(DWORD waitMs, const std::function<void(const Notice&)>& onNotice);

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    CPipeClient pipe_;
    std::function<void(const Notice&)> onNotice_;
};

// A DWORD setting as it was, put back when the object goes.
class SavedSetting {
public:
    SavedSetting(HKEY root, const wchar_t* key, const wchar_t* name, DWORD value)
        : root_(root), key_(key), name_(name) {
        had_ = SUCCEEDED(CReg::GetDW(root_, key_, name_, &old_));
        Set(value);
    }
    ~SavedSetting() {
        if (had_)
            CReg::SetDW(root_, key_, name_, old_);
        else
            CReg::DeleteValue(root_, key_, name_);
    }
    SavedSetting(const SavedSetting&) = delete;
    SavedSetting& operator=(const SavedSetting&) = delete;
    void Set(DWORD value) { CReg::SetDW(root_, key_, name_, value); }

private:
    HKEY root_;
    const wchar_t* key_;
    const wchar_t* name_;
    DWORD old_ = 0;
    bool had_ = false;
};

// True while a refreshing zbRefresh.exe runs (its single-instance mutex).
bool IsRefreshToolRunning();

// "CHARGING1", "REFRESHING", ..., "DONE", "ERROR".
const char* ModeName(LONGLONG mode);

// "42 %  31.5 C  charging +12.0 W  ADPC 1 CHGC 1  mode 80" for a battery.
std::string DescribeBattery(const sim::Battery& b);

// The machine now; a zeroed machine when it cannot be read.
sim::Machine ReadMachineNow();

} // namespace observer
