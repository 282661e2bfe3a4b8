// The diagnosis result of both batteries, as the diagnosis page and the
// completed dialog show it.
#pragma once

#include <windows.h>

#include "battery/battery.h"

namespace zbmain {

// Texts and picture of one health class.
struct HealthClassView {
    UINT uStatusId;  // status text
    UINT uMessageId; // message line
    UINT uBitmapId;  // picture
    bool bWarning;   // replace the battery: its charging is switched off
};

// 0 good, 10 deteriorated, anything else (20) the warning class.
HealthClassView HealthClassViewOf(DWORD dwHealth);

// Fills the result controls of hDlg (status texts, pictures, last refresh
// dates where the dialog has them, the message and the warning picture) and
// switches charging off for a battery in the warning class unless it is
// already protected. Controls the dialog lacks are left out.
void SetResultDlgInfo(HWND hDlg, const CBatteryArray* pBatteryArray);

} // namespace zbmain
