// zbRefresh.exe: runs one battery refresh with a hidden window and ends.
// The exit code is 0 on every path; the outcome is in the registry and in
// the notices on the pipes.
#include <windows.h>

#include <locale.h>

#include "common/log.h"
#include "common/util.h"
#include "ipc/session_user.h"
#include "refresh/refresh_tool.h"
#include "refresh/refresh_wnd.h"
#include "refresh/startup.h"

int APIENTRY wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    using namespace zbrefresh;
    if (IsStartRefusedForUser())
        return 0;

    CommandLineMap args;
    ParseCommandLine(args);
    const RefreshSwitches switches = ReadRefreshSwitches(args);
    if (switches.end) {
        SendEndRequest();
        return 0;
    }

    const zb::UniqueHandle instanceMutex = CreateInstanceMutex(switches.delay);
    if (!instanceMutex)
        return 0;

    RefreshStartup& startup = GetRefreshStartup();
    startup.instance = hInstance;
    startup.switchSleep = switches.sleep;
    startup.switchResv = switches.resv;
    startup.switchNoMain = switches.noMain;
    wchar_t sessionUser[USER_NAME_CCH] = L"";
    if (!switches.delay)
        SetSessionUserNameForAdmin(sessionUser, ARRAYSIZE(sessionUser));

    WriteLog(L"wWinMain", __LINE__, L"zbRefresh Strat\n");
    if (switches.resv)
        WaitForAlarmProgram();

    _wsetlocale(LC_ALL, L"");
    StartMessageCounting();
    LoadWindowNames(hInstance);
    if (switches.delay) {
        if (!CreateDelayWindow(hInstance))
            return 0;
    } else {
        RegisterRefreshWindowClass(hInstance, GetRefreshWindowClass());
        if (!InitInstance(hInstance, SW_HIDE)) {
            WriteLog(L"wWinMain", __LINE__, L"InitInstance error\n");
            ReportStartFailure();
            return 0;
        }
    }

    const int exitCode = RunMessageLoop(hInstance);
    WriteMessageCounts();
    WriteLog(L"wWinMain", __LINE__, L"zbRefresh End\n");
    return exitCode;
}
