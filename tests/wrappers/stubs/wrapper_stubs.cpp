// Stands in for a system library that has only some of the functions the
// wrappers look up: the five Vista functions of user32 (no
// RegisterSuspendResumeNotification) and the twelve required PowrProf
// functions (no PowerWriteDCValueIndex). The .def file exports them under
// the system names.
#include <windows.h>

extern "C" {

BOOL WINAPI StubChangeWindowMessageFilter(UINT, DWORD) {
    return TRUE;
}
BOOL WINAPI StubShutdownBlockReasonCreate(HWND, LPCWSTR) {
    return TRUE;
}
BOOL WINAPI StubShutdownBlockReasonDestroy(HWND) {
    return TRUE;
}
BOOL WINAPI StubUnregisterPowerSettingNotification(HANDLE) {
    return TRUE;
}
HANDLE WINAPI StubRegisterPowerSettingNotification(HANDLE, const GUID*, DWORD) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5151));
}

// The scheme identifier PowerGetActiveScheme hands out.
const GUID kStubScheme = {
    0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};

DWORD WINAPI StubPowerGetActiveScheme(HKEY, GUID** ppScheme) {
    *ppScheme = static_cast<GUID*>(LocalAlloc(LPTR, sizeof(GUID)));
    if (!*ppScheme)
        return ERROR_NOT_ENOUGH_MEMORY;
    **ppScheme = kStubScheme;
    return ERROR_SUCCESS;
}
DWORD WINAPI StubPowerReadACValueIndex(HKEY, const GUID*, const GUID*, const GUID*, DWORD* pIndex) {
    *pIndex = 42;
    return ERROR_SUCCESS;
}
// The rest answer a code no absent function gives, to show the call went through.
DWORD WINAPI StubPowerImportPowerScheme(HKEY, LPCWSTR, GUID**) {
    return ERROR_FILE_NOT_FOUND;
}
DWORD WINAPI StubPowerEnumerate(HKEY, const GUID*, const GUID*, int, ULONG, UCHAR*, DWORD*) {
    return ERROR_NO_MORE_ITEMS;
}
DWORD WINAPI StubPowerWriteDescription(HKEY, const GUID*, const GUID*, const GUID*, UCHAR*, DWORD) {
    return ERROR_SUCCESS;
}
DWORD WINAPI StubPowerDeleteScheme(HKEY, const GUID*) {
    return ERROR_ACCESS_DENIED;
}
DWORD WINAPI StubPowerDuplicateScheme(HKEY, const GUID*, GUID**) {
    return ERROR_SUCCESS;
}
DWORD WINAPI StubPowerSetActiveScheme(HKEY, const GUID*) {
    return ERROR_SUCCESS;
}
DWORD WINAPI StubPowerReadFriendlyName(HKEY, const GUID*, const GUID*, const GUID*, UCHAR*,
                                       DWORD*) {
    return ERROR_SUCCESS;
}
DWORD WINAPI StubPowerWriteFriendlyName(HKEY, const GUID*, const GUID*, const GUID*, UCHAR*,
                                        DWORD) {
    return ERROR_SUCCESS;
}
DWORD WINAPI StubPowerReadDCValueIndex(HKEY, const GUID*, const GUID*, const GUID*, DWORD*) {
    return ERROR_SUCCESS;
}
DWORD WINAPI StubPowerWriteACValueIndex(HKEY, const GUID*, const GUID*, const GUID*, DWORD) {
    return ERROR_SUCCESS;
}

} // extern "C"
