// KX_NTF.dll: toasts as small popups stacked above the notification area.
//
// Each toast is one top-level popup window of class KX_NTF_POPUP_CLASS on
// the thread that initialised the library. It never takes the focus
// (WS_EX_NOACTIVATE, SW_SHOWNOACTIVATE, MA_NOACTIVATE), stays on top, and
// ends in exactly one way, each reported to the program's window:
//   a click on its body        -> activated
//   a click on its close box   -> dismissed (also KX_NTF_HideToast)
//   its duration passing       -> timed out
// KX_NTF_Finalize closes what is left without reporting: the program is
// shutting down and its window is usually gone already.
//
// The library stands alone: it links nothing of the suite, so it can ship
// and be replaced on its own.
#include "toast/kx_ntf.h"

#include <windowsx.h>
#include <strsafe.h>

#include <atomic>
#include <new>
#include <vector>

namespace {

constexpr int kPopupWidth = 360;
constexpr int kMinPopupHeight = 64;
constexpr int kMaxPopupHeight = 240;
constexpr int kPadding = 12;
constexpr int kCloseBox = 16;
constexpr int kMargin = 8; // between popups, and from the work area's edge
constexpr UINT_PTR kTimeoutTimer = 1;
constexpr size_t kAppIdCch = 129; // an application user model id has at most 128 characters
constexpr size_t kPaintTextCch = 1024;

enum class ToastEnd { Activated, Dismissed, TimedOut };

// What a popup window carries besides its text (GWLP_USERDATA).
struct Popup {
    UINT nKind;
};

struct Library {
    HINSTANCE hInstance = nullptr;
    // 0 while not initialised. Atomic because a wrong thread may ask.
    std::atomic<DWORD> ownerThread{0};
    HFONT hFont = nullptr;
    bool ownsFont = false;
    bool hasCommonInfo = false;
    WCHAR szAppId[kAppIdCch] = {};
    KX_NTF_TOAST_CMN_INF info = {};
    std::vector<HWND> popups; // oldest first; the oldest sits lowest
};

Library g_lib;

HRESULT CheckOwnerThread() {
    const DWORD owner = g_lib.ownerThread.load();
    if (owner == 0)
        return E_UNEXPECTED;
    return owner == GetCurrentThreadId() ? S_OK : RPC_E_WRONG_THREAD;
}

HRESULT HResultFromLastError() {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

void Report(UINT uMsg, UINT nKind) {
    if (uMsg != 0 && g_lib.info.hWnd)
        PostMessageW(g_lib.info.hWnd, uMsg, nKind, 0);
}

Popup* PopupOf(HWND hWnd) {
    return reinterpret_cast<Popup*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
}

// The message font of the system, or the stock GUI font when it cannot be had.
void CreatePopupFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        g_lib.hFont = CreateFontIndirectW(&metrics.lfMessageFont);
        g_lib.ownsFont = g_lib.hFont != nullptr;
    }
    if (!g_lib.hFont)
        g_lib.hFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void DeletePopupFont() {
    if (g_lib.ownsFont)
        DeleteObject(g_lib.hFont);
    g_lib.hFont = nullptr;
    g_lib.ownsFont = false;
}

RECT TextRect(const RECT& client) {
    return RECT{client.left + kPadding, client.top + kPadding, client.right - kPadding - kCloseBox,
                client.bottom - kPadding};
}

RECT CloseBoxRect(const RECT& client) {
    const int edge = kPadding / 2;
    return RECT{client.right - edge - kCloseBox, client.top + edge, client.right - edge,
                client.top + edge + kCloseBox};
}

const UINT kTextFormat = DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL;

// Height that shows the whole text at the popup's width, within bounds.
int PopupHeight(LPCWSTR lpszText) {
    HDC hdc = GetDC(nullptr);
    if (!hdc)
        return kMinPopupHeight;
    const HGDIOBJ old = SelectObject(hdc, g_lib.hFont);
    RECT client = {0, 0, kPopupWidth, 0};
    RECT text = TextRect(client);
    text.bottom = text.top;
    DrawTextW(hdc, lpszText, -1, &text, kTextFormat | DT_CALCRECT);
    SelectObject(hdc, old);
    ReleaseDC(nullptr, hdc);
    const int height = static_cast<int>(text.bottom - text.top) + 2 * kPadding;
    return height < kMinPopupHeight ? kMinPopupHeight
                                    : (height > kMaxPopupHeight ? kMaxPopupHeight : height);
}

// Stacks the popups upwards from the bottom-right corner of the work area.
void LayoutPopups() {
    RECT work = {};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        work = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    int bottom = work.bottom - kMargin;
    for (HWND hWnd : g_lib.popups) {
        RECT rc = {};
        GetWindowRect(hWnd, &rc);
        const int width = rc.right - rc.left;
        const int height = rc.bottom - rc.top;
        SetWindowPos(hWnd, HWND_TOPMOST, work.right - kMargin - width, bottom - height, 0, 0,
                     SWP_NOSIZE | SWP_NOACTIVATE);
        bottom -= height + kMargin;
    }
}

// Reports how the toast ended and closes its popup. False when the popup
// could not be closed (it then stays in the list).
bool EndToast(HWND hWnd, ToastEnd end) {
    const Popup* popup = PopupOf(hWnd);
    if (popup) {
        switch (end) {
        case ToastEnd::Activated:
            Report(g_lib.info.uMsgActivated, popup->nKind);
            break;
        case ToastEnd::Dismissed:
            Report(g_lib.info.uMsgDismissed, popup->nKind);
            break;
        case ToastEnd::TimedOut:
            Report(g_lib.info.uMsgTimedOut, popup->nKind);
            break;
        }
    }
    return DestroyWindow(hWnd) != FALSE;
}

void OnPaint(HWND hWnd) {
    PAINTSTRUCT ps = {};
    HDC hdc = BeginPaint(hWnd, &ps);
    if (!hdc)
        return;
    RECT client = {};
    GetClientRect(hWnd, &client);
    WCHAR szText[kPaintTextCch] = {};
    GetWindowTextW(hWnd, szText, ARRAYSIZE(szText));
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, GetSysColor(COLOR_INFOTEXT));
    const HGDIOBJ old = SelectObject(hdc, g_lib.hFont);
    RECT text = TextRect(client);
    DrawTextW(hdc, szText, -1, &text, kTextFormat | DT_END_ELLIPSIS);
    RECT close = CloseBoxRect(client);
    DrawTextW(hdc, L"\u00D7", 1, &close, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(hdc, old);
    EndPaint(hWnd, &ps);
}

void OnLButtonUp(HWND hWnd, LPARAM lParam) {
    RECT client = {};
    GetClientRect(hWnd, &client);
    const RECT close = CloseBoxRect(client);
    const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    EndToast(hWnd, PtInRect(&close, pt) ? ToastEnd::Dismissed : ToastEnd::Activated);
}

void OnNcDestroy(HWND hWnd) {
    KillTimer(hWnd, kTimeoutTimer);
    delete PopupOf(hWnd);
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    for (auto it = g_lib.popups.begin(); it != g_lib.popups.end(); ++it) {
        if (*it == hWnd) {
            g_lib.popups.erase(it);
            break;
        }
    }
    LayoutPopups();
}

LRESULT CALLBACK PopupWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_PAINT:
        OnPaint(hWnd);
        return 0;
    case WM_LBUTTONUP:
        OnLButtonUp(hWnd, lParam);
        return 0;
    case WM_TIMER:
        if (wParam == kTimeoutTimer)
            EndToast(hWnd, ToastEnd::TimedOut);
        return 0;
    case WM_NCDESTROY:
        OnNcDestroy(hWnd);
        break;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

UINT DurationMs(LPCWSTR lpszDuration) {
    if (lpszDuration && lstrcmpiW(lpszDuration, KX_NTF_DURATION_LONG) == 0)
        return KX_NTF_LONG_MS;
    return KX_NTF_SHORT_MS;
}

bool IsWindows8OrLaterHost() {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

// A popup that could not be shown: the program hears "failed" as well.
HRESULT FailToast(UINT nKind, HRESULT hr) {
    Report(g_lib.info.uMsgFailed, nKind);
    return hr;
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_lib.hInstance = hInstance;
        DisableThreadLibraryCalls(hInstance);
    }
    return TRUE;
}

extern "C" {

HRESULT WINAPI KX_NTF_Initialize(void) {
    const DWORD self = GetCurrentThreadId();
    DWORD owner = 0;
    if (!g_lib.ownerThread.compare_exchange_strong(owner, self))
        return owner == self ? S_FALSE : RPC_E_WRONG_THREAD;

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PopupWndProc;
    wc.hInstance = g_lib.hInstance;
    wc.hCursor = LoadCursorW(nullptr, IDC_HAND);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_INFOBK + 1));
    wc.lpszClassName = KX_NTF_POPUP_CLASS;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        const HRESULT hr = HResultFromLastError();
        g_lib.ownerThread = 0;
        return hr;
    }
    CreatePopupFont();
    return S_OK;
}

