// The session user of the refresh tool and the record of its last outcome.
#include "ipc/session_user.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/util.h"

#include <shlobj.h>
#include <strsafe.h>
#include <wtsapi32.h>

namespace {

// The session user as recorded at start-up. Written once before any pipe
// thread starts and only read afterwards; the flag is published last, so a
// reader that sees it set also sees the whole name.
WCHAR g_szSessionUserName[USER_NAME_CCH] = {};
volatile LONG g_lSessionUserKnown = 0;

using zb::UniqueWtsText;

DWORD QuerySessionText(WTS_INFO_CLASS infoClass, UniqueWtsText& text) {
    DWORD cbText = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, infoClass,
                                     text.Put(), &cbText))
        return GetLastError();
    return ERROR_SUCCESS;
}

bool IsEmptyText(LPCWSTR lpsz) {
    return !lpsz || lpsz[0] == L'\0';
}

} // namespace

DWORD GetSamCompatibleUserName(LPWSTR lpszUserName, size_t cchUserName) {
    if (!lpszUserName || cchUserName == 0)
        return ERROR_INVALID_PARAMETER;
    ULONG cch = static_cast<ULONG>(cchUserName);
    if (GetSamCompatibleName(lpszUserName, &cch))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    lpszUserName[0] = L'\0';
    return error;
}

DWORD GetPlainUserName(LPWSTR lpszUserName, size_t cchUserName) {
    if (!lpszUserName || cchUserName == 0)
        return ERROR_INVALID_PARAMETER;
    DWORD cch = static_cast<DWORD>(cchUserName);
    if (GetUserNameW(lpszUserName, &cch))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    lpszUserName[0] = L'\0';
    return error;
}

DWORD GetSessionDomainUserName(LPWSTR lpszUserName, size_t cchUserName, DWORD* pdwUserError,
                               DWORD* pdwDomainError) {
    if (!lpszUserName || cchUserName == 0 || !pdwUserError || !pdwDomainError)
        return ERROR_INVALID_PARAMETER;
    UniqueWtsText user;
    UniqueWtsText domain;
    *pdwUserError = QuerySessionText(WTSUserName, user);
    *pdwDomainError = QuerySessionText(WTSDomainName, domain);
    if (*pdwUserError != ERROR_SUCCESS)
        return *pdwUserError;
    if (*pdwDomainError != ERROR_SUCCESS)
        return *pdwDomainError;
    if (IsEmptyText(user.Get()) || IsEmptyText(domain.Get()))
        return ERROR_NO_SUCH_USER;
    // Each text is taken to at most 256 characters, as is the result.
    WCHAR szUser[USER_NAME_CCH] = {};
    WCHAR szDomain[USER_NAME_CCH] = {};
    StringCchCopyW(szUser, ARRAYSIZE(szUser), user.Get());
    StringCchCopyW(szDomain, ARRAYSIZE(szDomain), domain.Get());
    const size_t cch = cchUserName < USER_NAME_CCH ? cchUserName : USER_NAME_CCH;
    StringCchPrintfW(lpszUserName, cch, L"%s\\%s", szDomain, szUser);
    return ERROR_SUCCESS;
}

void RecordSessionUserName(LPCWSTR lpszUserName) {
    if (!lpszUserName) {
        LogNullArg(L"RecordSessionUserName", __LINE__, L"lpszUserName");
        return;
    }
    StringCchCopyW(g_szSessionUserName, ARRAYSIZE(g_szSessionUserName), lpszUserName);
    InterlockedExchange(&g_lSessionUserKnown, 1);
}

BOOL GetSessionUserName(LPWSTR lpszUserName, size_t cchUserName) {
    if (!lpszUserName || cchUserName == 0) {
        LogNullArg(L"GetSessionUserName", __LINE__, L"lpszUserName");
        return FALSE;
    }
    lpszUserName[0] = L'\0';
    if (InterlockedCompareExchange(&g_lSessionUserKnown, 0, 0) == 0)
        return FALSE;
    StringCchCopyW(lpszUserName, cchUserName, g_szSessionUserName);
    return TRUE;
}

