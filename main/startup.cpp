// Start-up of the main screen: what the command line asks for, the main
// window's creation, and the message loop with its keyboard routing.
#include "main/main_app.h"

#include <commctrl.h>
#include <shlwapi.h>
#include <strsafe.h>

#include <memory>

#include "common/log.h"
#include "main/program_ids.h"

namespace zbmain {

// ---- Command line -------------------------------------------------------------

namespace {

constexpr LPCWSTR kAcceptedSwitches[] = {L"/end",  L"/sleep", L"/dev",   L"/icon",
                                         L"/resv", L"/comp",  L"/delay", L"/nomain"};
// A second instance acts on "/icon" and "/comp" and answers "/import" and
// "/export"; of the rest only these are quietly accepted ("/sleep" alone is
// not: it means nothing without "/icon").
constexpr LPCWSTR kSecondInstanceQuiet[] = {L"/end", L"/dev", L"/resv", L"/delay", L"/nomain"};

template <size_t N> bool HasAnySwitch(const CommandLineMap& args, const LPCWSTR (&names)[N]) {
    for (LPCWSTR name : names) {
        if (HasSwitch(args, name))
            return true;
    }
    return false;
}

} // namespace

bool HasArguments(const CommandLineMap& args) {
    return args.size() > 1;
}

FirstInstanceAction DecideFirstInstance(const CommandLineMap& args) {
    if (HasSwitch(args, L"/import"))
        return FirstInstanceAction::Import;
    if (HasSwitch(args, L"/export"))
        return FirstInstanceAction::Export;
    if (HasSwitch(args, L"/report"))
        return FirstInstanceAction::Report;
    if (HasArguments(args) && !HasAnySwitch(args, kAcceptedSwitches))
        return FirstInstanceAction::StartAfterInvalidOption;
    return FirstInstanceAction::StartNormally;
}

SecondInstanceAction DecideSecondInstance(const CommandLineMap& args) {
    // A report only reads the history: the running screen is no obstacle.
    if (HasSwitch(args, L"/report"))
        return SecondInstanceAction::Report;
    if (HasSwitch(args, L"/icon"))
        return SecondInstanceAction::ShowRefresh;
    if (HasSwitch(args, L"/comp"))
        return SecondInstanceAction::ShowComplete;
    if (HasSwitch(args, L"/import") || HasSwitch(args, L"/export"))
        return SecondInstanceAction::ScreenOpen;
    if (HasArguments(args) && !HasAnySwitch(args, kSecondInstanceQuiet))
        return SecondInstanceAction::InvalidOption;
    return SecondInstanceAction::Nothing;
}

DWORD CheckConfigPath(LPCWSTR lpszPath) {
    if (!lpszPath)
        return ERROR_BAD_PATHNAME;
    size_t cch = 0;
    if (FAILED(StringCchLengthW(lpszPath, STRSAFE_MAX_CCH, &cch)) || cch == 0)
        return ERROR_BAD_PATHNAME;
    if (cch <= MAX_PATH)
        return 0;
    // Longer paths only in the UNC form, which has room for them.
    if (cch <= 32768 && PathIsUNCW(lpszPath))
        return 0;
    return ERROR_BAD_PATHNAME;
}

UINT ConsoleMessageForResult(DWORD dwResult, bool bImport, bool bEmptyPath) {
    switch (dwResult) {
    case 0:
        return 0;
    case ERROR_ACCESS_DENIED:
        return bImport ? IDS_CONFIG_READ_FAILED : IDS_CONFIG_CREATE_FAILED;
    case ERROR_NOT_READY:
        return IDS_CONFIG_INIT_FAILED;
    case ERROR_WRITE_FAULT:
        return bImport ? IDS_CONFIG_IMPORT_FAILED : IDS_CONFIG_WRITE_FAILED;
    case ERROR_NOT_SUPPORTED:
        return IDS_CONFIG_VERSION_MISMATCH;
    case ERROR_ACCESS_DISABLED_BY_POLICY:
        return IDS_MODE_SET_BY_POLICY;
    case ERROR_INVALID_PARAMETER:
        return IDS_INVALID_OPTION;
    case ERROR_BAD_PATHNAME:
        return bEmptyPath ? IDS_CONFIG_NO_PATH : IDS_INVALID_OPTION;
    default:
        return bImport ? IDS_CONFIG_IMPORT_FAILED : IDS_CONFIG_EXPORT_FAILED;
    }
}

int IsWindowShowMode(const MainApp& app) {
    CommandLineMap args;
    ParseCommandLine(args);
    if (!HasSwitch(args, L"/icon"))
        return 1;
    return app.windowShown ? 1 : 0;
}

// ---- The main window ----------------------------------------------------------

BOOL RegisterMainWindowClass(const MainApp& app) {
    if (!zb::RegisterAppWindowClass(app.instance, app.className,
                                    zb::StateWindowProc<MainWindowState, WndProc>, IDI_ZBMAIN,
                                    IDI_SMALL)) {
        LogApiFailure(L"RegisterMainWindowClass", __LINE__, L"RegisterClassEx", GetLastError());
        return FALSE;
    }
    return TRUE;
}

BOOL InitInstance(MainApp& app, int nCmdShow) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);

    std::unique_ptr<MainWindowState> state(new MainWindowState{app});
    HWND hWnd = zb::CreateWindowWithState(std::move(state), 0, app.className, app.title,
                                          WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                                          0, nullptr, nullptr, app.instance);
    if (!hWnd)
        return FALSE;
    app.startupTrace.Mark(L"main window created");

    RECT window = {};
    GetWindowRect(hWnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    SetWindowPos(hWnd, nullptr, screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    RECT dialog = {};
    if (!app.mainDialog || !GetWindowRect(app.mainDialog, &dialog))
        WriteLog(L"InitInstance", __LINE__, L"Fail to GetWindowRect(). dwRet: %08x.\n",
                 GetLastError());
    else
        SetClientRect(hWnd, &dialog);

    ShowWindow(hWnd, nCmdShow);
    app.startupTrace.Mark(L"window shown");
    UpdateWindow(hWnd);
    app.startupTrace.Mark(L"first paint");
    PostMessageW(app.mainDialog, WM_USER_FILLRESERVATION, 0, 0);
    return TRUE;
}

// ---- Keyboard routing -----------------------------------------------------------

namespace {

struct PageButtons {
    HWND page = nullptr;
    HWND first = nullptr; // first enabled of Start, Reservation, Charge mode
    HWND last = nullptr;  // first enabled of Charge mode, Reservation, Start
    HWND all[3] = {};
};

bool IsUsable(HWND hButton) {
    return hButton && IsWindowVisible(hButton) && IsWindowEnabled(hButton);
}

PageButtons VisiblePageButtons(const MainApp& app) {
    PageButtons buttons;
    int ids[3] = {};
    if (app.battery1Page && IsWindowVisible(app.battery1Page)) {
        buttons.page = app.battery1Page;
        ids[0] = IDC_BUTTON_REFRESH1, ids[1] = IDC_BUTTON_RESERVE1,
        ids[2] = IDC_BUTTON_CHAREGEMODE1;
    } else if (app.battery2Page && IsWindowVisible(app.battery2Page)) {
        buttons.page = app.battery2Page;
        ids[0] = IDC_BUTTON_REFRESH2, ids[1] = IDC_BUTTON_RESERVE2,
        ids[2] = IDC_BUTTON_CHAREGEMODE2;
    } else {
        return buttons;
    }
    for (int i = 0; i < 3; ++i)
        buttons.all[i] = GetDlgItem(buttons.page, ids[i]);
    for (int i = 0; i < 3 && !buttons.first; ++i)
        buttons.first = IsUsable(buttons.all[i]) ? buttons.all[i] : nullptr;
    for (int i = 2; i >= 0 && !buttons.last; --i)
        buttons.last = IsUsable(buttons.all[i]) ? buttons.all[i] : nullptr;
    return buttons;
}

void SetDefaultLook(HWND hButton, bool bDefault) {
    if (!hButton)
        return;
    LONG_PTR style = GetWindowLongPtrW(hButton, GWL_STYLE);
    style =
        bDefault ? (style | BS_DEFPUSHBUTTON) : (style & ~static_cast<LONG_PTR>(BS_DEFPUSHBUTTON));
    SendMessageW(hButton, BM_SETSTYLE, static_cast<WPARAM>(style & 0xFFFF), TRUE);
}

bool HasDefaultLook(HWND hButton) {
    return hButton && (GetWindowLongPtrW(hButton, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
}

// The button that carries the default look now, on the page or the main
// dialog.
HWND DefaultLookButton(const MainApp& app) {
    const PageButtons buttons = VisiblePageButtons(app);
    for (HWND hButton : buttons.all) {
        if (HasDefaultLook(hButton))
            return hButton;
    }
    for (int id : {IDC_BUTTON_HELP, IDC_BUTTON_README, IDCANCEL}) {
        HWND hButton = GetDlgItem(app.mainDialog, id);
        if (HasDefaultLook(hButton))
            return hButton;
    }
    return nullptr;
}

void TrackKeyboardOwner(MainApp& app, const MSG& msg) {
    HWND owner = nullptr;
    const PageButtons buttons = VisiblePageButtons(app);
    for (HWND hButton : buttons.all) {
        if (hButton && msg.hwnd == hButton)
            owner = buttons.page;
    }
    if (app.mainDialog) {
        for (int id : {IDC_BUTTON_HELP, IDC_BUTTON_README, IDCANCEL, IDC_TAB}) {
            if (msg.hwnd == GetDlgItem(app.mainDialog, id))
                owner = app.mainDialog;
        }
    }
    if (owner && owner != app.keyboardOwner) {
        SetDefaultLook(DefaultLookButton(app), false);
        app.keyboardOwner = owner;
    }
}

bool DialogNavigate(HWND hDlg, MSG* pMsg) {
    return hDlg && IsDialogMessageW(hDlg, pMsg);
}

// Tab, Shift+Tab, Up and Down between the main dialog and the visible
// page, which are separate dialogs: true when the key was handled here.
bool RunFocusRing(MainApp& app, MSG* pMsg) {
    if (!app.mainDialog)
        return false;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const bool forward = pMsg->wParam == VK_DOWN || (pMsg->wParam == VK_TAB && !shift);
    HWND hTab = GetDlgItem(app.mainDialog, IDC_TAB);
    HWND hHelp = GetDlgItem(app.mainDialog, IDC_BUTTON_HELP);
    const int selection = hTab ? TabCtrl_GetCurSel(hTab) : 0;

    if (selection <= 0) {
        if (pMsg->hwnd == hTab && pMsg->wParam == VK_DOWN) {
            app.keyboardOwner = app.mainDialog;
            return DialogNavigate(app.mainDialog, pMsg);
        }
        return false;
    }

    const PageButtons buttons = VisiblePageButtons(app);
    for (HWND hButton : buttons.all)
        SetDefaultLook(hButton, false);

    if (forward && pMsg->hwnd == hTab) {
        if (!buttons.first) {
            app.keyboardOwner = app.mainDialog;
            return DialogNavigate(app.mainDialog, pMsg);
        }
        SetDefaultLook(buttons.first, true);
        SetDefaultLook(GetDlgItem(app.mainDialog, IDCANCEL), false);
        app.keyboardOwner = buttons.page;
        SetFocus(buttons.first);
        return true;
    }
    if (forward && (pMsg->hwnd == buttons.last || (!buttons.last && pMsg->hwnd == buttons.page))) {
        app.keyboardOwner = app.mainDialog;
        pMsg->hwnd = hTab;
        return DialogNavigate(app.mainDialog, pMsg);
    }
    if (!forward && buttons.first && pMsg->hwnd == buttons.first) {
        app.keyboardOwner = app.mainDialog;
        pMsg->hwnd = hHelp;
        return DialogNavigate(app.mainDialog, pMsg);
    }
    if (!forward && pMsg->hwnd == hHelp && buttons.last) {
        SetDefaultLook(buttons.last, true);
        SetDefaultLook(hHelp, false);
        SetFocus(buttons.last);
        app.keyboardOwner = buttons.page;
        return true;
    }
    return false;
}

bool OfferToDialogs(const MainApp& app, MSG* pMsg) {
    for (HWND hDlg : {app.battery1Page, app.battery2Page, app.mainDialog}) {
        if (DialogNavigate(hDlg, pMsg))
            return true;
    }
    for (const zb::ModelessSlot* slot :
         {&app.readMe, &app.refreshDialog, &app.completeWindow, &app.confirmDialog,
          &app.reservationDialog, &app.chargeModeDialog}) {
        if (slot->Route(pMsg))
            return true;
    }
    return false;
}

} // namespace

int RunMessageLoop(MainApp& app, HACCEL hAccel) {
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (hAccel && TranslateAcceleratorW(app.mainWindow, hAccel, &msg))
            continue;
        if (msg.message == WM_LBUTTONDOWN)
            TrackKeyboardOwner(app, msg);
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_LEFT && app.mainDialog &&
            msg.hwnd == GetDlgItem(app.mainDialog, IDC_BUTTON_HELP))
            continue;
        if (msg.message == WM_KEYDOWN &&
            (msg.wParam == VK_TAB || msg.wParam == VK_UP || msg.wParam == VK_DOWN) &&
            RunFocusRing(app, &msg))
            continue;
        if (OfferToDialogs(app, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

} // namespace zbmain
