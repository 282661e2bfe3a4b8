// Functions that only newer Windows versions have, loaded at run time.
//
// The programs run from Windows XP up to Windows 10, so nothing newer than
// XP is imported statically. Each wrapper loads its system library when it
// is constructed (not on XP, where none of the functions exist), looks the
// functions up by name and offers them as members that answer a neutral
// value while the library or the function is absent:
//   user32 and comctl32 members   0 (FALSE / null handle); TaskDialogIndirect 1
//   PowrProf members              ERROR_CALL_NOT_IMPLEMENTED (120)
// PowrProf answers with Win32 codes, where 0 would be read as success, and a
// caller of PowerGetActiveScheme would then free an identifier that was
// never handed out. An absent PowerGetActiveScheme also clears that pointer.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <powrprof.h>

#include "common/handles.h"
#include "common/later_types.h"

#include <stddef.h>

// Windows XP: 5.1, or 5.2 (Windows XP x64).
BOOL IsWindowsXP();

// Windows 7 (6.1) or later.
BOOL IsWindows7OrLater();

// Windows 8 (6.2) or later.
BOOL IsWindows8OrLater();

// A library and the functions looked up in it, by slot. Used by the
// wrappers below and by the toast library loader.
class COptionalFunctions {
public:
    static constexpr size_t kMaxFunctions = 13;

    COptionalFunctions() noexcept = default;
    COptionalFunctions(const COptionalFunctions&) = delete;
    COptionalFunctions& operator=(const COptionalFunctions&) = delete;

    // Loads lpszPath and looks up ppszNames[0..cNames) into the slots. When
    // one of the first cRequired names is missing the library is unloaded
    // again and the result is ERROR_CALL_NOT_IMPLEMENTED; otherwise 0 or the
    // error of LoadLibraryW. Failures are logged under lpszFunction, naming
    // the library as lpszDllName.
    DWORD Load(LPCWSTR lpszFunction, LPCWSTR lpszDllName, LPCWSTR lpszPath,
               const char* const* ppszNames, size_t cNames, size_t cRequired);

    // Clears the slots and frees the library: 0 or the error of FreeLibrary.
    DWORD Unload();

    bool IsLoaded() const noexcept { return m_hModule.IsValid(); }

    // The function in a slot, or null when the library is not loaded or the
    // name was not found.
    template <typename Fn> Fn Get(size_t nSlot) const noexcept {
        if (!IsLoaded() || nSlot >= kMaxFunctions)
            return nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(m_procs[nSlot]));
    }

private:
    zb::UniqueLibrary m_hModule;
    FARPROC m_procs[kMaxFunctions] = {};
};

// What distinguishes one wrapper from another.
struct SystemLibraryInfo {
    LPCWSTR lpszDllName;       // file name, also in the log lines
    bool bFromSystemDirectory; // full path from CombineSystemPath, else by plain name
    const char* const* ppszFunctions;
    size_t cFunctions;
    size_t cRequired;           // leading functions that must exist ...
    size_t cRequiredOnWindows8; // ... and how many on Windows 8 and later
    LPCWSTR lpszConstructor;    // function names of the log lines
    LPCWSTR lpszDestructor;
    LPCWSTR lpszInitialize;
    LPCWSTR lpszUninitialize;
};

// Lifecycle shared by the wrappers: load on construction unless on XP,
// unload on destruction. A failed Initialize leaves an object whose calls
// answer their neutral values.
class CSystemLibraryWrapper {
public:
    CSystemLibraryWrapper(const CSystemLibraryWrapper&) = delete;
    CSystemLibraryWrapper& operator=(const CSystemLibraryWrapper&) = delete;

    // Loads the library and looks its functions up: 0; the error of
    // LoadLibraryW; ERROR_CALL_NOT_IMPLEMENTED when a required function is
    // missing; the CombineSystemPath code when no path can be formed.
    // Nothing to do (0) while loaded.
    DWORD Initialize();

    // Clears the functions and frees the library: 0 or the FreeLibrary error.
    DWORD Uninitialize();

    BOOL IsLoaded() const noexcept { return m_functions.IsLoaded(); }

protected:
    // lpszLibraryPath null: the system's library. Otherwise that file is
    // loaded instead (tests use it to stand in a library that lacks some
    // functions).
    CSystemLibraryWrapper(const SystemLibraryInfo& info, LPCWSTR lpszLibraryPath);
    ~CSystemLibraryWrapper();

    bool HasFunction(size_t nSlot) const noexcept {
        return m_functions.Get<FARPROC>(nSlot) != nullptr;
    }

    template <typename Fn, typename Result, typename... Args>
    Result CallOr(size_t nSlot, Result absent, Args... args) const {
        const Fn fn = m_functions.Get<Fn>(nSlot);
        return fn ? fn(args...) : absent;
    }

private:
    DWORD FormLibraryPath(LPWSTR lpszPath, size_t cchPath) const;

    const SystemLibraryInfo& m_info;
    WCHAR m_szLibraryPath[MAX_PATH] = {};
    COptionalFunctions m_functions;
};

