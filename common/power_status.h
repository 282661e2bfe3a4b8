// The machine's power status (AC line, battery flags). Every power-status
// read of the suite goes through here.
#pragma once

#include <windows.h>

// The battery device library's view when it offers one (it knows the AC
// adapter and batteries of machines whose drivers Windows lacks), else
// GetSystemPowerStatus.
BOOL GetMachinePowerStatus(SYSTEM_POWER_STATUS* status);
