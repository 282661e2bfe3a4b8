// zbshots: puts the running main screen into the state a screenshot needs
// and prints the rectangle to capture ("WxH+X+Y", screen pixels), for
// tools/screenshots. One step per call:
//   zbshots tab <n>           main window, tab n selected
//   zbshots readme            the read-me dialog
//   zbshots chargemode <b>    the charge mode dialog of battery b
//   zbshots message           the message box in front of the main window
//   zbshots close             closes the dialog in front (Cancel / OK)
//   zbshots exit              ends the main screen
#include <windows.h>

#include <stdio.h>

#include <string>

#include "main/program_ids.h"
#include "support/ui_driver.h"

namespace {

constexpr wchar_t kTitle[] = L"バッテリ・リフレッシュ＆診断ツール";

int PrintRect(HWND hWnd) {
    RECT rc = {};
    if (!hWnd || !GetWindowRect(hWnd, &rc))
        return 1;
    wprintf(L"%ldx%ld+%ld+%ld\n", rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top);
    return 0;
}

HWND FrontDialog(HWND hMain) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hMain, &pid);
    return ui::WaitForWindow(pid, L"#32770", kTitle, 5000);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    const std::wstring step = argv[1];
    // The main screen runs on the virtual desktop "shots" of tools/screenshots;
    // windows are found only from a thread on the same desktop.
    HDESK desktop = nullptr;
    for (int i = 0; i < 200 && !desktop; ++i) {
        desktop = OpenDesktopW(L"shots", 0, FALSE, GENERIC_ALL);
        if (!desktop)
            Sleep(100);
    }
    if (desktop)
        SetThreadDesktop(desktop);
    HWND hMain = ui::WaitForWindow(0, L"zbMain", kTitle, ui::kWaitMs, false);
    if (!hMain)
        return 1;
    HWND hDialog = FindWindowExW(hMain, nullptr, L"#32770", nullptr);
    if (step == L"tab" && argc > 2) {
        ui::SelectTab(hDialog, IDC_TAB, _wtoi(argv[2]));
        Sleep(500);
        return PrintRect(hMain);
    }
    if (step == L"readme") {
        PostMessageW(hMain, WM_COMMAND, 0x800B, 0);
        return PrintRect(FrontDialog(hMain));
    }
    if (step == L"chargemode" && argc > 2) {
        const int battNo = _wtoi(argv[2]);
        ui::SelectTab(hDialog, IDC_TAB, battNo);
        ui::Click(hDialog, battNo == 1 ? IDC_BUTTON_CHAREGEMODE1 : IDC_BUTTON_CHAREGEMODE2);
        Sleep(500);
        return PrintRect(FrontDialog(hMain));
    }
    if (step == L"message") {
        Sleep(500);
        return PrintRect(FrontDialog(hMain));
    }
    if (step == L"close") {
        HWND hFront = FrontDialog(hMain);
        ui::Click(hFront, IDCANCEL);
        ui::Click(hFront, IDC_CM_REFUSAL_OK);
        ui::Click(hFront, IDOK);
        Sleep(500);
        return 0;
    }
    if (step == L"exit") {
        PostMessageW(hMain, WM_CLOSE, 0, 0);
        return 0;
    }
    return 2;
}
