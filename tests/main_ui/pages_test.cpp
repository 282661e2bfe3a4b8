// The main dialog and its battery pages as the notebook's owner sees them.
#include "main_ui_support.h"

#include "ipc/pipe.h"
#include "main/task_scheduler.h"

using namespace mainui;

namespace {

constexpr wchar_t kModeError[] = L"充電モードエラー";
constexpr wchar_t kModeFull[] = L"フル充電モード";

} // namespace

TEST_F(MainScreenTest, OnlyBatteryTwoGivesTwoTabsAndTabOneShowsItsPage) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[0].present = 0; });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    EXPECT_EQ(2, ui::TabCount(main.Dialog(), IDC_TAB));
    EXPECT_FALSE(ui::IsVisible(main.Dialog(), IDC_BUTTON_REFRESH2));
    ASSERT_TRUE(ui::SelectTab(main.Dialog(), IDC_TAB, 1));
    EXPECT_TRUE(ui::IsVisible(main.Dialog(), IDC_BUTTON_REFRESH2));
    EXPECT_EQ(nullptr, ui::Control(main.Dialog(), IDC_BUTTON_REFRESH1));
    ASSERT_TRUE(ui::SelectTab(main.Dialog(), IDC_TAB, 0));
    EXPECT_FALSE(ui::IsVisible(main.Dialog(), IDC_BUTTON_REFRESH2));
}

TEST_F(MainScreenTest, CautionHealthKeepsTheButtonsDisabledAfterAnUpdate) {
    SetUpMachine(L"one-caution");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    ASSERT_TRUE(ui::SelectTab(main.Dialog(), IDC_TAB, 1));
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(ui::IsEnabled(main.Dialog(), IDC_BUTTON_REFRESH1)) << round;
        EXPECT_FALSE(ui::IsEnabled(main.Dialog(), IDC_BUTTON_RESERVE1)) << round;
        EXPECT_FALSE(ui::IsEnabled(main.Dialog(), IDC_BUTTON_CHAREGEMODE1)) << round;
        SendMessageW(main.Window(), kUpdateBattery, 0, 0);
    }
}

TEST_F(MainScreenTest, ModeTextsAndTheChargeHoldRewrittenToFullCharge) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        m.battery[0].chargeMode = 81;
        m.battery[1].chargeMode = 49;
    });
    {
        MainScreen main;
        ASSERT_TRUE(main.Ready());
        EXPECT_EQ(kModeError, ui::Text(main.Dialog(), IDC_MODE_TEXT1));
        EXPECT_EQ(kModeError, ui::Text(main.Dialog(), IDC_MODE_TEXT2));
        EXPECT_EQ(L"未設定", ui::Text(main.Dialog(), IDC_SCHEDULE1));
        EXPECT_EQ(L"未実施", ui::Text(main.Dialog(), IDC_LASTDATE2));
    }
    testenv::CleanSuiteState();
    SetUserSetting(L"ReadMeCheck", 1);
    SetUpMachine(L"one", [](sim::Machine& m) { m.battery[0].chargeMode = 5; });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    EXPECT_EQ(kModeFull, ui::Text(main.Dialog(), IDC_MODE_TEXT1));
    EXPECT_EQ(0u, ReadBattery(1).chargeMode);
}

TEST_F(MainScreenTest, RefreshNeededModeRefusesTheDialogWithMessage209) {
    SetUpMachine(L"one", [](sim::Machine& m) { m.battery[0].chargeMode = 0x80 | 80; });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    ASSERT_TRUE(ui::SelectTab(main.Dialog(), IDC_TAB, 1));
    ui::Click(main.Dialog(), IDC_BUTTON_CHAREGEMODE1);
    HWND box = ui::WaitForMessageBox(main.Pid(), kTitle);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(L"リフレッシュが必要です。"));
    EXPECT_EQ(nullptr, ui::Control(box, IDC_CM_PROMPT)) << "the charge mode dialog opened";
    ui::Answer(box, IDOK);
    EXPECT_TRUE(ui::WaitForNoWindow(main.Pid(), L"#32770", kTitle));
    EXPECT_EQ(0x80u | 80u, ReadBattery(1).chargeMode);
}

TEST_F(MainScreenTest, ShowRefreshWhileARefreshWindowExistsChangesNothing) {
    SetUpMachine(L"one");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND chargeMode = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, chargeMode);

    // A refresh window of another process counts as well: it is found by
    // its class.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RefreshWnd";
    RegisterClassW(&wc);
    HWND refresh = CreateWindowW(L"RefreshWnd", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    ASSERT_NE(nullptr, refresh);
    SendMessageW(main.Window(), kShowRefresh, 1, 0);
    EXPECT_TRUE(IsWindow(chargeMode));
    EXPECT_TRUE(IsWindowVisible(main.Window()));
    DestroyWindow(refresh);

    // Without one, a running refresh tool is followed: the small dialogs
    // close first. The tool here is only its mutex, so the refresh window
    // then waits for it.
    zb::UniqueHandle running(CreateMutexW(nullptr, FALSE, REFRESH_TOOL_MUTEX_NAME));
    ASSERT_TRUE(running.IsValid());
    SendMessageW(main.Window(), kShowRefresh, 0, 0);
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(chargeMode); }, ui::kWaitMs));
    EXPECT_NE(nullptr, ui::FindTopWindow(main.Pid(), L"RefreshWnd", nullptr));
}

// The pages show the reserved refresh task's start while it lies ahead and
// is enabled; the task is read through the (simulated) Task Scheduler.
TEST_F(MainScreenTest, PagesShowTheReservedStartWhileTheTaskIsEnabled) {
    SetUpMachine(L"one");
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    struct ComScope {
        ~ComScope() { CoUninitialize(); }
    } com;
    HMODULE strings = LoadLibraryExW((testenv::BinDir() + L"zbMain.exe").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, strings);
    wchar_t task[256] = {};
    ASSERT_EQ(S_OK, GetSchedulerName(strings, IDS_TASKNAME_REFRESH, task, ARRAYSIZE(task)));
    FreeLibrary(strings);

    SYSTEMTIME start = {};
    GetLocalTime(&start);
    start.wYear += 1;
    start.wMonth = 3, start.wDay = 4, start.wHour = 5, start.wMinute = 6;
    start.wSecond = start.wMilliseconds = 0;
    const std::wstring tool = testenv::BinDir() + L"zbRefresh.exe";
    ASSERT_EQ(S_OK, TASKHLPER_Add(tool.c_str(), task, L"\\", L"test", L"test", &start, TRUE,
                                  L"/resv", L"", L"", TRUE, nullptr, L""));
    wchar_t expected[32] = {};
    swprintf(expected, 32, L"%04d/03/04 05:06", start.wYear);

    MainScreen main;
    ASSERT_TRUE(main.Ready());
    EXPECT_EQ(expected, ui::Text(main.Dialog(), IDC_SCHEDULE1));
    ASSERT_EQ(S_OK, TASKHLPER_Enable(task, L"\\", FALSE));
    SendMessageW(main.Window(), kUpdateBattery, 0, 0);
    EXPECT_EQ(L"未設定", ui::Text(main.Dialog(), IDC_SCHEDULE1));
}
