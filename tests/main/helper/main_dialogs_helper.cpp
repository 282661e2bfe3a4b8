// Shows one of the main screen's message boxes as a program of its own, for
// the tests to find and press:
//   main_dialogs_helper message   a question box with one custom button;
//                                 exits with the button's id
//   main_dialogs_helper sleep     the sleep countdown; exits 0 when it ran,
//                                 else 1
// A system menu belongs to its process, so this program looks at its
// dialog's menu itself and tells the test through the window property
// "SystemMenuTrimmed": 1 when only Move and Close are left, 2 otherwise.
#include "main/message_box.h"

#include <windows.h>

#include <string>

namespace {

HWND OwnVisibleDialog() {
    for (HWND hwnd = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); hwnd;
         hwnd = FindWindowExW(nullptr, hwnd, L"#32770", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd))
            return hwnd;
    }
    return nullptr;
}

DWORD WINAPI ReportSystemMenu(void*) {
    for (int i = 0; i < 1500; ++i, Sleep(10)) {
        HWND dialog = OwnVisibleDialog();
        if (!dialog)
            continue;
        HMENU menu = GetSystemMenu(dialog, FALSE);
        bool trimmed = menu && GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) != static_cast<UINT>(-1);
        for (UINT command : {SC_SIZE, SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE})
            trimmed = trimmed && GetMenuState(menu, command, MF_BYCOMMAND) == static_cast<UINT>(-1);
        SetPropW(dialog, L"SystemMenuTrimmed", reinterpret_cast<HANDLE>(trimmed ? 1 : 2));
        return 0;
    }
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    HANDLE watcher = CreateThread(nullptr, 0, ReportSystemMenu, nullptr, 0, nullptr);
    if (watcher)
        CloseHandle(watcher);
    if (mode == L"message")
        return zbmain::TaskDlgMessageBox(nullptr, L"本文のテキスト", L"テストの表題",
                                         MB_OK | MB_ICONQUESTION, L"閉じる");
    if (mode == L"sleep")
        return SUCCEEDED(zbmain::SleepTaskDlg(nullptr)) ? 0 : 1;
    return 2;
}
