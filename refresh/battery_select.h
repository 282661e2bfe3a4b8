// Which batteries a refresh run takes, and keeping the other battery of a
// two-battery machine from charging while one is refreshed.
#pragma once

#include <windows.h>

#include "common/util.h"
#include "refresh/refresh_tool.h"

class CBattery;

namespace zbrefresh {

// The tool's two battery objects, battery 1 (main) and 2 (secondary). Both
// exist for the whole process, whether or not the battery is inserted;
// null for any other number.
CBattery* GetRefreshBattery(UINT uiBattNo);

// Queues the batteries the command line asks for ("/b1", "/b2", or all when
// neither is given), battery 1 first, and checks that each can be refreshed
// and that the AC adapter is online. On a failure the outcome (3 or 5) is
// stored, the scheduler is asked to show it, and false is returned.
bool GetRefBattery(RefreshQueue* pQueue);
bool GetRefBattery(RefreshQueue* pQueue, const CommandLineMap& args);

// Asks this user's scheduler (pipe 3) to start the main screen with the
// given RUNMAINDLG_* bits (ipc/pipe.h). Does nothing when no such scheduler listens.
void RunMainDlg(UINT64 code);

// bStop true: saves the other battery's charge mode and sets it to
// "NotChargeLimit". bStop false: writes the saved mode back to the battery
// it was read from, also when the refreshed battery has been taken out.
// 1 on success or when there is nothing to do, else 0.
int StopChargeOtherBattery(CBattery* pBattery, BOOL bStop);

} // namespace zbrefresh
