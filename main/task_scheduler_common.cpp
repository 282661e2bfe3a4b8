#include "main/task_scheduler.h"
#include "main/task_scheduler_common.h"

#include "common/log.h"
#include "common/util.h"

#include <strsafe.h>

const wchar_t TASK_TRIGGER_ID[] = L"Trigger1";
const wchar_t TASK_IDLE_TIMEOUT[] = L"PT5M";

HRESULT LogFailedCall(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszApi, HRESULT hr) {
    LogApiFailure(lpszFunction, nLine, lpszApi, static_cast<DWORD>(hr));
    return hr;
}

void GetProgramDirectory(LPWSTR lpszDir, size_t cchDir, LPCWSTR lpszFunction) {
    lpszDir[0] = L'\0';
    if (DWORD rc = GetCurrentPath(lpszDir, cchDir)) {
        LogApiFailure(lpszFunction, __LINE__, L"GetCurrentPath", rc);
        lpszDir[0] = L'\0';
    }
}

HRESULT GetSchedulerName(HINSTANCE hInstance, UINT uStringId, LPWSTR lpszTaskName,
                         size_t cchTaskName) {
    if (IsNullArg(lpszTaskName, L"GetSchedulerName", __LINE__, L"lpszTaskName"))
        return E_POINTER;
    if (cchTaskName == 0)
        return E_INVALIDARG;
    lpszTaskName[0] = L'\0';
    wchar_t szText[256] = {};
    if (LoadStringW(hInstance, uStringId, szText, ARRAYSIZE(szText)) <= 0) {
        LogApiFailure(L"GetSchedulerName", __LINE__, L"LoadString", GetLastError());
        return E_FAIL;
    }
    wchar_t szUser[256] = {};
    DWORD cchUser = ARRAYSIZE(szUser);
    if (!GetUserNameW(szUser, &cchUser)) {
        LogApiFailure(L"GetSchedulerName", __LINE__, L"GetUserName", GetLastError());
        return E_FAIL;
    }
    // "DOMAIN\user": the part before the first backslash.
    wchar_t szDomain[256] = {};
    DWORD cchDomain = ARRAYSIZE(szDomain);
    if (GetSamCompatibleName(szDomain, &cchDomain)) {
        if (wchar_t* backslash = wcschr(szDomain, L'\\'))
            *backslash = L'\0';
    } else {
        LogApiFailure(L"GetSchedulerName", __LINE__, L"GetUserNameEx", GetLastError());
        szDomain[0] = L'\0';
    }
    const size_t cch = cchTaskName < 256 ? cchTaskName : 256;
    StringCchPrintfW(lpszTaskName, cch, L"%s %s %s", szText, szUser, szDomain);
    return S_OK;
}
