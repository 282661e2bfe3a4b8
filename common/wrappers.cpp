#include "common/wrappers.h"

#include <strsafe.h>

#include "common/log.h"
#include "common/util.h"

namespace {

// VerifyVersionInfoW on major and minor version together.
BOOL CompareWindowsVersion(DWORD dwMajor, DWORD dwMinor, BYTE condition) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = dwMajor;
    version.dwMinorVersion = dwMinor;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, condition);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, condition);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, mask);
}

// Slots of CUser32Wrapper.
enum User32Slot : size_t {
    kChangeWindowMessageFilter,
    kShutdownBlockReasonCreate,
    kShutdownBlockReasonDestroy,
    kUnregisterPowerSettingNotification,
    kRegisterPowerSettingNotification,
    kRegisterSuspendResumeNotification,
};
const char* const kUser32Functions[] = {
    "ChangeWindowMessageFilter",        "ShutdownBlockReasonCreate",
    "ShutdownBlockReasonDestroy",       "UnregisterPowerSettingNotification",
    "RegisterPowerSettingNotification", "RegisterSuspendResumeNotification",
};
const SystemLibraryInfo kUser32Info = {
    L"user32.dll",
    true,
    kUser32Functions,
    ARRAYSIZE(kUser32Functions),
    5,
    6,
    L"CUser32Wrapper::CUser32Wrapper",
    L"CUser32Wrapper::~CUser32Wrapper",
    L"CUser32Wrapper::Initialize",
    L"CUser32Wrapper::Uninitialize",
};

enum ComCtl32Slot : size_t { kTaskDialogIndirect };
const char* const kComCtl32Functions[] = {"TaskDialogIndirect"};
const SystemLibraryInfo kComCtl32Info = {
    L"comctl32.dll",
    false,
    kComCtl32Functions,
    ARRAYSIZE(kComCtl32Functions),
    1,
    1,
    L"CComCtrl32Wrapper::CComCtrl32Wrapper",
    L"CComCtrl32Wrapper::~CComCtrl32Wrapper",
    L"CComCtrl32Wrapper::Initialize",
    L"CComCtrl32Wrapper::Uninitialize",
};

enum PowrProfSlot : size_t {
    kPowerImportPowerScheme,
    kPowerEnumerate,
    kPowerWriteDescription,
    kPowerDeleteScheme,
    kPowerDuplicateScheme,
    kPowerGetActiveScheme,
    kPowerSetActiveScheme,
    kPowerReadFriendlyName,
    kPowerWriteFriendlyName,
    kPowerReadACValueIndex,
    kPowerReadDCValueIndex,
    kPowerWriteACValueIndex,
    kPowerWriteDCValueIndex,
};
const char* const kPowrProfFunctions[] = {
    "PowerImportPowerScheme", "PowerEnumerate",        "PowerWriteDescription",
    "PowerDeleteScheme",      "PowerDuplicateScheme",  "PowerGetActiveScheme",
    "PowerSetActiveScheme",   "PowerReadFriendlyName", "PowerWriteFriendlyName",
    "PowerReadACValueIndex",  "PowerReadDCValueIndex", "PowerWriteACValueIndex",
    "PowerWriteDCValueIndex",
};
const SystemLibraryInfo kPowrProfInfo = {
    L"PowrProf.dll",
    true,
    kPowrProfFunctions,
    ARRAYSIZE(kPowrProfFunctions),
    12,
    12,
    L"CPowrProfWrapper::CPowrProfWrapper",
    L"CPowrProfWrapper::~CPowrProfWrapper",
    L"CPowrProfWrapper::Initialize",
    L"CPowrProfWrapper::Uninitialize",
};

// What an absent PowrProf function answers: never ERROR_SUCCESS.
constexpr DWORD kPowrProfAbsent = ERROR_CALL_NOT_IMPLEMENTED;

