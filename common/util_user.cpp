// Checks of the current user: the session user's password and
// administrator membership.
#include "common/util.h"

#include "common/handles.h"
#include "common/log.h"

#include <lm.h>
#define SECURITY_WIN32
#include <security.h>
#include <wtsapi32.h>

namespace {

using zb::UniqueWtsText;

using UniqueNetApiBuffer = zb::UniqueResource<zb::NullableTraits<LPBYTE, NetApiBufferFree>>;

// One text of the current session (user or domain name).
bool QuerySessionText(WTS_INFO_CLASS infoClass, UniqueWtsText& text) {
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, infoClass,
                                     text.Put(), &bytes)) {
        LogApiFailure(L"CheckPasswd", __LINE__, L"WTSQuerySessionInformation", GetLastError());
        return false;
    }
    return text && text.Get()[0] != L'\0';
}

bool GetCurrentUserName(LPWSTR lpszName, ULONG cchName) {
    ULONG size = cchName;
    if (GetSamCompatibleName(lpszName, &size))
        return true;
    LogApiFailure(L"IsUserAdministrator", __LINE__, L"GetUserNameEx", GetLastError());
    DWORD plainSize = cchName;
    if (GetUserNameW(lpszName, &plainSize))
        return true;
    LogApiFailure(L"IsUserAdministrator", __LINE__, L"GetUserName", GetLastError());
    return false;
}

} // namespace

BOOL GetSamCompatibleName(LPWSTR lpszName, PULONG pcchName) {
    WCHAR szPath[MAX_PATH] = L"";
    const DWORD pathError = CombineSystemPath(L"secur32.dll", szPath, ARRAYSIZE(szPath));
    if (pathError != 0) {
        SetLastError(pathError);
        return FALSE;
    }
    zb::UniqueLibrary library(LoadLibraryW(szPath));
    if (!library)
        return FALSE;
    using GetUserNameExFn = BOOLEAN(WINAPI*)(EXTENDED_NAME_FORMAT, LPWSTR, PULONG);
    const auto getUserNameEx = reinterpret_cast<GetUserNameExFn>(
        reinterpret_cast<void*>(GetProcAddress(library.Get(), "GetUserNameExW")));
    if (!getUserNameEx)
        return FALSE;
    if (getUserNameEx(NameSamCompatible, lpszName, pcchName))
        return TRUE;
    const DWORD error = GetLastError();
    library.Reset();
    SetLastError(error);
    return FALSE;
}

BOOL CheckPasswd(LPCWSTR lpstrPasswd) {
    if (!lpstrPasswd) {
        LogNullArg(L"CheckPasswd", __LINE__, L"lpstrPasswd");
        return FALSE;
    }
    UniqueWtsText user;
    UniqueWtsText domain;
    if (!QuerySessionText(WTSUserName, user) || !QuerySessionText(WTSDomainName, domain))
        return FALSE;
    zb::UniqueHandle token;
    if (!LogonUserW(user.Get(), domain.Get(), lpstrPasswd, LOGON32_LOGON_INTERACTIVE,
                    LOGON32_PROVIDER_DEFAULT, token.Put())) {
        LogApiFailure(L"CheckPasswd", __LINE__, L"LogonUser", GetLastError());
        return FALSE;
    }
    return TRUE;
}

BOOL IsUserAdministrator() {
    wchar_t name[512] = {};
    if (!GetCurrentUserName(name, ARRAYSIZE(name)))
        return FALSE;

    bool inUsers = false;
    bool inAdministrators = false;
    // With an unlimited buffer the listing comes whole; the bound only keeps
    // a misbehaving service from holding us here.
    for (int attempt = 0; attempt < 8; ++attempt) {
        UniqueNetApiBuffer buffer;
        DWORD entries = 0;
        DWORD total = 0;
        const NET_API_STATUS status =
            NetUserGetLocalGroups(nullptr, name, 0, LG_INCLUDE_INDIRECT, buffer.Put(),
                                  MAX_PREFERRED_LENGTH, &entries, &total);
        if (status != NERR_Success && status != ERROR_MORE_DATA) {
            LogApiFailure(L"IsUserAdministrator", __LINE__, L"NetUserGetLocalGroups", status);
            break;
        }
        const auto* groups = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(buffer.Get());
        for (DWORD i = 0; groups && i < entries; ++i) {
            if (!groups[i].lgrui0_name)
                continue;
            if (wcscmp(groups[i].lgrui0_name, L"Users") == 0)
                inUsers = true;
            else if (wcscmp(groups[i].lgrui0_name, L"Administrators") == 0)
                inAdministrators = true;
        }
        if (status != ERROR_MORE_DATA)
            break;
    }
    // Users counts 1, Administrators 2: more than 1 needs Administrators.
    const int score = (inUsers ? 1 : 0) + (inAdministrators ? 2 : 0);
    return score > 1;
}
