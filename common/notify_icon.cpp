#include "common/notify_icon.h"

#include "common/log.h"

#include <strsafe.h>

namespace {

// Vista's additions, which XP-level headers do not name. The record is
// sized by the headers the program is built with; the shell of every
// version takes the sizes it knows.
constexpr UINT kShowTip = 0x80; // NIF_SHOWTIP
constexpr UINT kVersion4 = 4;   // NOTIFYICON_VERSION_4
constexpr UINT kTimeoutMs = 30000;

// A shell that stays busy gets this many tries, a second apart, before the
// add gives up; a shell that answers late in that time still gets the icon.
constexpr int kMaxTimeoutRetries = 60;

// The shell's error for a failed call. Its error is not always in the last
// error (it can answer FALSE and leave 0), so a failure is never reported
// as success.
DWORD NotifyIconError() {
    const DWORD dwError = GetLastError();
    return dwError != ERROR_SUCCESS ? dwError : static_cast<DWORD>(E_FAIL);
}

bool CallShell(DWORD dwMessage, NOTIFYICONDATAW* pNotif, DWORD* pdwError) {
    SetLastError(ERROR_SUCCESS);
    if (Shell_NotifyIconW(dwMessage, pNotif)) {
        *pdwError = ERROR_SUCCESS;
        return true;
    }
    *pdwError = NotifyIconError();
    return false;
}

// Icon id 0 of the window, its callback message, flags and picture.
DWORD PrepareRecord(HWND hWnd, UINT uFlags, UINT uCallback, UINT uIconId, LPCWSTR lpszFunction,
                    NOTIFYICONDATAW* pNotif) {
    pNotif->cbSize = sizeof(NOTIFYICONDATAW);
    pNotif->hWnd = hWnd;
    pNotif->uID = 0;
    pNotif->uFlags = uFlags;
    pNotif->uCallbackMessage = uCallback;
    const HINSTANCE hInstance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hWnd, GWLP_HINSTANCE));
    // Shared: the system frees it with the module, the record never does.
    const HANDLE hIcon =
        LoadImageW(hInstance, MAKEINTRESOURCEW(uIconId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    if (!hIcon) {
        const DWORD dwError = GetLastError();
        LogApiFailure(lpszFunction, __LINE__, L"LoadImage", dwError);
        return dwError != ERROR_SUCCESS ? dwError : ERROR_RESOURCE_NAME_NOT_FOUND;
    }
    pNotif->hIcon = static_cast<HICON>(hIcon);
    return ERROR_SUCCESS;
}

void SetBalloon(LPCWSTR lpstrTitle, LPCWSTR lpstrMsg, DWORD dwInfoFlags, NOTIFYICONDATAW* pNotif) {
    StringCchCopyW(pNotif->szInfoTitle, ARRAYSIZE(pNotif->szInfoTitle), lpstrTitle);
    StringCchCopyW(pNotif->szInfo, ARRAYSIZE(pNotif->szInfo), lpstrMsg);
    pNotif->dwInfoFlags = dwInfoFlags;
    pNotif->uTimeout = kTimeoutMs;
}

// NIM_ADD; an icon that is already there is updated with NIM_MODIFY. While
// the shell times out the pair is tried again a second later.
DWORD AddOrModify(NOTIFYICONDATAW* pNotif, LPCWSTR lpszFunction) {
    DWORD dwError = ERROR_SUCCESS;
    for (int nTry = 0;; ++nTry) {
        if (CallShell(NIM_ADD, pNotif, &dwError))
            return ERROR_SUCCESS;
        const bool bTimedOut = dwError == ERROR_TIMEOUT;
        if (CallShell(NIM_MODIFY, pNotif, &dwError))
            return ERROR_SUCCESS;
        if (!bTimedOut || nTry >= kMaxTimeoutRetries) {
            LogApiFailure(lpszFunction, __LINE__, L"Shell_NotifyIcon", dwError);
            return dwError;
        }
        Sleep(1000);
    }
}

void SetVersion4(NOTIFYICONDATAW* pNotif, LPCWSTR lpszFunction) {
    // uVersion shares its place with the balloon's uTimeout.
    pNotif->uVersion = kVersion4;
    DWORD dwError = ERROR_SUCCESS;
    if (!CallShell(NIM_SETVERSION, pNotif, &dwError))
        WriteLog(lpszFunction, __LINE__,
                 L"Fail to Shell_NotifyIcon(NIM_SETVERSION). ErrorCode: %08x.\n", dwError);
}

} // namespace

