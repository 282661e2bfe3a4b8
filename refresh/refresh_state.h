// State of the hidden refresh window: the phase machine's data and the
// window's own objects (pipes, power plan, notifications). One object per
// refresh window, handed over at its creation, reached through
// zb::WindowState and freed after WM_NCDESTROY. The pipe-2 threads read the
// mode and progress from it to the last moment: pipeRef is declared after
// phase, so it is destroyed first and joins those threads before the data
// they read goes.
#pragma once

#include <windows.h>

#include <memory>

#include "battery/history.h"
#include "ipc/pipe.h"
#include "refresh/brightness.h"
#include "refresh/power_plan.h"
#include "refresh/refresh_events.h"
#include "refresh/refresh_tool.h"

class CBattery;

namespace zbrefresh {

// When a battery's cool-down phase first ticked; kept for the whole run.
struct CoolDownClock {
    bool started = false;
    SYSTEMTIME start = {};
};

// What the phase handlers work on. The mode, progress and battery number
// live in `live`, which the pipe-2 server threads read without a lock;
// everything else is touched on the window's thread only.
struct RefreshPhaseState {
    RefreshLiveState live;       // battery (1 or 2), mode (RefreshModeValue), progress
    CBattery* battery = nullptr; // front of the queue
    BYTE capacity = 0;           // remaining percent, refreshed each tick

    DWORD savedChargeMode = 0;       // as read at the battery's start; normalised on restore
    bool chargeModeReleased = false; // the tool wrote 0 and has not restored it yet
    bool chargeModeMarked = false;   // the mode read at the start had bit 7 set

    bool suspended = false;  // slept while discharging or cooling down
    bool errorArmed = false; // an abort asked for its notice to be repeated (ticks after an
                             // abort no longer run, so nothing repeats it now)
    LONG errorCode = 0;
    // An abort was decided and its notice sent: from then on no phase step
    // runs (a step could finish or fail the battery and store another
    // outcome), no further notice goes out, and only then is the main
    // screen's acknowledgement a reason to close.
    bool aborted = false;
    LONG abortStatus = 0;           // the status of that abort
    bool closeTimerRunning = false; // timer 3 runs; never pushed back once started

    CoolDownClock coolDown1[2]; // by battery number - 1
    CoolDownClock coolDown2[2];
    bool chargingSeen = false; // CHARGING2 has found this battery charging

    // The battery's discharge began and its "refresh-start" history row was
    // written (or tried): its "refresh-end" row is due, once. The start row
    // stands in for figures the end can no longer read (a battery taken out).
    bool historyOpen = false;
    zbhistory::HistoryRow historyStart;
    RefreshEventRecord events; // the event-log entries of the battery's refresh
};

// The refresh window's own objects, created with the window.
struct RefreshWindowState {
    RefreshQueue* queue = nullptr; // the start-up code's; lives as long as the process
    RefreshPhaseState phase;
    bool sleepSwitch = false; // started with "/sleep" (answered to WM_USER_REFQUERY)

    // Armed at creation and by each re-apply request of the main screen;
    // one power plan notice per arming.
    bool powerPlanNoticeArmed = false;
    bool cleanedUp = false; // the clean-up ran (it runs once)

    // Power-setting registrations (not on XP).
    HPOWERNOTIFY battPercentNotify = nullptr;
    HPOWERNOTIFY acdcNotify = nullptr;
    HPOWERNOTIFY activeSchemeNotify = nullptr;

    // Pipe 1: notices to every main screen. Never null; the clean-up swaps
    // in an idle endpoint so that the old one's connections close.
    std::unique_ptr<CPipeToDlg> pipeDlg = std::make_unique<CPipeToDlg>();
    CPipeToRef pipeRef; // pipe 2: requests and queries

    CPowerScheme refreshPlan;        // Vista and later
    CBrightnessControlXP brightness; // XP
};

} // namespace zbrefresh
