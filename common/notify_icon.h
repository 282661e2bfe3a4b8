// The program's icon in the notification area and the balloons shown on it
// where toasts are not available (before Windows 8, or without the toast
// library).
//
// Each program keeps one NOTIFYICONDATAW record for icon id 0 of its main
// window and passes it to every call: each function fills the fields it
// needs and the record keeps the rest from the calls before. Called only
// from the window thread that owns the record.
#pragma once

#include <windows.h>
#include <shellapi.h>

// Callback messages the shell posts to the window; with version 4 the low
// word of lParam is the event.
constexpr UINT WM_NOTIFYICON = 0x402;         // the normal icon and its balloons
constexpr UINT WM_NOTIFYICON_CAUTION = 0x403; // the icon of OpenBalloonCaution

// Balloon icon styles of OpenBalloonEx.
constexpr DWORD BALLOON_INFO = 1;    // NIIF_INFO
constexpr DWORD BALLOON_WARNING = 2; // NIIF_WARNING

// Adds the icon (or updates it when it is there already) with the tooltip
// (at most 128 characters) and sets version 4. 0 or the Win32 error;
// ERROR_INVALID_PARAMETER for a null tooltip or record.
DWORD AddNotifyIcon(HWND hWnd, LPCWSTR lpstrToolTip, UINT uIconId, NOTIFYICONDATAW* pNotif);

// Shows a balloon (title at most 64, text at most 256 characters) on the
// icon, which must have been added: otherwise the shell's error. dwInfoFlags
// is BALLOON_INFO or BALLOON_WARNING.
DWORD OpenBalloonEx(HWND hWnd, LPCWSTR lpstrTitle, LPCWSTR lpstrMsg, UINT uIconId,
                    DWORD dwInfoFlags, NOTIFYICONDATAW* pNotif);

// Adds (or updates) the icon together with a warning balloon in one step,
// calling back with WM_NOTIFYICON_CAUTION; the tooltip is optional.
DWORD OpenBalloonCaution(HWND hWnd, LPCWSTR lpstrTitle, LPCWSTR lpstrMsg, LPCWSTR lpstrToolTip,
                         UINT uIconId, NOTIFYICONDATAW* pNotif);

// Removes the icon: 0 or the shell's error.
DWORD PostNcDestroy(HWND hWnd, NOTIFYICONDATAW* pNotif);

// What the user asked of the icon.
enum class NotifyIconAction {
    kNone,
    kOpen,           // double click, or Enter / Space on the focused icon
    kMenu,           // right button, or the menu key / Shift+F10
    kBalloonClicked, // NIN_BALLOONUSERCLICK
    kBalloonTimedOut,
    kPointerOver, // WM_MOUSEMOVE
};

// Turns the callback's events into what the user asked for. With version 4
// the shell reports a mouse click twice, as the button's message and then
// as the keyboard's (WM_LBUTTONUP then NIN_SELECT, WM_RBUTTONUP then
// WM_CONTEXTMENU; Wine's notification area does the same): the second one
// belongs to the click and is not acted on again. NIN_SELECT or
// WM_CONTEXTMENU without the button before it comes from the keyboard.
// One per icon owner, fed every callback of its icon in order.
class CNotifyIconInput {
public:
    NotifyIconAction Decode(LPARAM lParam);

private:
    UINT m_uLastEvent = 0;
};
