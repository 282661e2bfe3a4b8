#include "refresh/refresh_events.h"

#include "battery/battery.h"
#include "common/log.h"

#include <strsafe.h>

namespace zbrefresh {

namespace {

constexpr size_t kEventTextCch = 256;

// The capacity as the firmware reports it now; false when it cannot.
bool ReadFullChargeCapacity(CBattery* pBattery, DWORD* pdwFcc) {
    if (!pBattery || FAILED(pBattery->RefreshBBIF()))
        return false;
    *pdwFcc = pBattery->GetBBIF().dwFCC;
    return true;
}

void Report(DWORD dwEventId, WORD wType, LPCWSTR lpszText) {
    const DWORD error = WriteEventLogEntry(lpszText, dwEventId, wType);
    if (error != ERROR_SUCCESS)
        WriteLog(L"ReportRefreshEvent", __LINE__, L"Fail to report event %lu. ErrorCode: %08x.\n",
                 dwEventId, error);
}

void ReportOutcome(CBattery* pBattery, RefreshEventRecord* pRecord, DWORD dwEventId, WORD wType,
                   LONG lStatus) {
    DWORD after = 0;
    const bool known = ReadFullChargeCapacity(pBattery, &after);
    WCHAR text[kEventTextCch] = {};
    FormatRefreshEvent(dwEventId, lStatus, pBattery->GetBattNo(), pRecord->fccBefore, known, after,
                       text, ARRAYSIZE(text));
    Report(dwEventId, wType, text);
    pRecord->open = false;
}

} // namespace

void FormatRefreshEvent(DWORD dwEventId, LONG lStatus, UINT uiBattNo, DWORD dwFccBefore,
                        bool bAfterKnown, DWORD dwFccAfter, LPWSTR lpszText, size_t cchText) {
    if (dwEventId == EVENT_REFRESH_STARTED) {
        StringCchPrintfW(lpszText, cchText,
                         L"Refresh started. Battery: %u. Full-charge capacity: %lu.", uiBattNo,
                         dwFccBefore);
        return;
    }
    WCHAR after[16] = L"unknown";
    if (bAfterKnown)
        StringCchPrintfW(after, ARRAYSIZE(after), L"%lu", dwFccAfter);
    WCHAR head[64] = {};
    if (dwEventId == EVENT_REFRESH_CLOSED)
        StringCchCopyW(head, ARRAYSIZE(head), L"Refresh closed before its end.");
    else
        StringCchPrintfW(head, ARRAYSIZE(head), L"Refresh %s. Status: %ld.",
                         dwEventId == EVENT_REFRESH_COMPLETED ? L"completed" : L"aborted", lStatus);
    StringCchPrintfW(lpszText, cchText,
                     L"%s Battery: %u. Full-charge capacity before: %lu. After: %s.", head,
                     uiBattNo, dwFccBefore, after);
}

void ReportRefreshStarted(CBattery* pBattery, RefreshEventRecord* pRecord) {
    if (IsAnyNullArg({{pBattery, L"pBattery"}, {pRecord, L"pRecord"}}, L"ReportRefreshStarted",
                     __LINE__))
        return;
    pRecord->fccBefore = 0;
    ReadFullChargeCapacity(pBattery, &pRecord->fccBefore);
    WCHAR text[kEventTextCch] = {};
    FormatRefreshEvent(EVENT_REFRESH_STARTED, 0, pBattery->GetBattNo(), pRecord->fccBefore, false,
                       0, text, ARRAYSIZE(text));
    Report(EVENT_REFRESH_STARTED, EVENTLOG_INFORMATION_TYPE, text);
    pRecord->open = true;
}

void ReportRefreshCompleted(CBattery* pBattery, RefreshEventRecord* pRecord) {
    if (IsAnyNullArg({{pBattery, L"pBattery"}, {pRecord, L"pRecord"}}, L"ReportRefreshCompleted",
                     __LINE__) ||
        !pRecord->open)
        return;
    ReportOutcome(pBattery, pRecord, EVENT_REFRESH_COMPLETED, EVENTLOG_INFORMATION_TYPE, 0);
}

void ReportRefreshEnded(CBattery* pBattery, RefreshEventRecord* pRecord, bool bAborted,
                        LONG lStatus) {
    if (!pBattery || !pRecord || !pRecord->open)
        return;
    ReportOutcome(pBattery, pRecord, bAborted ? EVENT_REFRESH_ABORTED : EVENT_REFRESH_CLOSED,
                  EVENTLOG_WARNING_TYPE, lStatus);
}

} // namespace zbrefresh