// Signatures of the functions the wrappers look up. Spelled out here rather
// than taken from the system headers, which declare none of them for XP.
using FnChangeWindowMessageFilter = BOOL(WINAPI*)(UINT, DWORD);
using FnShutdownBlockReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
using FnShutdownBlockReasonDestroy = BOOL(WINAPI*)(HWND);
using FnRegisterPowerSettingNotification = HPOWERNOTIFY(WINAPI*)(HANDLE, LPCGUID, DWORD);
using FnUnregisterPowerSettingNotification = BOOL(WINAPI*)(HPOWERNOTIFY);
using FnRegisterSuspendResumeNotification = HPOWERNOTIFY(WINAPI*)(HANDLE, DWORD);
using FnTaskDialogIndirect = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
using FnPowerImportPowerScheme = DWORD(WINAPI*)(HKEY, LPCWSTR, GUID**);
using FnPowerEnumerate = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, POWER_DATA_ACCESSOR, ULONG,
                                        UCHAR*, DWORD*);
using FnPowerDeleteScheme = DWORD(WINAPI*)(HKEY, const GUID*);
using FnPowerDuplicateScheme = DWORD(WINAPI*)(HKEY, const GUID*, GUID**);
using FnPowerGetActiveScheme = DWORD(WINAPI*)(HKEY, GUID**);
using FnPowerSetActiveScheme = DWORD(WINAPI*)(HKEY, const GUID*);
// PowerReadFriendlyName, PowerWriteDescription, PowerWriteFriendlyName
using FnPowerReadText = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, UCHAR*, DWORD*);
using FnPowerWriteText = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, UCHAR*, DWORD);
using FnPowerReadValueIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
using FnPowerWriteValueIndex = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);

} // namespace

BOOL IsWindowsXP() {
    // 5.1 is the 32-bit Windows XP; this x64 program meets Windows XP x64,
    // which is 5.2 (and shares it with Server 2003, which runs XP's branch
    // as well: neither has the Vista functions).
    return CompareWindowsVersion(5, 1, VER_GREATER_EQUAL) &&
           !CompareWindowsVersion(6, 0, VER_GREATER_EQUAL);
}

BOOL IsWindows7OrLater() {
    return CompareWindowsVersion(6, 1, VER_GREATER_EQUAL);
}

BOOL IsWindows8OrLater() {
    return CompareWindowsVersion(6, 2, VER_GREATER_EQUAL);
}

// ---------------------------------------------------------------------------
// COptionalFunctions

