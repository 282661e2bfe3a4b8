// The refresh's start and outcome in the Application event log, from the
// suite's event source "VADOVUR", so that a fleet's event collection
// (Windows Event Forwarding, say) sees every notebook's refreshes. The ids
// and texts are documented for administrators (docs/fleet.md) and fixed:
// collection rules select on them.
#pragma once

#include <windows.h>

#include <stddef.h>

class CBattery;

namespace zbrefresh {

constexpr DWORD EVENT_REFRESH_STARTED = 1000;   // information
constexpr DWORD EVENT_REFRESH_COMPLETED = 1001; // information, status 0
constexpr DWORD EVENT_REFRESH_ABORTED = 1002;   // warning, with the abort's status code
constexpr DWORD EVENT_REFRESH_CLOSED = 1003;    // warning: closed on request before its end

// One battery's refresh between its start event and its outcome event.
struct RefreshEventRecord {
    bool open = false;   // the start was reported, the outcome not yet
    DWORD fccBefore = 0; // full-charge capacity at the start
};

// The entry's text:
//   1000 "Refresh started. Battery: 1. Full-charge capacity: 4400."
//   1001 "Refresh completed. Status: 0. Battery: 1. Full-charge capacity
//         before: 4400. After: 4520."
//   1002 "Refresh aborted. Status: 5. Battery: 1. ..." (as 1001)
//   1003 "Refresh closed before its end. Battery: 1. ..." (as 1001)
// bAfterKnown false writes "unknown" for the capacity after (a battery that
// was taken out cannot tell).
void FormatRefreshEvent(DWORD dwEventId, LONG lStatus, UINT uiBattNo, DWORD dwFccBefore,
                        bool bAfterKnown, DWORD dwFccAfter, LPWSTR lpszText, size_t cchText);

// The battery's refresh begins: the start event, with its capacity now.
void ReportRefreshStarted(CBattery* pBattery, RefreshEventRecord* pRecord);
// The battery's refresh is done: the completion event.
void ReportRefreshCompleted(CBattery* pBattery, RefreshEventRecord* pRecord);
// The tool's clean-up: a battery whose start was reported without an
// outcome gets its abort (bAborted, with the status stored) or closing
// event. Nothing when the outcome was reported.
void ReportRefreshEnded(CBattery* pBattery, RefreshEventRecord* pRecord, bool bAborted,
                        LONG lStatus);

} // namespace zbrefresh