DWORD SetSessionUserName(LPWSTR lpszUserName, size_t cchUserName) {
    if (!lpszUserName || cchUserName == 0) {
        LogNullArg(L"SetSessionUserName", __LINE__, L"lpszUserName");
        return ERROR_INVALID_PARAMETER;
    }
    lpszUserName[0] = L'\0';
    DWORD userError = 0;
    DWORD domainError = 0;
    const DWORD sessionError =
        GetSessionDomainUserName(lpszUserName, cchUserName, &userError, &domainError);
    if (userError != ERROR_SUCCESS)
        WriteLog(L"SetSessionUserName", __LINE__,
                 L"Fail to WTSQuerySessionInformation(.., WTSUserName, ..). dwRet: %08x.\n",
                 userError);
    if (domainError != ERROR_SUCCESS)
        WriteLog(L"SetSessionUserName", __LINE__,
                 L"Fail to WTSQuerySessionInformation(.., WTSDomainName, ..). dwRet: %08x.\n",
                 domainError);
    if (sessionError == ERROR_SUCCESS) {
        RecordSessionUserName(lpszUserName);
        return ERROR_SUCCESS;
    }

    DWORD lastError = domainError != ERROR_SUCCESS ? domainError : userError;
    const DWORD samError = GetSamCompatibleUserName(lpszUserName, cchUserName);
    if (samError == ERROR_SUCCESS)
        return lastError;
    WriteLog(L"SetSessionUserName", __LINE__, L"Fail to GetUserNameEx(). dwRet: %08x.\n", samError);
    lastError = samError;
    const DWORD plainError = GetPlainUserName(lpszUserName, cchUserName);
    if (plainError != ERROR_SUCCESS) {
        LogApiFailure(L"SetSessionUserName", __LINE__, L"GetUserNameW", plainError);
        lastError = plainError;
    }
    return lastError;
}

DWORD SetSessionUserNameForAdmin(LPWSTR lpszUserName, size_t cchUserName) {
    if (!lpszUserName || cchUserName == 0) {
        LogNullArg(L"SetSessionUserNameForAdmin", __LINE__, L"lpszUserName");
        return ERROR_INVALID_PARAMETER;
    }
    if (IsUserAnAdmin())
        return SetSessionUserName(lpszUserName, cchUserName);
    WriteLog(L"SetSessionUserNameForAdmin", __LINE__,
             L"Fail to IsUserAnAdmin(). An user does not have administrator permission.");
    lpszUserName[0] = L'\0';
    return ERROR_SUCCESS;
}

void SetLastRefreshStatus(HWND /*hWnd*/, DWORD dwStatus) {
    WriteLog(L"SetLastRefreshStatus", __LINE__,
             L"====================SetLastRefreshStatus status=%x\n", dwStatus);

    WCHAR szUser[256] = {};
    const DWORD samError = GetSamCompatibleUserName(szUser, ARRAYSIZE(szUser));
    if (samError != ERROR_SUCCESS) {
        WriteLog(L"SetLastRefreshStatus", __LINE__,
                 L"Fail to GetUserNameEx(). Try GetUserName(). ErrorCode: %08x.", samError);
        const DWORD plainError = GetPlainUserName(szUser, ARRAYSIZE(szUser));
        if (plainError != ERROR_SUCCESS)
            WriteLog(L"SetLastRefreshStatus", __LINE__, L"Fail to GetUserName(). ErrorCode: %08x.",
                     plainError);
    }

    // The error log names the failure; the refresh goes on either way.
    HRESULT hr = SetRegLastRefreshUser(szUser);
    if (FAILED(hr))
        WriteErrorLog(ERRLOG_ID_LAST_REFRESH_STATUS, ERRLOG_CAPTION_ID, ERRLOG_FILE,
                      static_cast<DWORD>(hr), GetModuleHandleW(nullptr));
    hr = SetRegLastRefreshStatus(dwStatus);
    if (FAILED(hr))
        WriteErrorLog(ERRLOG_ID_LAST_REFRESH_STATUS, ERRLOG_CAPTION_ID, ERRLOG_FILE,
                      static_cast<DWORD>(hr), GetModuleHandleW(nullptr));

    WriteLog(L"SetLastRefreshStatus", __LINE__, L"最終ステータス ユーザー名=%s / ステータス=%x\n",
             szUser, dwStatus);
}