HRESULT WINAPI KX_NTF_Finalize(void) {
    const HRESULT hr = CheckOwnerThread();
    if (hr == E_UNEXPECTED)
        return S_FALSE;
    if (FAILED(hr))
        return hr;
    // Closing a popup removes it from the list (WM_NCDESTROY); nothing is
    // reported because EndToast is not involved.
    while (!g_lib.popups.empty()) {
        const HWND hWnd = g_lib.popups.back();
        if (!DestroyWindow(hWnd))
            g_lib.popups.pop_back();
    }
    UnregisterClassW(KX_NTF_POPUP_CLASS, g_lib.hInstance);
    DeletePopupFont();
    g_lib.info = KX_NTF_TOAST_CMN_INF{};
    g_lib.szAppId[0] = L'\0';
    g_lib.hasCommonInfo = false;
    g_lib.ownerThread = 0;
    return S_OK;
}

HRESULT WINAPI KX_NTF_InitToastCmnInf(const KX_NTF_TOAST_CMN_INF* pInfo) {
    const HRESULT hr = CheckOwnerThread();
    if (FAILED(hr))
        return hr;
    if (!pInfo)
        return E_POINTER;
    if (!pInfo->lpszAppId || !*pInfo->lpszAppId || !IsWindow(pInfo->hWnd))
        return E_INVALIDARG;
    WCHAR szAppId[kAppIdCch] = {};
    if (FAILED(StringCchCopyW(szAppId, ARRAYSIZE(szAppId), pInfo->lpszAppId)))
        return E_INVALIDARG;
    StringCchCopyW(g_lib.szAppId, ARRAYSIZE(g_lib.szAppId), szAppId);
    g_lib.info = *pInfo;
    g_lib.info.lpszAppId = g_lib.szAppId;
    g_lib.hasCommonInfo = true;
    return S_OK;
}

