#include "common/help.h"

#include <htmlhelp.h>
#include <strsafe.h>

#include "common/log.h"
#include "common/util.h"

HWND OpenHelp(HWND hWndOwner, DWORD dwTopicId) {
    WCHAR szDir[MAX_PATH] = {};
    const DWORD dwRet = GetCurrentPath(szDir, ARRAYSIZE(szDir));
    if (dwRet != ERROR_SUCCESS) {
        LogApiFailure(L"OpenHelp", __LINE__, L"GetCurrentPath", dwRet);
        return nullptr;
    }
    WCHAR szHelpFile[MAX_PATH] = {};
    if (FAILED(StringCchPrintfW(szHelpFile, ARRAYSIZE(szHelpFile), L"%sVADOvur.chm", szDir)))
        return nullptr;
    if (!FileExists(szHelpFile))
        return nullptr;
    const HWND hWndHelp = HtmlHelpW(hWndOwner, szHelpFile, HH_HELP_CONTEXT, dwTopicId);
    if (hWndHelp)
        SetForegroundWindow(hWndHelp);
    return hWndHelp;
}

DWORD_PTR InitializeHelp() {
    DWORD_PTR dwCookie = 0;
    HtmlHelpW(nullptr, nullptr, HH_INITIALIZE, reinterpret_cast<DWORD_PTR>(&dwCookie));
    return dwCookie;
}

void UninitializeHelp(DWORD_PTR dwCookie) {
    HtmlHelpW(nullptr, nullptr, HH_UNINITIALIZE, dwCookie);
}
