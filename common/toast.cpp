#include "common/toast.h"

#include <strsafe.h>

#include "common/log.h"
#include "common/util.h"

namespace {

enum ToastSlot : size_t {
    kInitToastCmnInf,
    kDisplayToast,
    kHideToast, // looked up for completeness; the programs never hide a toast
    kSwitchToDT,
    kGetDisplayMode,
    kInitialize,
    kFinalize,
};
const char* const kToastFunctions[] = {
    "KX_NTF_InitToastCmnInf", "KX_NTF_DisplayToast", "KX_NTF_HideToast", "KX_NTF_SwitchToDT",
    "KX_NTF_GetDisplayMode",  "KX_NTF_Initialize",   "KX_NTF_Finalize",
};

const wchar_t kToastDllName[] = L"KX_NTF.dll";

} // namespace

KX_NTF_TOAST_CMN_INF MakeToastCommonInfo(HWND hWnd) {
    KX_NTF_TOAST_CMN_INF info = {};
    info.lpszAppId = TOAST_APP_ID;
    info.hWnd = hWnd;
    info.uMsgShown = TOAST_MSG_SHOWN;
    info.uMsgDismissed = TOAST_MSG_DISMISSED;
    info.uMsgTimedOut = TOAST_MSG_TIMEDOUT;
    info.uMsgActivated = TOAST_MSG_ACTIVATED;
    info.uMsgFailed = TOAST_MSG_FAILED;
    return info;
}

KX_NTF_TOAST_REQUEST MakeToastRequest(UINT nKind, LPCWSTR lpszText) {
    KX_NTF_TOAST_REQUEST request = {};
    request.nKind = nKind;
    request.nReserved1 = 0xFFFFFFFF;
    request.lpszText = lpszText;
    request.lpszDuration = TOAST_DURATION_SHORT;
    return request;
}

HRESULT CToastLibrary::InitializeToast() {
    if (!IsWindows8OrLater() || IsLoaded())
        return E_FAIL;
    WCHAR szDir[MAX_PATH] = {};
    const DWORD dwRet = GetCurrentPath(szDir, ARRAYSIZE(szDir));
    if (dwRet != ERROR_SUCCESS) {
        LogApiFailure(L"CToastLibrary::InitializeToast", __LINE__, L"GetCurrentPath", dwRet);
        return E_FAIL;
    }
    WCHAR szPath[MAX_PATH] = {};
    if (FAILED(StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s%s", szDir, kToastDllName)))
        return E_FAIL;
    return InitializeToast(szPath);
}

HRESULT CToastLibrary::InitializeToast(LPCWSTR lpszDllPath) {
    if (IsNullArg(lpszDllPath, L"CToastLibrary::InitializeToast", __LINE__, L"lpszDllPath"))
        return E_FAIL;
    if (!IsWindows8OrLater() || IsLoaded())
        return E_FAIL;
    // No export is required here: KX_NTF_Initialize decides.
    if (m_functions.Load(L"CToastLibrary::InitializeToast", kToastDllName, lpszDllPath,
                         kToastFunctions, ARRAYSIZE(kToastFunctions), 0) != ERROR_SUCCESS)
        return E_FAIL;
    const auto initialize = m_functions.Get<PFN_KX_NTF_Initialize>(kInitialize);
    const HRESULT hr = initialize ? initialize() : E_FAIL;
    if (FAILED(hr)) {
        // A library that did not start must not be asked for toasts later:
        // without it the programs use balloons.
        WriteLog(L"CToastLibrary::InitializeToast", __LINE__,
                 L"Fail to KX_NTF_Initialize. hr: %08x.\n", hr);
        m_functions.Unload();
        return E_FAIL;
    }
    return S_OK;
}

void CToastLibrary::FinalizeToast() {
    if (!IsLoaded())
        return;
    const auto finalize = m_functions.Get<PFN_KX_NTF_Finalize>(kFinalize);
    if (finalize)
        finalize();
    const DWORD dwRet = m_functions.Unload();
    if (dwRet != ERROR_SUCCESS)
        LogApiFailure(L"CToastLibrary::FinalizeToast", __LINE__, L"FreeLibrary", dwRet);
}

HRESULT CToastLibrary::InitToastCommonInfo(const KX_NTF_TOAST_CMN_INF* pInfo) {
    const auto fn = m_functions.Get<PFN_KX_NTF_InitToastCmnInf>(kInitToastCmnInf);
    return fn ? fn(pInfo) : E_FAIL;
}

HRESULT CToastLibrary::DisplayToast(const KX_NTF_TOAST_REQUEST* pRequest) {
    const auto fn = m_functions.Get<PFN_KX_NTF_DisplayToast>(kDisplayToast);
    return fn ? fn(pRequest) : E_FAIL;
}

HRESULT CToastLibrary::SwitchToDesktop(HWND hWnd) {
    const auto fn = m_functions.Get<PFN_KX_NTF_SwitchToDT>(kSwitchToDT);
    return fn ? fn(hWnd) : E_FAIL;
}

BOOL CToastLibrary::IsToastMode() const {
    if (!IsWindows8OrLater())
        return FALSE;
    const auto fn = m_functions.Get<PFN_KX_NTF_GetDisplayMode>(kGetDisplayMode);
    if (!fn)
        return FALSE;
    DWORD dwMode = KX_NTF_MODE_BALLOON;
    if (FAILED(fn(&dwMode)))
        return FALSE;
    return dwMode == KX_NTF_MODE_DESKTOP || dwMode == KX_NTF_MODE_DESKTOP_ACTIVE;
}

CToastLibrary& GetToastLibrary() {
    static CToastLibrary library;
    return library;
}
