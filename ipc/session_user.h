// Whose programs talk over the pipes, and the outcome of the last refresh.
//
// The refresh tool may run elevated or from a scheduled task while the
// programs of the logged-on user talk to it. At start-up it determines the
// interactive session's user once (SetSessionUserNameForAdmin); its pipe-2
// server then answers the user-name request with that name, so that the
// peers' PipeCheckUser compares like with like.
#pragma once

#include <windows.h>

// 256 UTF-16 characters and the terminator.
constexpr size_t USER_NAME_CCH = 257;

// Error-log entry for a failed write of the last refresh status or user.
constexpr UINT ERRLOG_ID_LAST_REFRESH_STATUS = 114;

// For an administrator SetSessionUserName; otherwise the buffer is left
// empty and 0 returned. 87 (ERROR_INVALID_PARAMETER) for a null buffer.
DWORD SetSessionUserNameForAdmin(LPWSTR lpszUserName, size_t cchUserName = USER_NAME_CCH);

// "<domain>\<user>" of the current terminal-services session, recorded as
// the process's session user; when the session does not give both texts,
// the process user's SAM-compatible name (or plain name), not recorded.
// 0 or the last Win32 error met; 87 for a null buffer.
DWORD SetSessionUserName(LPWSTR lpszUserName, size_t cchUserName = USER_NAME_CCH);

// The recorded session user: TRUE and the name, or FALSE and an empty text
// when none was recorded.
BOOL GetSessionUserName(LPWSTR lpszUserName, size_t cchUserName);

// Records a session user name for the pipe server to hand out. Written once
// at start-up (SetSessionUserName calls it), before any pipe thread runs.
void RecordSessionUserName(LPCWSTR lpszUserName);

// The process user as "<domain>\<user>" (GetUserNameExW NameSamCompatible)
// or as the plain name (GetUserNameW). 0 or the Win32 error; the buffer is
// an empty text on failure. Neither logs: each caller words its own trace.
DWORD GetSamCompatibleUserName(LPWSTR lpszUserName, size_t cchUserName);
DWORD GetPlainUserName(LPWSTR lpszUserName, size_t cchUserName);

// "<domain>\<user>" of the current session when both texts are non-empty.
// 0 on success; otherwise the error of the failed query (reported in
// *pdwUserError / *pdwDomainError, 0 for a query that worked), or
// ERROR_NO_SUCH_USER when a text was empty.
DWORD GetSessionDomainUserName(LPWSTR lpszUserName, size_t cchUserName, DWORD* pdwUserError,
                               DWORD* pdwDomainError);

// Stores the outcome of a refresh run in HKCU: "LastRefreshUser" (the
// process user, SAM-compatible form or plain name) and "LastRefreshStatus".
// A failed write goes to the error log (entry 114). hWnd is not used.
void SetLastRefreshStatus(HWND hWnd, DWORD dwStatus);
