#include "main/reservation.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/util.h"
#include "main/main_app.h"
#include "main/program_ids.h"
#include "main/task_scheduler.h"

#include <strsafe.h>
#include <wchar.h>

namespace zbmain {

namespace {

constexpr size_t kArgumentsCch = 64;
constexpr size_t kTaskNameCch = 256;

} // namespace

void ReservationUser(LPWSTR lpszUser, size_t cchUser) {
    ULONG cch = static_cast<ULONG>(cchUser);
    if (!GetSamCompatibleName(lpszUser, &cch)) {
        DWORD cchName = static_cast<DWORD>(cchUser);
        GetUserNameW(lpszUser, &cchName);
    }
}

HRESULT ReservationService::AddTask(LPCWSTR lpszPath, LPCWSTR lpszName, const SYSTEMTIME& start,
                                    LPCWSTR lpszArgs, const ReservationRequest& request) {
    WCHAR author[128] = L"";
    WCHAR description[256] = L"";
    LoadStringW(m_hInstance, IDS_TASK_AUTHOR, author, ARRAYSIZE(author));
    LoadStringW(m_hInstance, IDS_TASK_DESCRIPTION, description, ARRAYSIZE(description));
    const ScheduledTask task = {lpszPath, lpszName, author,       description,     start,
                                TRUE,     lpszArgs, request.user, request.password};
    return m_tasks.Add(task);
}

// The trace names are the ones the logs have always carried for the
// reservation's registration and the pages' start-time read.
HRESULT ReservationService::Add(const ReservationRequest& request) {
    if (IsNullArg(request.password, L"ResevationAddTask", __LINE__, L"lpstrPasswd"))
        return E_POINTER;
    if (!request.battery1 && !request.battery2)
        return 1;
    const DWORD battMask =
        (request.battery1 ? RESERVATION_BATT1 : 0) | (request.battery2 ? RESERVATION_BATT2 : 0);

    WCHAR name[kTaskNameCch] = L"";
    WCHAR path[MAX_PATH] = L"";
    WCHAR args[kArgumentsCch] = L"";
    GetSchedulerName(m_hInstance, IDS_TASK_REFRESH, name, ARRAYSIZE(name));
    RefreshToolPath(m_hInstance, path, ARRAYSIZE(path));
    BuildReservationArguments(request.sleep, request.battery1, request.battery2, args,
                              ARRAYSIZE(args));
    HRESULT hr = AddTask(path, name, request.start, args, request);
    if (FAILED(hr))
        return hr;

    const SYSTEMTIME wake = WakeUpTime(request.start, GetRegSleepDelay());
    WCHAR wakeName[kTaskNameCch] = L"";
    GetSchedulerName(m_hInstance, IDS_TASK_WAKEUP, wakeName, ARRAYSIZE(wakeName));
    hr = AddTask(path, wakeName, wake, L"/delay", request);
    if (FAILED(hr))
        return hr;
    const HRESULT hrStore = SetRegRefreshResevation(&request.start, battMask);
    if (FAILED(hrStore))
        WriteErrorLog(IDS_ERR_RESERVATION, ERRLOG_CAPTION_ID, ERRLOG_FILE,
                      static_cast<DWORD>(hrStore), m_hInstance);
    return hr;
}

HRESULT ReservationService::EnableTask(UINT uStringId, BOOL bEnable) {
    WCHAR name[kTaskNameCch] = L"";
    const HRESULT hr = GetSchedulerName(m_hInstance, uStringId, name, ARRAYSIZE(name));
    if (FAILED(hr))
        return hr;
    return m_tasks.Enable(name, bEnable);
}

HRESULT ReservationService::Cancel() {
    const HRESULT hrRefresh = EnableTask(IDS_TASK_REFRESH, FALSE);
    const HRESULT hrWake = EnableTask(IDS_TASK_WAKEUP, FALSE);
    const HRESULT hrStored = DelRegRefreshResevation();
    return FAILED(hrRefresh) || FAILED(hrWake) || FAILED(hrStored) ? E_FAIL : S_OK;
}

void ReservationService::ReadArguments(LPWSTR lpszArgs, size_t cchArgs) {
    lpszArgs[0] = L'\0';
    WCHAR name[kTaskNameCch] = L"";
    if (FAILED(GetSchedulerName(m_hInstance, IDS_TASK_REFRESH, name, ARRAYSIZE(name))))
        return;
    if (FAILED(m_tasks.GetActionArg(name, lpszArgs, cchArgs)))
        lpszArgs[0] = L'\0';
}

HRESULT ReservationService::ReadStart(SYSTEMTIME* pStart) {
    if (IsNullArg(pStart, L"ReadReservedStartTime", __LINE__, L"pStart"))
        return E_POINTER;
    // One task serves both batteries: its name carries only the user.
    WCHAR name[kTaskNameCch] = L"";
    const HRESULT hr = GetSchedulerName(m_hInstance, IDS_TASK_REFRESH, name, ARRAYSIZE(name));
    if (FAILED(hr))
        return hr;
    return m_tasks.GetStartDay(name, pStart);
}

void BuildReservationArguments(bool bSleep, bool bBattery1, bool bBattery2, LPWSTR lpszArgs,
                               size_t cchArgs) {
    StringCchCopyW(lpszArgs, cchArgs, bSleep ? L"/sleep" : L"");
    StringCchCatW(lpszArgs, cchArgs, L" /resv");
    if (bBattery1 && !bBattery2)
        StringCchCatW(lpszArgs, cchArgs, L" /b1");
    else if (bBattery2 && !bBattery1)
        StringCchCatW(lpszArgs, cchArgs, L" /b2");
}

DWORD ReservedBatteriesOf(LPCWSTR lpszArgs) {
    if (!lpszArgs || !lpszArgs[0])
        return 0;
    DWORD bits = 0;
    if (wcsstr(lpszArgs, L"/b1"))
        bits |= RESERVATION_BATT1;
    if (wcsstr(lpszArgs, L"/b2"))
        bits |= RESERVATION_BATT2;
    return bits ? bits : RESERVATION_BATT1 | RESERVATION_BATT2;
}

SYSTEMTIME ReservationLatestDate(const SYSTEMTIME& now) {
    SYSTEMTIME latest = now;
    AddMonths(&now, &latest, 3);
    latest.wDayOfWeek = 0;
    return latest;
}

SYSTEMTIME WakeUpTime(const SYSTEMTIME& start, DWORD dwDelayMinutes) {
    // Through UTC, so that a start just after a daylight-saving change wakes
    // the notebook the full delay before it, not at a local time that does
    // not exist or comes twice.
    SYSTEMTIME wake = {};
    AddMinutes(&start, &wake, -static_cast<LONGLONG>(dwDelayMinutes));
    return wake;
}

} // namespace zbmain
