// Stand-ins for main-screen pieces that are built on other branches (the
// result fill, the message box, the configuration file, the task layer's
// start-time read and the refresh run's windows). Each keeps this program
// building and usable until the real piece arrives; this file then goes.
#include <windows.h>

#include "common/log.h"
#include "main/config_file.h"
#include "main/main_app.h"
#include "main/message_box.h"
#include "main/program_ids.h"
#include "main/reservation_query.h"
#include "main/result_info.h"

namespace zbmain {

int TaskDlgMessageBox(HWND hWnd, LPCWSTR lpstrMsg, LPCWSTR lpstrCaption, UINT uType,
                      LPCWSTR lpstrButton) {
    if (!lpstrMsg || !lpstrCaption)
        return 0;
    return MessageBoxW(hWnd, lpstrMsg, lpstrCaption, lpstrButton ? (uType & ~0xFu) : uType);
}

int TaskDlgMessageBox(HWND hWnd, UINT uMsgId, UINT uCaptionId, UINT uType) {
    WCHAR text[256] = L"";
    WCHAR caption[256] = L"";
    LoadStringW(App().instance, uMsgId, text, ARRAYSIZE(text));
    LoadStringW(App().instance, uCaptionId, caption, ARRAYSIZE(caption));
    return TaskDlgMessageBox(hWnd, text, caption, uType);
}

int TaskDlgMessageBox(HWND hWnd, UINT uMsgId, UINT uCaptionId, UINT uType, UINT uButtonId) {
    WCHAR text[256] = L"";
    WCHAR caption[256] = L"";
    WCHAR button[256] = L"";
    LoadStringW(App().instance, uMsgId, text, ARRAYSIZE(text));
    LoadStringW(App().instance, uCaptionId, caption, ARRAYSIZE(caption));
    LoadStringW(App().instance, uButtonId, button, ARRAYSIZE(button));
    return TaskDlgMessageBox(hWnd, text, caption, uType, button);
}

void SetResultDlgInfo(HWND, const CBatteryArray*) {}

DWORD ImportConfigFile(LPCWSTR, const CBatteryArray&) {
    return ERROR_FUNCTION_FAILED;
}

DWORD ExportConfigFile(LPCWSTR, const CBatteryArray&, ProfileStringWriter) {
    return ERROR_FUNCTION_FAILED;
}

HRESULT ReadReservedStartTime(SYSTEMTIME*) {
    return E_NOTIMPL;
}

HWND CreateRefreshWindow(UINT) {
    return nullptr;
}

HWND CreateCompleteWindow() {
    return nullptr;
}

HWND CreateConfirmDialog(HWND, CBattery*) {
    return nullptr;
}

HWND CreateReservationDialog(HWND, CBatteryArray*) {
    return nullptr;
}

} // namespace zbmain
