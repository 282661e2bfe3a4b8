// zbMain.exe: the main screen. One instance per session; a second one hands
// its request to the first by window message and ends. "/import" and
// "/export" copy the charge modes to or from a file without a window;
// "/report" writes the battery history out, in either instance.
#include <windows.h>

#include <commctrl.h>
#include <locale.h>
#include <objbase.h>

#include "battery/history.h"
#include "common/handles.h"
#include "common/help.h"
#include "common/log.h"
#include "common/toast.h"
#include "ipc/pipe.h"
#include "main/config_file.h"
#include "main/main_app.h"
#include "main/message_box.h"
#include "main/program_ids.h"

using namespace zbmain;

namespace {

// "/report": the report, and the console message of a failure.
void RunReportCommand(HINSTANCE hInstance, const CommandLineMap& args) {
    const std::wstring& path = args.at(L"/report");
    wchar_t history[MAX_PATH] = {};
    const HRESULT hr = zbhistory::GetHistoryPath(history, ARRAYSIZE(history));
    const DWORD result = WriteHistoryReport(path.c_str(), SUCCEEDED(hr) ? history : nullptr);
    const UINT message = ConsoleMessageForReport(result, path.empty());
    if (message)
        WriteConsoleMessage(hInstance, message);
}

void RunSecondInstance(HINSTANCE hInstance) {
    CommandLineMap args;
    ParseCommandLine(args);
    if (DecideSecondInstance(args) == SecondInstanceAction::Report) {
        RunReportCommand(hInstance, args);
        return;
    }
    HWND hRunning = FindWindowW(MAIN_WINDOW_CLASS, nullptr);
    if (!hRunning)
        return;
    switch (DecideSecondInstance(args)) {
    case SecondInstanceAction::ShowRefresh:
        SendMessageW(hRunning, WM_USER_SHOWREFRESH, HasSwitch(args, L"/sleep") ? 1 : 0, 0);
        break;
    case SecondInstanceAction::ShowComplete:
        SendMessageW(hRunning, WM_USER_SHOWCOMPLETE, 0, 0);
        break;
    case SecondInstanceAction::ScreenOpen:
        WriteConsoleMessage(hInstance, IDS_CONFIG_SCREEN_OPEN);
        break;
    case SecondInstanceAction::InvalidOption:
        WriteConsoleMessage(hInstance, IDS_INVALID_OPTION);
        break;
    case SecondInstanceAction::Report:
    case SecondInstanceAction::Nothing:
        break;
    }
}

// "/import" or "/export": the path check, the copy, and the console
// message of a failure.
void RunConfigCommand(HINSTANCE hInstance, const CommandLineMap& args, bool bImport,
                      const CBatteryArray& batteries) {
    const std::wstring& path = args.at(bImport ? L"/import" : L"/export");
    DWORD result = CheckConfigPath(path.c_str());
    // A running refresh has released one battery's mode and holds the
    // other's; a mode imported now would stall or undo it.
    if (result == 0 && bImport && IsRefreshToolRunning()) {
        WriteLog(L"wWinMain", __LINE__, L"A refresh tool runs: the import is refused.\n");
        WriteConsoleMessage(hInstance, IDS_MODE_LOCKED_BY_REFRESH);
        return;
    }
    if (result == 0)
        result = bImport ? ImportConfigFile(path.c_str(), batteries)
                         : ExportConfigFile(path.c_str(), batteries);
    const UINT message = ConsoleMessageForResult(result, bImport, path.empty());
    if (message)
        WriteConsoleMessage(hInstance, message);
}

} // namespace

int APIENTRY wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    zb::UniqueHandle instanceMutex(CreateMutexW(nullptr, FALSE, L"vadovurMUTEX2"));
    const DWORD mutexError = GetLastError();
    if (mutexError == ERROR_ALREADY_EXISTS || mutexError == ERROR_ACCESS_DENIED) {
        RunSecondInstance(hInstance);
        return 0;
    }

    // The screen's state lives as long as the program; the main window and
    // the message loop work with it.
    MainApp app;
    app.instance = hInstance;
    app.startupTrace.Mark(L"wWinMain, single instance");
    if (RefreshToolUser() == PIPE_USER_OTHER) {
        TaskDlgMessageBox(nullptr, IDS_OTHER_USER_REFRESHING, IDS_APP_TITLE, MB_ICONWARNING,
                          IDS_EXIT);
        return 0;
    }
    app.startupTrace.Mark(L"refresh pipe's user");

    LoadStringW(hInstance, IDS_APP_TITLE, app.title, ARRAYSIZE(app.title));
    LoadStringW(hInstance, IDS_CLASS_NAME, app.className, ARRAYSIZE(app.className));
    RegisterMainWindowClass(app);
    _wsetlocale(LC_ALL, L"");
    app.startupTrace.Mark(L"window class, locale");
    CoInitialize(nullptr);
    app.startupTrace.Mark(L"COM");

    CBatteryArray batteries;
    app.startupTrace.Mark(L"batteries, device library");
    app.batteries = &batteries;
    CommandLineMap args;
    ParseCommandLine(args);
    app.sleepAfterCompletion = HasSwitch(args, L"/sleep") ? TRUE : FALSE;

    switch (DecideFirstInstance(args)) {
    case FirstInstanceAction::Import:
    case FirstInstanceAction::Export:
        RunConfigCommand(hInstance, args, DecideFirstInstance(args) == FirstInstanceAction::Import,
                         batteries);
        CoUninitialize();
        return 0;
    case FirstInstanceAction::Report:
        RunReportCommand(hInstance, args);
        CoUninitialize();
        return 0;
    case FirstInstanceAction::StartAfterInvalidOption:
        WriteConsoleMessage(hInstance, IDS_INVALID_OPTION);
        break;
    case FirstInstanceAction::StartNormally:
        break;
    }

    const HRESULT hrToast = GetToastLibrary().InitializeToast();
    if (FAILED(hrToast))
        WriteLog(L"wWinMain", __LINE__, L"ToastDll Init Failed. hr: %08x.\n", hrToast);
    app.startupTrace.Mark(L"toast library");

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    app.startupTrace.Mark(L"common controls");
    if (!InitInstance(app, IsWindowShowMode(app) == 1 ? SW_SHOWNORMAL : SW_HIDE)) {
        GetToastLibrary().FinalizeToast();
        CoUninitialize();
        return 0;
    }

    HACCEL hAccel = LoadAcceleratorsW(hInstance, MAKEINTRESOURCEW(IDC_ZBMAIN));
    const DWORD_PTR helpCookie = InitializeHelp();
    app.startupTrace.Mark(L"help library");
    app.startupTrace.WriteIfAsked();
    const int exitCode = RunMessageLoop(app, hAccel);
    UninitializeHelp(helpCookie);
    GetToastLibrary().FinalizeToast();
    CoUninitialize();
    return exitCode;
}