DWORD COptionalFunctions::Load(LPCWSTR lpszFunction, LPCWSTR lpszDllName, LPCWSTR lpszPath,
                               const char* const* ppszNames, size_t cNames, size_t cRequired) {
    if (IsAnyNullArg({{lpszPath, L"lpszPath"}, {ppszNames, L"ppszNames"}}, lpszFunction, __LINE__))
        return ERROR_INVALID_PARAMETER;
    if (cNames > kMaxFunctions || cRequired > cNames)
        return ERROR_INVALID_PARAMETER;
    Unload();
    m_hModule.Reset(LoadLibraryW(lpszPath));
    if (!m_hModule) {
        const DWORD dwError = GetLastError();
        WriteLog(lpszFunction, __LINE__, L"Fail to LoadLibrary of %s: %08x.\n", lpszDllName,
                 dwError);
        return dwError;
    }
    for (size_t i = 0; i < cNames; ++i)
        m_procs[i] = GetProcAddress(m_hModule.Get(), ppszNames[i]);
    for (size_t i = 0; i < cRequired; ++i) {
        if (!m_procs[i]) {
            WriteLog(lpszFunction, __LINE__,
                     L"Fail to Initialize necessary functions of %s: %08x.\n", lpszDllName,
                     ERROR_CALL_NOT_IMPLEMENTED);
            Unload();
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
    }
    return ERROR_SUCCESS;
}

DWORD COptionalFunctions::Unload() {
    for (FARPROC& proc : m_procs)
        proc = nullptr;
    if (!m_hModule)
        return ERROR_SUCCESS;
    if (!FreeLibrary(m_hModule.Release()))
        return GetLastError();
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// CSystemLibraryWrapper

CSystemLibraryWrapper::CSystemLibraryWrapper(const SystemLibraryInfo& info, LPCWSTR lpszLibraryPath)
    : m_info(info) {
    if (lpszLibraryPath)
        StringCchCopyW(m_szLibraryPath, ARRAYSIZE(m_szLibraryPath), lpszLibraryPath);
    // None of the functions exist on XP; every call gives its neutral value.
    if (IsWindowsXP())
        return;
    const DWORD dwRet = Initialize();
    if (dwRet != ERROR_SUCCESS)
        WriteLog(m_info.lpszConstructor, __LINE__, L"Fail to Initialize(): %08x.\n", dwRet);
}

CSystemLibraryWrapper::~CSystemLibraryWrapper() {
    const DWORD dwRet = Uninitialize();
    if (dwRet != ERROR_SUCCESS)
        WriteLog(m_info.lpszDestructor, __LINE__, L"Fail to Uninitialize(): %08x.\n", dwRet);
}

DWORD CSystemLibraryWrapper::FormLibraryPath(LPWSTR lpszPath, size_t cchPath) const {
    if (m_szLibraryPath[0] != L'\0')
        return FAILED(StringCchCopyW(lpszPath, cchPath, m_szLibraryPath)) ? ERROR_PATH_NOT_FOUND
                                                                          : ERROR_SUCCESS;
    if (m_info.bFromSystemDirectory)
        return CombineSystemPath(m_info.lpszDllName, lpszPath, cchPath);
    return FAILED(StringCchCopyW(lpszPath, cchPath, m_info.lpszDllName)) ? ERROR_PATH_NOT_FOUND
                                                                         : ERROR_SUCCESS;
}

DWORD CSystemLibraryWrapper::Initialize() {
    if (m_functions.IsLoaded())
        return ERROR_SUCCESS;
    WCHAR szPath[MAX_PATH] = {};
    const DWORD dwRet = FormLibraryPath(szPath, ARRAYSIZE(szPath));
    if (dwRet != ERROR_SUCCESS)
        return dwRet;
    const size_t cRequired = IsWindows8OrLater() ? m_info.cRequiredOnWindows8 : m_info.cRequired;
    return m_functions.Load(m_info.lpszInitialize, m_info.lpszDllName, szPath, m_info.ppszFunctions,
                            m_info.cFunctions, cRequired);
}

DWORD CSystemLibraryWrapper::Uninitialize() {
    const DWORD dwRet = m_functions.Unload();
    if (dwRet != ERROR_SUCCESS)
        LogApiFailure(m_info.lpszUninitialize, __LINE__, L"FreeLibrary", dwRet);
    return dwRet;
}

// ---------------------------------------------------------------------------
// CUser32Wrapper

CUser32Wrapper::CUser32Wrapper() : CSystemLibraryWrapper(kUser32Info, nullptr) {}

CUser32Wrapper::CUser32Wrapper(LPCWSTR lpszLibraryPath)
    : CSystemLibraryWrapper(kUser32Info, lpszLibraryPath) {}

BOOL CUser32Wrapper::ChangeWindowMessageFilter(UINT message, DWORD dwFlag) {
    return CallOr<FnChangeWindowMessageFilter>(kChangeWindowMessageFilter, BOOL(FALSE), message,
                                               dwFlag);
}

BOOL CUser32Wrapper::ShutdownBlockReasonCreate(HWND hWnd, LPCWSTR pwszReason) {
    return CallOr<FnShutdownBlockReasonCreate>(kShutdownBlockReasonCreate, BOOL(FALSE), hWnd,
                                               pwszReason);
}

BOOL CUser32Wrapper::ShutdownBlockReasonDestroy(HWND hWnd) {
    return CallOr<FnShutdownBlockReasonDestroy>(kShutdownBlockReasonDestroy, BOOL(FALSE), hWnd);
}

BOOL CUser32Wrapper::UnregisterPowerSettingNotification(HPOWERNOTIFY Handle) {
    return CallOr<FnUnregisterPowerSettingNotification>(kUnregisterPowerSettingNotification,
                                                        BOOL(FALSE), Handle);
}

HPOWERNOTIFY CUser32Wrapper::RegisterPowerSettingNotification(HANDLE hRecipient,
                                                              LPCGUID PowerSettingGuid,
                                                              DWORD Flags) {
    return CallOr<FnRegisterPowerSettingNotification>(kRegisterPowerSettingNotification,
                                                      HPOWERNOTIFY(nullptr), hRecipient,
                                                      PowerSettingGuid, Flags);
}

HPOWERNOTIFY CUser32Wrapper::RegisterSuspendResumeNotification(HANDLE hRecipient, DWORD Flags) {
    return CallOr<FnRegisterSuspendResumeNotification>(kRegisterSuspendResumeNotification,
                                                       HPOWERNOTIFY(nullptr), hRecipient, Flags);
}

// ---------------------------------------------------------------------------
// CComCtrl32Wrapper

CComCtrl32Wrapper::CComCtrl32Wrapper() : CSystemLibraryWrapper(kComCtl32Info, nullptr) {}

CComCtrl32Wrapper::CComCtrl32Wrapper(LPCWSTR lpszLibraryPath)
    : CSystemLibraryWrapper(kComCtl32Info, lpszLibraryPath) {}

HRESULT CComCtrl32Wrapper::TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                                              int* pnRadioButton, BOOL* pfVerificationFlagChecked) {
    return CallOr<FnTaskDialogIndirect>(kTaskDialogIndirect, HRESULT(S_FALSE), pTaskConfig,
                                        pnButton, pnRadioButton, pfVerificationFlagChecked);
}

// ---------------------------------------------------------------------------
// CPowrProfWrapper

CPowrProfWrapper::CPowrProfWrapper() : CSystemLibraryWrapper(kPowrProfInfo, nullptr) {}

CPowrProfWrapper::CPowrProfWrapper(LPCWSTR lpszLibraryPath)
    : CSystemLibraryWrapper(kPowrProfInfo, lpszLibraryPath) {}

DWORD CPowrProfWrapper::PowerImportPowerScheme(HKEY RootPowerKey, LPCWSTR ImportFileNamePath,
                                               GUID** DestinationSchemeGuid) {
    return CallOr<FnPowerImportPowerScheme>(kPowerImportPowerScheme, kPowrProfAbsent, RootPowerKey,
                                            ImportFileNamePath, DestinationSchemeGuid);
}

DWORD CPowrProfWrapper::PowerEnumerate(HKEY RootPowerKey, const GUID* SchemeGuid,
                                       const GUID* SubGroupOfPowerSettingsGuid,
                                       POWER_DATA_ACCESSOR AccessFlags, ULONG Index, UCHAR* Buffer,
                                       DWORD* BufferSize) {
    return CallOr<FnPowerEnumerate>(kPowerEnumerate, kPowrProfAbsent, RootPowerKey, SchemeGuid,
                                    SubGroupOfPowerSettingsGuid, AccessFlags, Index, Buffer,
                                    BufferSize);
}

DWORD CPowrProfWrapper::PowerWriteDescription(HKEY RootPowerKey, const GUID* SchemeGuid,
                                              const GUID* SubGroupOfPowerSettingsGuid,
                                              const GUID* PowerSettingGuid, UCHAR* Buffer,
                                              DWORD BufferSize) {
    return CallOr<FnPowerWriteText>(kPowerWriteDescription, kPowrProfAbsent, RootPowerKey,
                                    SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                    Buffer, BufferSize);
}

DWORD CPowrProfWrapper::PowerDeleteScheme(HKEY RootPowerKey, const GUID* SchemeGuid) {
    return CallOr<FnPowerDeleteScheme>(kPowerDeleteScheme, kPowrProfAbsent, RootPowerKey,
                                       SchemeGuid);
}

DWORD CPowrProfWrapper::PowerDuplicateScheme(HKEY RootPowerKey, const GUID* SourceSchemeGuid,
                                             GUID** DestinationSchemeGuid) {
    return CallOr<FnPowerDuplicateScheme>(kPowerDuplicateScheme, kPowrProfAbsent, RootPowerKey,
                                          SourceSchemeGuid, DestinationSchemeGuid);
}

DWORD CPowrProfWrapper::PowerGetActiveScheme(HKEY UserRootPowerKey, GUID** ActivePolicyGuid) {
    if (!HasFunction(kPowerGetActiveScheme)) {
        // Callers free what they get back on success only, but a pointer
        // left as it was must not look like an identifier either.
        if (ActivePolicyGuid)
            *ActivePolicyGuid = nullptr;
        return kPowrProfAbsent;
    }
    return CallOr<FnPowerGetActiveScheme>(kPowerGetActiveScheme, kPowrProfAbsent, UserRootPowerKey,
                                          ActivePolicyGuid);
}

DWORD CPowrProfWrapper::PowerSetActiveScheme(HKEY UserRootPowerKey, const GUID* SchemeGuid) {
    return CallOr<FnPowerSetActiveScheme>(kPowerSetActiveScheme, kPowrProfAbsent, UserRootPowerKey,
                                          SchemeGuid);
}

DWORD CPowrProfWrapper::PowerReadFriendlyName(HKEY RootPowerKey, const GUID* SchemeGuid,
                                              const GUID* SubGroupOfPowerSettingsGuid,
                                              const GUID* PowerSettingGuid, UCHAR* Buffer,
                                              DWORD* BufferSize) {
    return CallOr<FnPowerReadText>(kPowerReadFriendlyName, kPowrProfAbsent, RootPowerKey,
                                   SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                   Buffer, BufferSize);
}

DWORD CPowrProfWrapper::PowerWriteFriendlyName(HKEY RootPowerKey, const GUID* SchemeGuid,
                                               const GUID* SubGroupOfPowerSettingsGuid,
                                               const GUID* PowerSettingGuid, UCHAR* Buffer,
                                               DWORD BufferSize) {
    return CallOr<FnPowerWriteText>(kPowerWriteFriendlyName, kPowrProfAbsent, RootPowerKey,
                                    SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                    Buffer, BufferSize);
}

DWORD CPowrProfWrapper::PowerReadACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                              const GUID* SubGroupOfPowerSettingsGuid,
                                              const GUID* PowerSettingGuid, LPDWORD AcValueIndex) {
    return CallOr<FnPowerReadValueIndex>(kPowerReadACValueIndex, kPowrProfAbsent, RootPowerKey,
                                         SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                         AcValueIndex);
}