DWORD AddNotifyIcon(HWND hWnd, LPCWSTR lpstrToolTip, UINT uIconId, NOTIFYICONDATAW* pNotif) {
    if (IsAnyNullArg({{lpstrToolTip, L"lpstrToolTip"}, {pNotif, L"pNotif"}}, L"AddNotifyIcon",
                     __LINE__))
        return ERROR_INVALID_PARAMETER;
    DWORD dwError = PrepareRecord(hWnd, NIF_MESSAGE | NIF_ICON | NIF_TIP | kShowTip, WM_NOTIFYICON,
                                  uIconId, L"AddNotifyIcon", pNotif);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    pNotif->uVersion = kVersion4;
    StringCchCopyW(pNotif->szTip, ARRAYSIZE(pNotif->szTip), lpstrToolTip);
    dwError = AddOrModify(pNotif, L"AddNotifyIcon");
    if (dwError != ERROR_SUCCESS)
        return dwError;
    SetVersion4(pNotif, L"AddNotifyIcon");
    return ERROR_SUCCESS;
}

DWORD OpenBalloonEx(HWND hWnd, LPCWSTR lpstrTitle, LPCWSTR lpstrMsg, UINT uIconId,
                    DWORD dwInfoFlags, NOTIFYICONDATAW* pNotif) {
    if (IsAnyNullArg({{lpstrTitle, L"lpstrTitle"}, {lpstrMsg, L"lpstrMsg"}, {pNotif, L"pNotif"}},
                     L"OpenBalloonEx", __LINE__))
        return ERROR_INVALID_PARAMETER;
    DWORD dwError = PrepareRecord(hWnd, NIF_MESSAGE | NIF_ICON | NIF_INFO, WM_NOTIFYICON, uIconId,
                                  L"OpenBalloonEx", pNotif);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    SetBalloon(lpstrTitle, lpstrMsg, dwInfoFlags, pNotif);
    if (!CallShell(NIM_MODIFY, pNotif, &dwError)) {
        LogApiFailure(L"OpenBalloonEx", __LINE__, L"Shell_NotifyIcon", dwError);
        return dwError;
    }
    SetVersion4(pNotif, L"OpenBalloonEx");
    return ERROR_SUCCESS;
}

DWORD OpenBalloonCaution(HWND hWnd, LPCWSTR lpstrTitle, LPCWSTR lpstrMsg, LPCWSTR lpstrToolTip,
                         UINT uIconId, NOTIFYICONDATAW* pNotif) {
    if (IsAnyNullArg({{lpstrTitle, L"lpstrTitle"}, {lpstrMsg, L"lpstrMsg"}, {pNotif, L"pNotif"}},
                     L"OpenBalloonCaution", __LINE__))
        return ERROR_INVALID_PARAMETER;
    const DWORD dwError =
        PrepareRecord(hWnd, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO | kShowTip,
                      WM_NOTIFYICON_CAUTION, uIconId, L"OpenBalloonCaution", pNotif);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    SetBalloon(lpstrTitle, lpstrMsg, BALLOON_WARNING, pNotif);
    if (lpstrToolTip)
        StringCchCopyW(pNotif->szTip, ARRAYSIZE(pNotif->szTip), lpstrToolTip);
    return AddOrModify(pNotif, L"OpenBalloonCaution");
}

DWORD PostNcDestroy(HWND hWnd, NOTIFYICONDATAW* pNotif) {
    if (IsNullArg(pNotif, L"PostNcDestroy", __LINE__, L"pNotif"))
        return ERROR_INVALID_PARAMETER;
    pNotif->cbSize = sizeof(NOTIFYICONDATAW);
    pNotif->hWnd = hWnd;
    pNotif->uID = 0;
    pNotif->uFlags = 0;
    DWORD dwError = ERROR_SUCCESS;
    if (!CallShell(NIM_DELETE, pNotif, &dwError))
        WriteLog(L"PostNcDestroy", __LINE__,
                 L"Fail to Shell_NotifyIcon(NIM_DELETE). ErrorCode: %08x.\n", dwError);
    return dwError;
}

NotifyIconAction CNotifyIconInput::Decode(LPARAM lParam) {
    // With version 4 the event is the low word; before it, the whole lParam.
    const UINT uEvent = LOWORD(lParam);
    const UINT uLast = m_uLastEvent;
    // A pointer that passes between a click's two reports changes nothing.
    if (uEvent != WM_MOUSEMOVE)
        m_uLastEvent = uEvent;
    switch (uEvent) {
    case WM_LBUTTONDBLCLK:
    case NIN_KEYSELECT:
        return NotifyIconAction::kOpen;
    case NIN_SELECT:
        return uLast == WM_LBUTTONUP ? NotifyIconAction::kNone : NotifyIconAction::kOpen;
    case WM_RBUTTONUP:
        return NotifyIconAction::kMenu;
    case WM_CONTEXTMENU:
        return uLast == WM_RBUTTONUP ? NotifyIconAction::kNone : NotifyIconAction::kMenu;
    case NIN_BALLOONUSERCLICK:
        return NotifyIconAction::kBalloonClicked;
    case NIN_BALLOONTIMEOUT:
        return NotifyIconAction::kBalloonTimedOut;
    case WM_MOUSEMOVE:
        return NotifyIconAction::kPointerOver;
    default:
        return NotifyIconAction::kNone;
    }
}