// user32.dll (system directory): Vista and Windows 8 window functions.
// RegisterSuspendResumeNotification is required only on Windows 8 and later.
class CUser32Wrapper : public CSystemLibraryWrapper {
public:
    CUser32Wrapper();
    explicit CUser32Wrapper(LPCWSTR lpszLibraryPath);

    BOOL ChangeWindowMessageFilter(UINT message, DWORD dwFlag);
    BOOL ShutdownBlockReasonCreate(HWND hWnd, LPCWSTR pwszReason);
    BOOL ShutdownBlockReasonDestroy(HWND hWnd);
    BOOL UnregisterPowerSettingNotification(HPOWERNOTIFY Handle);
    HPOWERNOTIFY RegisterPowerSettingNotification(HANDLE hRecipient, LPCGUID PowerSettingGuid,
                                                  DWORD Flags);
    HPOWERNOTIFY RegisterSuspendResumeNotification(HANDLE hRecipient, DWORD Flags);
};

// comctl32.dll by plain name, so that the programs' manifest selects the
// common controls 6, the only ones with the task dialog.
class CComCtrl32Wrapper : public CSystemLibraryWrapper {
public:
    CComCtrl32Wrapper();
    explicit CComCtrl32Wrapper(LPCWSTR lpszLibraryPath);

    // 1 (S_FALSE) while absent.
    HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton,
                               int* pnRadioButton, BOOL* pfVerificationFlagChecked);
};

// PowrProf.dll (system directory): the Vista power-scheme functions. All
// but PowerWriteDCValueIndex are required.
class CPowrProfWrapper : public CSystemLibraryWrapper {
public:
    CPowrProfWrapper();
    explicit CPowrProfWrapper(LPCWSTR lpszLibraryPath);

    DWORD PowerImportPowerScheme(HKEY RootPowerKey, LPCWSTR ImportFileNamePath,
                                 GUID** DestinationSchemeGuid);
    DWORD PowerEnumerate(HKEY RootPowerKey, const GUID* SchemeGuid,
                         const GUID* SubGroupOfPowerSettingsGuid, POWER_DATA_ACCESSOR AccessFlags,
                         ULONG Index, UCHAR* Buffer, DWORD* BufferSize);
    DWORD PowerWriteDescription(HKEY RootPowerKey, const GUID* SchemeGuid,
                                const GUID* SubGroupOfPowerSettingsGuid,
                                const GUID* PowerSettingGuid, UCHAR* Buffer, DWORD BufferSize);
    DWORD PowerDeleteScheme(HKEY RootPowerKey, const GUID* SchemeGuid);
    DWORD PowerDuplicateScheme(HKEY RootPowerKey, const GUID* SourceSchemeGuid,
                               GUID** DestinationSchemeGuid);
    // While absent, *ActivePolicyGuid is set to null as well.
    DWORD PowerGetActiveScheme(HKEY UserRootPowerKey, GUID** ActivePolicyGuid);
    DWORD PowerSetActiveScheme(HKEY UserRootPowerKey, const GUID* SchemeGuid);
    DWORD PowerReadFriendlyName(HKEY RootPowerKey, const GUID* SchemeGuid,
                                const GUID* SubGroupOfPowerSettingsGuid,
                                const GUID* PowerSettingGuid, UCHAR* Buffer, DWORD* BufferSize);
    DWORD PowerWriteFriendlyName(HKEY RootPowerKey, const GUID* SchemeGuid,
                                 const GUID* SubGroupOfPowerSettingsGuid,
                                 const GUID* PowerSettingGuid, UCHAR* Buffer, DWORD BufferSize);
    DWORD PowerReadACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                const GUID* SubGroupOfPowerSettingsGuid,
                                const GUID* PowerSettingGuid, LPDWORD AcValueIndex);
    DWORD PowerReadDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                const GUID* SubGroupOfPowerSettingsGuid,
                                const GUID* PowerSettingGuid, LPDWORD DcValueIndex);
    DWORD PowerWriteACValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                 const GUID* SubGroupOfPowerSettingsGuid,
                                 const GUID* PowerSettingGuid, DWORD AcValueIndex);
    DWORD PowerWriteDCValueIndex(HKEY RootPowerKey, const GUID* SchemeGuid,
                                 const GUID* SubGroupOfPowerSettingsGuid,
                                 const GUID* PowerSettingGuid, DWORD DcValueIndex);
};

// One-shot forms: each loads its library for this one call (through the
// wrapper above) and answers the same neutral value while it is absent.
namespace zb {

BOOL ChangeWindowMessageFilter(UINT message, DWORD dwFlag);
BOOL ShutdownBlockReasonCreate(HWND hWnd, LPCWSTR pwszReason);
BOOL ShutdownBlockReasonDestroy(HWND hWnd);
HPOWERNOTIFY RegisterPowerSettingNotification(HANDLE hRecipient, LPCGUID PowerSettingGuid,
                                              DWORD Flags);
BOOL UnregisterPowerSettingNotification(HPOWERNOTIFY Handle);
HRESULT TaskDialogIndirect(const TASKDIALOGCONFIG* pTaskConfig, int* pnButton, int* pnRadioButton,
                           BOOL* pfVerificationFlagChecked);

} // namespace zb