HRESULT WINAPI KX_NTF_DisplayToast(const KX_NTF_TOAST_REQUEST* pRequest) {
    const HRESULT hr = CheckOwnerThread();
    if (FAILED(hr))
        return hr;
    if (!pRequest)
        return E_POINTER;
    if (!pRequest->lpszText || !*pRequest->lpszText)
        return E_INVALIDARG;
    if (!g_lib.hasCommonInfo)
        return E_UNEXPECTED;

    const UINT nKind = pRequest->nKind;
    Popup* popup = new (std::nothrow) Popup{nKind};
    if (!popup)
        return FailToast(nKind, E_OUTOFMEMORY);
    const HWND hWnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                      KX_NTF_POPUP_CLASS, pRequest->lpszText, WS_POPUP | WS_BORDER,
                                      0, 0, kPopupWidth, PopupHeight(pRequest->lpszText), nullptr,
                                      nullptr, g_lib.hInstance, nullptr);
    if (!hWnd) {
        const HRESULT hrCreate = HResultFromLastError();
        delete popup;
        return FailToast(nKind, hrCreate);
    }
    // From here the window owns the record and frees it in WM_NCDESTROY.
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(popup));
    if (!SetTimer(hWnd, kTimeoutTimer, DurationMs(pRequest->lpszDuration), nullptr)) {
        const HRESULT hrTimer = HResultFromLastError();
        DestroyWindow(hWnd);
        return FailToast(nKind, hrTimer);
    }
    try {
        g_lib.popups.push_back(hWnd);
    } catch (const std::bad_alloc&) {
        DestroyWindow(hWnd);
        return FailToast(nKind, E_OUTOFMEMORY);
    }
    LayoutPopups();
    ShowWindow(hWnd, SW_SHOWNOACTIVATE);
    Report(g_lib.info.uMsgShown, nKind);
    return S_OK;
}

HRESULT WINAPI KX_NTF_HideToast(UINT nKind) {
    const HRESULT hr = CheckOwnerThread();
    if (FAILED(hr))
        return hr;
    bool hidden = false;
    for (size_t i = 0; i < g_lib.popups.size();) {
        const HWND hWnd = g_lib.popups[i];
        const Popup* popup = PopupOf(hWnd);
        if (popup && popup->nKind == nKind && EndToast(hWnd, ToastEnd::Dismissed)) {
            hidden = true; // the popup left the list; i is the next one now
            continue;
        }
        ++i;
    }
    return hidden ? S_OK : S_FALSE;
}

HRESULT WINAPI KX_NTF_SwitchToDT(HWND hWnd) {
    const HRESULT hr = CheckOwnerThread();
    if (FAILED(hr))
        return hr;
    if (!IsWindow(hWnd))
        return E_HANDLE;
    if (IsIconic(hWnd))
        ShowWindow(hWnd, SW_RESTORE);
    return SetForegroundWindow(hWnd) ? S_OK : S_FALSE;
}

HRESULT WINAPI KX_NTF_GetDisplayMode(DWORD* pdwMode) {
    if (!pdwMode)
        return E_POINTER;
    *pdwMode = IsWindows8OrLaterHost() ? KX_NTF_MODE_DESKTOP : KX_NTF_MODE_BALLOON;
    return S_OK;
}

} // extern "C"
