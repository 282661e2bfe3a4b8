// KX_NTF.dll: the suite's toast library. It shows short notifications as
// small non-activating popups above the notification area and reports what
// became of each one to a window of the calling program.
//
// Calling order: KX_NTF_Initialize, KX_NTF_InitToastCmnInf, then any number
// of KX_NTF_DisplayToast (and KX_NTF_HideToast / KX_NTF_SwitchToDT), and
// KX_NTF_Finalize. The popups belong to the thread that called
// KX_NTF_Initialize: every call except KX_NTF_GetDisplayMode must come from
// that thread (RPC_E_WRONG_THREAD otherwise), and that thread must run a
// message loop for the popups to time out and take clicks.
//
// Programs load the library at run time (LoadLibraryW + GetProcAddress by
// name); the function pointer types below match the exports.
#pragma once

#include <windows.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Window class of every toast popup. A popup's window text is the toast's
// message text, so other code (and tests) can find showing toasts with
// FindWindowExW and read them with GetWindowTextW.
#define KX_NTF_POPUP_CLASS L"KX_NTF_ToastPopup"

// How long a toast stays up before it times out, by duration text.
#define KX_NTF_DURATION_SHORT L"short"
#define KX_NTF_DURATION_LONG L"long"
#define KX_NTF_SHORT_MS 7000u
#define KX_NTF_LONG_MS 25000u

// Answers of KX_NTF_GetDisplayMode. 2 and 3 mean toasts can be shown.
#define KX_NTF_MODE_BALLOON 1u        // before Windows 8: use balloons instead
#define KX_NTF_MODE_DESKTOP 2u        // toasts over the desktop
#define KX_NTF_MODE_DESKTOP_ACTIVE 3u // toasts while a full-screen app runs

// Where reports go. Each message is posted to hWnd with the toast's kind
// number as wParam and 0 as lParam; a message id of 0 is never posted.
// Exactly one of activated, dismissed, timed out or failed ends a toast.
typedef struct KX_NTF_TOAST_CMN_INF {
    LPCWSTR lpszAppId;  // application user model id; copied
    HWND hWnd;          // receives the messages below
    UINT uMsgShown;     // the popup is on screen
    UINT uMsgDismissed; // the user closed it (its close box), or KX_NTF_HideToast
    UINT uMsgTimedOut;  // its duration passed without the user acting on it
    UINT uMsgActivated; // the user clicked it
    UINT uMsgFailed;    // it could not be shown (KX_NTF_DisplayToast also fails)
} KX_NTF_TOAST_CMN_INF;

// One toast. Callers zero-fill it; the reserved fields must stay as stated.
typedef struct KX_NTF_TOAST_REQUEST {
    UINT nKind;           // caller's number, echoed in every report
    UINT nReserved1;      // 0xFFFFFFFF
    void* pReserved2;     // null
    LPCWSTR lpszText;     // message text; required
    BYTE abReserved3[16]; // zero
    UINT nReserved4;      // zero
    void* pReserved5;     // null
    UINT nReserved6;      // zero
    LPCWSTR lpszDuration; // KX_NTF_DURATION_SHORT or _LONG; null or other texts are short
} KX_NTF_TOAST_REQUEST;

#if defined(__cplusplus) && defined(_WIN64)
static_assert(sizeof(KX_NTF_TOAST_CMN_INF) == 40, "common information is 40 bytes");
static_assert(offsetof(KX_NTF_TOAST_CMN_INF, uMsgShown) == 16, "first message id at 16");
static_assert(offsetof(KX_NTF_TOAST_CMN_INF, uMsgFailed) == 32, "last message id at 32");
static_assert(sizeof(KX_NTF_TOAST_REQUEST) == 72, "toast request is 72 bytes");
static_assert(offsetof(KX_NTF_TOAST_REQUEST, lpszText) == 16, "text at 16");
static_assert(offsetof(KX_NTF_TOAST_REQUEST, pReserved5) == 48, "reserved pointer at 48");
static_assert(offsetof(KX_NTF_TOAST_REQUEST, lpszDuration) == 64, "duration at 64");
#endif

// Registers the popup class. S_OK; S_FALSE when already initialised on this
// thread; RPC_E_WRONG_THREAD when initialised on another one.
typedef HRESULT(WINAPI* PFN_KX_NTF_Initialize)(void);

// Closes every popup without reporting and forgets the common information.
// S_OK; S_FALSE when not initialised.
typedef HRESULT(WINAPI* PFN_KX_NTF_Finalize)(void);

// Stores (replaces) the common information. E_POINTER for a null record,
// E_INVALIDARG for an empty application id or a handle that is no window,
// E_UNEXPECTED before KX_NTF_Initialize.
typedef HRESULT(WINAPI* PFN_KX_NTF_InitToastCmnInf)(const KX_NTF_TOAST_CMN_INF* pInfo);

// Shows one popup. E_POINTER for a null request, E_INVALIDARG without text,
// E_UNEXPECTED before the common information is given; the Win32 error of
// the popup's creation (as HRESULT, after posting "failed").
typedef HRESULT(WINAPI* PFN_KX_NTF_DisplayToast)(const KX_NTF_TOAST_REQUEST* pRequest);

// Closes every showing toast of a kind, reporting each as dismissed.
// S_OK when one was closed, S_FALSE when none was showing.
typedef HRESULT(WINAPI* PFN_KX_NTF_HideToast)(UINT nKind);

// Brings the program's window forward after the user acted on a toast.
// S_OK; S_FALSE when the system kept the foreground elsewhere;
// E_HANDLE when hWnd is no window.
typedef HRESULT(WINAPI* PFN_KX_NTF_SwitchToDT)(HWND hWnd);

// KX_NTF_MODE_DESKTOP on Windows 8 and later, KX_NTF_MODE_BALLOON before.
// E_POINTER for a null pointer. Needs no initialisation.
typedef HRESULT(WINAPI* PFN_KX_NTF_GetDisplayMode)(DWORD* pdwMode);

HRESULT WINAPI KX_NTF_Initialize(void);
HRESULT WINAPI KX_NTF_Finalize(void);
HRESULT WINAPI KX_NTF_InitToastCmnInf(const KX_NTF_TOAST_CMN_INF* pInfo);
HRESULT WINAPI KX_NTF_DisplayToast(const KX_NTF_TOAST_REQUEST* pRequest);
HRESULT WINAPI KX_NTF_HideToast(UINT nKind);
HRESULT WINAPI KX_NTF_SwitchToDT(HWND hWnd);
HRESULT WINAPI KX_NTF_GetDisplayMode(DWORD* pdwMode);

#ifdef __cplusplus
}
#endif
