// Loader of the toast library KX_NTF.dll (zbMain and zbSched).
//
// On Windows 8 and later the programs announce events as toasts through
// KX_NTF.dll from their own directory; before Windows 8, or when the library
// cannot be started, they fall back to notification-area balloons. wWinMain
// loads the library before creating the main window and unloads it after
// the message loop; the main window gives it the common information in
// WM_CREATE and then shows toasts.
#pragma once

#include <windows.h>

#include "common/wrappers.h"
#include "toast/kx_ntf.h"

// Application user model id of the suite's toasts.
constexpr wchar_t TOAST_APP_ID[] = L"REDEV.RORide.ZoziZudavidOvur";

// What the toast library reports to the program's window, wParam being the
// toast's kind number. (zbMain calls the first one WM_USER_TOASTACTIVATED.)
constexpr UINT TOAST_MSG_ACTIVATED = 0x8801; // the user clicked the toast
constexpr UINT TOAST_MSG_SHOWN = 0x8802;     // the toast is on screen
constexpr UINT TOAST_MSG_TIMEDOUT = 0x8803;  // it went away unanswered
constexpr UINT TOAST_MSG_DISMISSED = 0x8804; // the user closed it
constexpr UINT TOAST_MSG_FAILED = 0x8805;    // it could not be shown

// Duration text of every toast the suite shows.
constexpr wchar_t TOAST_DURATION_SHORT[] = L"short";

// The common-information record of the programs: the application id, hWnd
// and the five message ids above.
KX_NTF_TOAST_CMN_INF MakeToastCommonInfo(HWND hWnd);

// A zero-filled toast request with the caller's kind and text, duration
// "short". lpszText must outlive the DisplayToast call.
KX_NTF_TOAST_REQUEST MakeToastRequest(UINT nKind, LPCWSTR lpszText);

class CToastLibrary {
public:
    CToastLibrary() noexcept = default;
    CToastLibrary(const CToastLibrary&) = delete;
    CToastLibrary& operator=(const CToastLibrary&) = delete;
    ~CToastLibrary() { FinalizeToast(); }

    // Loads program directory + "KX_NTF.dll" and starts it. E_FAIL before
    // Windows 8, when already loaded, or when loading or KX_NTF_Initialize
    // fails; the library is then not kept, so IsToastMode stays false.
    HRESULT InitializeToast();

    // The same with the library file given (tests, and a copy elsewhere).
    HRESULT InitializeToast(LPCWSTR lpszDllPath);

    // KX_NTF_Finalize, then unloads. Nothing to do while not loaded.
    void FinalizeToast();

    // KX_NTF_InitToastCmnInf; E_FAIL while not loaded.
    HRESULT InitToastCommonInfo(const KX_NTF_TOAST_CMN_INF* pInfo);

    // KX_NTF_DisplayToast; E_FAIL while not loaded.
    HRESULT DisplayToast(const KX_NTF_TOAST_REQUEST* pRequest);

    // KX_NTF_SwitchToDT, after the user acted on a toast; E_FAIL while not
    // loaded.
    HRESULT SwitchToDesktop(HWND hWnd);

    // True when toasts are to be shown rather than balloons: Windows 8 or
    // later and the library's display mode is 2 or 3.
    BOOL IsToastMode() const;

    BOOL IsLoaded() const noexcept { return m_functions.IsLoaded(); }

private:
    COptionalFunctions m_functions;
};

// The process's one toast library.
CToastLibrary& GetToastLibrary();
