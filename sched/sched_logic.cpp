#include "sched/sched_logic.h"

#include "common/util.h"
#include "ipc/pipe.h"

#include <strsafe.h>

namespace zbsched {

void BuildMainArguments(UINT64 flags, LPWSTR lpszArgs, size_t cchArgs) {
    if (!lpszArgs || cchArgs == 0)
        return;
    lpszArgs[0] = L'\0';
    if (flags & RUNMAINDLG_SLEEP)
        StringCchCatW(lpszArgs, cchArgs, L"/sleep");
    if (flags & RUNMAINDLG_ICON)
        StringCchCatW(lpszArgs, cchArgs, L" /icon");
    if (flags & RUNMAINDLG_COMP)
        StringCchCatW(lpszArgs, cchArgs, L" /comp");
}

bool IsBalloonDueAt(bool bStored, const SYSTEMTIME& balloon, const SYSTEMTIME& now) {
    return !bStored || IsPassedDay(7, &balloon, &now) != FALSE;
}

bool IsChargeModeRefBalloonDueAt(bool bStored, const SYSTEMTIME& stored, const SYSTEMTIME& last,
                                 int nMonths) {
    if (!bStored)
        return true;
    SYSTEMTIME stageBegin = {};
    if (!AddMonths(&last, &stageBegin, nMonths))
        return true;
    return CompareSystemTime(&stageBegin, &stored) >= 0;
}

ReminderStage GetReminderStage(const SYSTEMTIME& now, const SYSTEMTIME& last,
                               int nRefreshIntervalMonths, bool bReducedMode) {
    SYSTEMTIME t1 = {}, t2 = {}, tN = {};
    AddMonths(&now, &t1, -1);
    AddMonths(&now, &t2, -2);
    AddMonths(&now, &tN, -nRefreshIntervalMonths);
    if (bReducedMode) {
        if (CompareSystemTime(&t1, &last) < 0)
            return ReminderStage::kNone;
        if (CompareSystemTime(&t2, &last) < 0)
            return ReminderStage::kOneMonth;
        if (CompareSystemTime(&tN, &last) < 0)
            return ReminderStage::kTwoMonths;
    }
    return CompareSystemTime(&tN, &last) < 0 ? ReminderStage::kNone : ReminderStage::kOverdue;
}

DWORD ClampRoutineCheckInterval(DWORD dwIntervalMs) {
    if (dwIntervalMs < ROUTINE_INTERVAL_MIN_MS)
        return ROUTINE_INTERVAL_MIN_MS;
    return dwIntervalMs > ROUTINE_INTERVAL_MAX_MS ? ROUTINE_INTERVAL_MAX_MS : dwIntervalMs;
}

bool IsStartDayUnset(const SYSTEMTIME& day) {
    return day.wYear == 0 || day.wYear == 1980 || day.wMonth == 0 || day.wDay == 0;
}

} // namespace zbsched