DWORD CPowrProfWrapper::PowerReadDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                              const GUID* SubGroupOfPowerSettingsGuid,
                                              const GUID* PowerSettingGuid, LPDWORD DcValueIndex) {
    return CallOr<FnPowerReadValueIndex>(kPowerReadDCValueIndex, kPowrProfAbsent, RootPowerKey,
                                         SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                         DcValueIndex);
}

DWORD CPowrProfWrapper::PowerWriteACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                               const GUID* SubGroupOfPowerSettingsGuid,
                                               const GUID* PowerSettingGuid, DWORD AcValueIndex) {
    return CallOr<FnPowerWriteValueIndex>(kPowerWriteACValueIndex, kPowrProfAbsent, RootPowerKey,
                                          SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                          AcValueIndex);
}

DWORD CPowrProfWrapper::PowerWriteDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                               const GUID* SubGroupOfPowerSettingsGuid,
                                               const GUID* PowerSettingGuid, DWORD DcValueIndex) {
    return CallOr<FnPowerWriteValueIndex>(kPowerWriteDCValueIndex, kPowrProfAbsent, RootPowerKey,
                                          SchemeGuid, SubGroupOfPowerSettingsGuid, PowerSettingGuid,
                                          DcValueIndex);
}

// ---------------------------------------------------------------------------
// One-shot forms

