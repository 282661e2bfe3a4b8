#include "common/help.h"

#include <htmlhelp.h>
#include <strsafe.h>

#include "common/log.h"
#include "common/util.h"
#include "common/wrappers.h"

namespace {

using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

struct HelpLibrary {
    COptionalFunctions functions;
    bool initializeWanted = false;
    bool initialized = false;
    DWORD_PTR cookie = 0;
};

HelpLibrary& Library() {
    static HelpLibrary library;
    return library;
}

// HtmlHelpW of hhctrl.ocx in the system directory, loaded on first use;
// null (logged) when it cannot be loaded.
HtmlHelpFn LoadHtmlHelp() {
    HelpLibrary& library = Library();
    if (!library.functions.IsLoaded()) {
        WCHAR szPath[MAX_PATH] = {};
        const DWORD dwRet = CombineSystemPath(L"hhctrl.ocx", szPath, ARRAYSIZE(szPath));
        if (dwRet != ERROR_SUCCESS) {
            LogApiFailure(L"LoadHtmlHelp", __LINE__, L"CombineSystemPath", dwRet);
            return nullptr;
        }
        static const char* const kNames[] = {"HtmlHelpW"};
        if (library.functions.Load(L"LoadHtmlHelp", L"hhctrl.ocx", szPath, kNames,
                                   ARRAYSIZE(kNames), 1) != ERROR_SUCCESS)
            return nullptr;
    }
    const HtmlHelpFn htmlHelp = library.functions.Get<HtmlHelpFn>(0);
    if (library.initializeWanted && !library.initialized) {
        htmlHelp(nullptr, nullptr, HH_INITIALIZE, reinterpret_cast<DWORD_PTR>(&library.cookie));
        library.initialized = true;
    }
    return htmlHelp;
}

} // namespace

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
    const HtmlHelpFn htmlHelp = LoadHtmlHelp();
    if (!htmlHelp)
        return nullptr;
    const HWND hWndHelp = htmlHelp(hWndOwner, szHelpFile, HH_HELP_CONTEXT, dwTopicId);
    if (hWndHelp)
        SetForegroundWindow(hWndHelp);
    return hWndHelp;
}

void InitializeHelp() {
    Library().initializeWanted = true;
}

void UninitializeHelp() {
    HelpLibrary& library = Library();
    const HtmlHelpFn htmlHelp = library.functions.Get<HtmlHelpFn>(0);
    if (htmlHelp && library.initialized)
        htmlHelp(nullptr, nullptr, HH_UNINITIALIZE, library.cookie);
    library.initialized = false;
    library.initializeWanted = false;
    library.cookie = 0;
    const DWORD dwRet = library.functions.Unload();
    if (dwRet != ERROR_SUCCESS)
        LogApiFailure(L"UninitializeHelp", __LINE__, L"FreeLibrary", dwRet);
}
