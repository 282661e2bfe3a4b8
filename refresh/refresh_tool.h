// What the parts of the refresh tool share: the battery queue, the
// process-wide start-up state, the window messages and the refresh modes.
#pragma once

#include <windows.h>

#include <deque>

class CBattery;

namespace zbrefresh {

// Batteries of this run, front first; battery 1 always before battery 2.
using RefreshQueue = std::deque<CBattery*>;

// Refresh modes, carried in the mode notice.
enum RefreshModeValue : int {
    REFRESH_MODE_ERROR = -1,
    REFRESH_MODE_CHARGING1 = 0,
    REFRESH_MODE_REFRESHING = 1,
    REFRESH_MODE_COOLDOWN1 = 2,
    REFRESH_MODE_COOLDOWN2 = 3,
    REFRESH_MODE_CHARGING2 = 4,
    REFRESH_MODE_DONE = 5,
};

// Messages of the refresh window to itself.
constexpr UINT WM_USER_REFPROC = 0x8401;         // one tick of the phase machine
constexpr UINT WM_USER_REFEND = 0x8406;          // clean-up
constexpr UINT WM_USER_POWERCFGCHANGED = 0x8701; // XP power configuration watcher

// Timers of the refresh window.
constexpr UINT_PTR REFRESH_TIMER_TICK = 1;  // next look of the current phase
constexpr UINT_PTR REFRESH_TIMER_WATCH = 2; // XP: battery percentage watch
constexpr UINT_PTR REFRESH_TIMER_CLOSE = 3; // close after an unanswered error
constexpr UINT REFRESH_CLOSE_TIMEOUT_MS = 180000;

// Start-up state of the process, set by wWinMain before the window exists.
struct RefreshStartup {
    HINSTANCE instance = nullptr;
    bool switchSleep = false;  // "/sleep"
    bool switchResv = false;   // "/resv"
    bool switchNoMain = false; // "/nomain"
    bool traceEnabled = false; // "Log" read once after the window exists
};
RefreshStartup& GetRefreshStartup();

} // namespace zbrefresh
