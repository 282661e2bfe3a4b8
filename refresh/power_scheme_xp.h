// The refresh tool's power scheme on Windows XP: applied when the refresh
// window is created, asked for again by the main screen and given back at
// the end; a watcher thread reports changes of the power configuration to
// the refresh window. The scheme classes are common/powerplan's.
#pragma once

#include <windows.h>

#include "common/powerplan/power_scheme_xp.h"

namespace zbrefresh {

using zbpower::CPowerSchemeArrayXP;
using zbpower::CPowerSchemeXP;
using zbpower::POWER_SCHEME_NONE;

// Applies the refresh scheme when a refresh starts: writes it when none of
// that name exists, activates it and saves the user's scheme. Error-log
// entries 104 and 105 with the texts of hWnd's module.
void ApplyRefreshPowerSchemeXP(HWND hWnd);
// The main screen asks for the refresh scheme again: 0 or the error.
DWORD ActivateRefreshPowerSchemeXP();
// Clean-up: the user's scheme becomes active again and the refresh scheme
// is deleted (its index stays stored for the next run).
void RestorePowerSchemeXP(HWND hWnd);
// True when the active scheme is the refresh scheme (index and name).
bool IsRefreshPowerSchemeActiveXP();

// The watcher of HKCU "Control Panel\PowerCfg": after every change while
// another scheme than the refresh scheme is active it sends
// WM_USER_POWERCFGCHANGED to the window. FALSE (with error-log entry 124)
// when the thread cannot be started.
BOOL StartPowerSchemeNotifyThread(HWND hWnd);
// Stops the watcher and waits for it (at most 5.5 s), serving the messages
// it sends to this thread's windows meanwhile.
void EndPowerSchemeNotifyThread();

} // namespace zbrefresh