namespace zb {

BOOL ChangeWindowMessageFilter(UINT message, DWORD dwFlag) {
    return CUser32Wrapper().ChangeWindowMessageFilter(message, dwFlag);
}

BOOL ShutdownBlockReasonCreate(HWND hWnd, LPCWSTR pwszReason) {
    return CUser32Wrapper().ShutdownBlockReasonCreate(hWnd, pwszReason);
}

BOOL ShutdownBlockReasonDestroy(HWND hWnd) {
    return CUser32Wrapper().ShutdownBlockReasonDestroy(hWnd);
}

HPOWERNOTIFY RegisterPowerSettingNotification(HANDLE hRecipient, LPCGUID PowerSettingGuid,
                                              DWORD Flags) {
    return CUser32Wrapper().RegisterPowerSettingNotification(hRecipient, PowerSettingGuid, Flags);
}

BOOL UnregisterPowerSettingNotification(HPOWERNOTIFY Handle) {
    return CUser32Wrapper().UnregisterPowerSettingNotification(Handle);
}

HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton, int* pnRadioButton,
                           BOOL* pfVerificationFlagChecked) {
    return CComCtrl32Wrapper().TaskDialogIndirect(pTaskConfig, pnButton, pnRadioButton,
                                                  pfVerificationFlagChecked);
}

} // namespace zb
