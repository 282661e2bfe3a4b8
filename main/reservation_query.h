// What the battery pages show of a reserved refresh: the start time of the
// scheduled task "Battery Refresh <user> <domain>" in the root task folder.
#pragma once

#include <windows.h>

namespace zbmain {

// The reserved refresh task's start time, read through the task layer
// (Task Scheduler 1.0 on Windows XP, 2.0 otherwise). Fails for a missing or
// disabled task. The task's name comes from the strings of hInstance.
HRESULT ReadReservedStartTime(HINSTANCE hInstance, SYSTEMTIME* pStart);

// True when a start time was read and lies after now.
bool IsReservationAhead(HRESULT hrRead, const SYSTEMTIME& start, const SYSTEMTIME& now);

} // namespace zbmain
