// Calendar arithmetic on local SYSTEMTIMEs.
#include "common/util.h"

#include "common/log.h"

#include <stdlib.h>

namespace {

// FILETIME units (100 ns) between 1601-01-01 and 1970-01-01, and per second.
constexpr LONGLONG kEpochDifference = 116444736000000000LL;
constexpr LONGLONG kUnitsPerSecond = 10000000LL;

LONGLONG FileTimeToUnits(const FILETIME& ft) {
    ULARGE_INTEGER value = {};
    value.LowPart = ft.dwLowDateTime;
    value.HighPart = ft.dwHighDateTime;
    return static_cast<LONGLONG>(value.QuadPart);
}

FILETIME UnitsToFileTime(LONGLONG units) {
    ULARGE_INTEGER value = {};
    value.QuadPart = static_cast<ULONGLONG>(units);
    FILETIME ft = {value.LowPart, value.HighPart};
    return ft;
}

BOOL AddSeconds(const SYSTEMTIME* pTime, SYSTEMTIME* pResult, LONGLONG llSeconds) {
    LONGLONG seconds = 0;
    if (!SystemTimeToSeconds(pTime, &seconds))
        return FALSE;
    return SecondsToSystemTime(seconds + llSeconds, pResult);
}

} // namespace

int CompareSystemTime(const SYSTEMTIME* pTimeA, const SYSTEMTIME* pTimeB) {
    if (!pTimeA || !pTimeB) {
        LogNullArg(L"CompareSystemTime", __LINE__, !pTimeA ? L"pTimeA" : L"pTimeB");
        return 0;
    }
    FILETIME a = {};
    FILETIME b = {};
    if (!SystemTimeToFileTime(pTimeA, &a) || !SystemTimeToFileTime(pTimeB, &b))
        LogApiFailure(L"CompareSystemTime", __LINE__, L"SystemTimeToFileTime", GetLastError());
    return static_cast<int>(CompareFileTime(&a, &b));
}

BOOL SystemTimeToSeconds(const SYSTEMTIME* pLocalTime, LONGLONG* pllSeconds) {
    if (!pLocalTime || !pllSeconds) {
        LogNullArg(L"SystemTimeToSeconds", __LINE__, !pLocalTime ? L"pLocalTime" : L"pllSeconds");
        return FALSE;
    }
    // The offset in force on that date, not today's: a date across a
    // daylight-saving change keeps its absolute time.
    SYSTEMTIME utc = {};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, pLocalTime, &utc)) {
        LogApiFailure(L"SystemTimeToSeconds", __LINE__, L"TzSpecificLocalTimeToSystemTime",
                      GetLastError());
        return FALSE;
    }
    FILETIME ft = {};
    if (!SystemTimeToFileTime(&utc, &ft)) {
        LogApiFailure(L"SystemTimeToSeconds", __LINE__, L"SystemTimeToFileTime", GetLastError());
        return FALSE;
    }
    *pllSeconds = (FileTimeToUnits(ft) - kEpochDifference) / kUnitsPerSecond;
    return TRUE;
}

BOOL SecondsToSystemTime(LONGLONG llSeconds, SYSTEMTIME* pLocalTime) {
    if (!pLocalTime) {
        LogNullArg(L"SecondsToSystemTime", __LINE__, L"pLocalTime");
        return FALSE;
    }
    const FILETIME ft = UnitsToFileTime(llSeconds * kUnitsPerSecond + kEpochDifference);
    SYSTEMTIME utc = {};
    if (!FileTimeToSystemTime(&ft, &utc)) {
        LogApiFailure(L"SecondsToSystemTime", __LINE__, L"FileTimeToSystemTime", GetLastError());
        return FALSE;
    }
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, pLocalTime)) {
        LogApiFailure(L"SecondsToSystemTime", __LINE__, L"SystemTimeToTzSpecificLocalTime",
                      GetLastError());
        return FALSE;
    }
    return TRUE;
}

BOOL AddMinutes(const SYSTEMTIME* pTime, SYSTEMTIME* pResult, LONGLONG llMinutes) {
    return AddSeconds(pTime, pResult, llMinutes * 60);
}

BOOL AddDays(const SYSTEMTIME* pTime, SYSTEMTIME* pResult, LONGLONG llDays) {
    return AddSeconds(pTime, pResult, llDays * 86400);
}

BOOL AddMonths(const SYSTEMTIME* pTime, SYSTEMTIME* pResult, int nMonths) {
    if (!pTime || !pResult) {
        LogNullArg(L"AddMonths", __LINE__, !pTime ? L"pTime" : L"pResult");
        return FALSE;
    }
    int year = pTime->wYear;
    int month = pTime->wMonth + nMonths;
    if (month > 12) {
        year += month / 12;
        month %= 12;
    }
    // Month 0 is December of the year before, -1 November, and so on.
    if (month <= 0) {
        year -= abs(month / 12) + 1;
        month = 12 - abs(month % 12);
    }
    *pResult = *pTime;
    pResult->wYear = static_cast<WORD>(year);
    pResult->wMonth = static_cast<WORD>(month);
    const int lastDay = GetDaysInMonth(year, month);
    if (pTime->wDay > lastDay)
        pResult->wDay = static_cast<WORD>(lastDay);
    return TRUE;
}

int GetDaysInMonth(int nYear, int nMonth) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (nMonth < 1 || nMonth > 12)
        return 28;
    if (nMonth == 2) {
        const bool leap = (nYear % 400 == 0) || (nYear % 4 == 0 && nYear % 100 != 0);
        return leap ? 29 : 28;
    }
    return kDays[nMonth - 1];
}

BOOL IsValidDate(int nYear, int nMonth, int nDay) {
    // The firmware keeps the year as (year - 1980) in six bits.
    if (nYear < 1980 || nYear > 2043)
        return FALSE;
    if (nMonth < 1 || nMonth > 12)
        return FALSE;
    return nDay >= 1 && nDay <= GetDaysInMonth(nYear, nMonth);
}

BOOL IsPassedDate(int nYears, int nMonths, int nDays, const SYSTEMTIME* pBaseTime,
                  const SYSTEMTIME* pNow) {
    if (!pBaseTime) {
        LogNullArg(L"IsPassedDate", __LINE__, L"pBaseTime");
        return FALSE;
    }
    SYSTEMTIME deadline = *pBaseTime;
    if (nYears != 0 || nMonths != 0) {
        if (!AddMonths(pBaseTime, &deadline, nYears * 12 + nMonths))
            return FALSE;
    }
    if (nDays != 0) {
        SYSTEMTIME moved = {};
        if (!AddDays(&deadline, &moved, nDays))
            return FALSE;
        deadline = moved;
    }
    SYSTEMTIME now = {};
    if (pNow)
        now = *pNow;
    else
        GetLocalTime(&now);
    return CompareSystemTime(&deadline, &now) < 0;
}

BOOL IsPassedMonth(int nMonths, const SYSTEMTIME* pBaseTime, const SYSTEMTIME* pNow) {
    return IsPassedDate(0, nMonths, 0, pBaseTime, pNow);
}

BOOL IsPassedDay(int nDays, const SYSTEMTIME* pBaseTime, const SYSTEMTIME* pNow) {
    return IsPassedDate(0, 0, nDays, pBaseTime, pNow);
}
