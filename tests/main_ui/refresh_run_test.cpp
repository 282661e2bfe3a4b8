// A refresh from the main screen: the confirmation's refusals, a whole run
// with the real refresh tool, and an abort.
#include "main_ui_support.h"

#include "common/settings.h"
#include "main/task_scheduler.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace mainui;

namespace {

// Opens the confirmation of a battery page's Start button; null when none came.
HWND OpenConfirmation(MainScreen& main, UINT battNo) {
    ui::SelectTab(main.Dialog(), IDC_TAB, battNo);
    ui::Click(main.Dialog(), battNo == 1 ? IDC_BUTTON_REFRESH1 : IDC_BUTTON_REFRESH2);
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = ui::FindTopWindow(main.Pid(), L"#32770", kTitle, true);
            return found && ui::Control(found, IDC_CONFIRM_TEXT);
        },
        ui::kWaitMs);
    return found && ui::Control(found, IDC_CONFIRM_TEXT) ? found : nullptr;
}

// Yes on the confirmation must be refused with the message; the dialog is
// shown again afterwards.
void ExpectRefusal(MainScreen& main, HWND confirm, const wchar_t* text) {
    ui::Click(confirm, IDOK);
    HWND box = ui::WaitForMessageBox(main.Pid(), kTitle, ui::kWaitMs, confirm);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(text));
    ui::Answer(box, IDOK);
    EXPECT_TRUE(testenv::WaitUntil([&] { return IsWindowVisible(confirm) != FALSE; }, ui::kWaitMs));
    EXPECT_EQ(nullptr, ui::FindTopWindow(main.Pid(), L"RefreshWnd", nullptr));
}

} // namespace

TEST_F(MainScreenTest, ConfirmationRefusesWithoutMainsOrBatteryAndStaysOpen) {
    SetUpMachine(L"one");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND confirm = OpenConfirmation(main, 1);
    ASSERT_NE(nullptr, confirm);
    EXPECT_NE(std::wstring::npos, ui::Text(confirm, IDC_CONFIRM_TEXT).find(L"時間"));
    EXPECT_TRUE(ui::IsVisible(confirm, IDC_SLEEP_CHECK));

    ASSERT_EQ(0u, SimSetAcOnline(false));
    ExpectRefusal(main, confirm, L"ACアダプタが接続されていません。");
    ASSERT_EQ(0u, SimSetAcOnline(true));
    ASSERT_EQ(0u, SimSetBatteryPresent(1, false));
    ExpectRefusal(main, confirm, L"バッテリが接続されていません。");

    ui::Click(confirm, IDCANCEL);
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(confirm); }, ui::kWaitMs));
    EXPECT_TRUE(IsWindowEnabled(main.Window()));
}

namespace {

// A copy of the program in a folder of its own, with the libraries it loads
// and, when given, a stand-in for the refresh tool.
class InstalledCopy {
public:
    explicit InstalledCopy(const wchar_t* toolStandIn) : folder_(testenv::BinDir() + L"copy\\") {
        CreateDirectoryW(folder_.c_str(), nullptr);
        for (const wchar_t* file : kFiles)
            CopyFileW((testenv::BinDir() + file).c_str(), (folder_ + file).c_str(), FALSE);
        if (toolStandIn)
            CopyFileW((testenv::BinDir() + toolStandIn).c_str(),
                      (folder_ + L"zbRefresh.exe").c_str(), FALSE);
    }
    ~InstalledCopy() {
        for (const wchar_t* file : kFiles)
            DeleteFileW((folder_ + file).c_str());
        DeleteFileW((folder_ + L"zbRefresh.exe").c_str());
        RemoveDirectoryW(folder_.c_str());
    }

private:
    static constexpr const wchar_t* kFiles[] = {L"zbMain.exe", L"cellio.dll", L"KX_NTF.dll",
                                                L"powrprof.dll", L"taskschd.dll"};
    std::wstring folder_;
};

// Starts the copy and presses Yes on battery 1's confirmation.
HWND ConfirmInCopy(ui::Program& program) {
    HWND window = ui::WaitForWindow(program.Id(), L"zbMain", kTitle);
    HWND dialog = window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
    if (!dialog)
        return nullptr;
    ui::SelectTab(dialog, IDC_TAB, 1);
    ui::Click(dialog, IDC_BUTTON_REFRESH1);
    HWND confirm = nullptr;
    testenv::WaitUntil(
        [&] {
            confirm = ui::FindTopWindow(program.Id(), L"#32770", kTitle, true);
            return confirm && ui::Control(confirm, IDC_CONFIRM_TEXT);
        },
        ui::kWaitMs);
    if (!confirm || !ui::Control(confirm, IDC_CONFIRM_TEXT))
        return nullptr;
    ui::Click(confirm, IDOK);
    return confirm;
}

} // namespace

TEST_F(MainScreenTest, ConfirmationRefusesWhenTheRefreshToolIsMissing) {
    SetUpMachine(L"one");
    InstalledCopy copy(nullptr);
    ui::Program program(L"copy\\zbMain.exe", L"");
    HWND confirm = ConfirmInCopy(program);
    ASSERT_NE(nullptr, confirm);
    HWND box = ui::WaitForMessageBox(program.Id(), kTitle, ui::kWaitMs, confirm);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(L"ファイルが存在しません。"));
    ui::Answer(box, IDOK);
    EXPECT_TRUE(testenv::WaitUntil([&] { return IsWindowVisible(confirm) != FALSE; }, ui::kWaitMs));
}

// A refresh tool that ends without ever serving its pipes (one that refused
// to start) must not leave the refresh window waiting for ever: the run
// ends as not completed.
TEST_F(MainScreenTest, AToolThatEndsUnreachedEndsTheRunAsNotCompleted) {
    SetUpMachine(L"one");
    InstalledCopy copy(L"simctl.exe");
    ui::Program program(L"copy\\zbMain.exe", L"");
    ASSERT_NE(nullptr, ConfirmInCopy(program));
    HWND window = ui::WaitForWindow(program.Id(), L"CompleteWnd", nullptr, 60000);
    ASSERT_NE(nullptr, window);
    HWND dialog = FindWindowExW(window, nullptr, L"#32770", nullptr);
    ASSERT_NE(nullptr, dialog);
    EXPECT_NE(nullptr, ui::Control(dialog, IDC_REASON)) << "the not-completed dialog";
    EXPECT_EQ(L"・バッテリデバイスが正常に動作していません。", ui::Text(dialog, IDC_REASON));
}

namespace {

constexpr DWORD kRunWaitMs = 180000;

uint32_t SuspendCount() {
    sim::Machine m = {};
    sim::ReadMachine(&m);
    return m.suspendCount;
}

class RefreshRunTest : public MainScreenTest {
protected:
    void SetUp() override {
        MainScreenTest::SetUp();
        SetRefreshSetting(L"Log", 1);
        SetRefreshSetting(L"RefreshCoolDownTime", 0);
        SetRefreshSetting(L"RefreshCoolDownLimit", 0);
        SetRefreshSetting(L"ADCHDelay", 0);
    }
};

// Starts a refresh of battery 1 from its page; the refresh dialog, or null.
HWND StartRefresh(MainScreen& main) {
    HWND confirm = OpenConfirmation(main, 1);
    if (!confirm)
        return nullptr;
    ui::Click(confirm, IDOK);
    HWND window = ui::WaitForWindow(main.Pid(), L"RefreshWnd", nullptr);
    return window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
}

int PercentOf(const std::wstring& text) {
    return text.empty() ? -1 : _wtoi(text.c_str());
}

// The completion window's dialog once it is there; null after timeoutMs.
HWND WaitForCompletion(MainScreen& main, DWORD timeoutMs) {
    HWND window = ui::WaitForWindow(main.Pid(), L"CompleteWnd", nullptr, timeoutMs);
    HWND dialog = window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

} // namespace

TEST_F(RefreshRunTest, AWholeRefreshFollowsTheToolToTheDiagnosis) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        m.battery[0].remaining = m.battery[0].fullChargeCapacity * 0.97;
        m.battery[0].chargeLatched = 0;
    });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND refresh = StartRefresh(main);
    ASSERT_NE(nullptr, refresh);
    EXPECT_FALSE(IsWindowVisible(main.Window()));
    ASSERT_EQ(0u, SimSetSpeed(4000.0));

    // The percentage follows the tool and never goes back.
    std::vector<int> seen;
    bool running = false;
    HWND complete = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            if (IsWindow(refresh)) {
                const int percent = PercentOf(ui::Text(refresh, IDC_PERCENT));
                if (percent >= 0 && (seen.empty() || seen.back() != percent))
                    seen.push_back(percent);
                running = running || ui::Text(refresh, IDC_REFRESH_STATUS) ==
                                         L"現在バッテリのリフレッシュ＆診断 実行中です。";
            }
            complete = ui::FindTopWindow(main.Pid(), L"CompleteWnd", nullptr);
            return complete != nullptr;
        },
        kRunWaitMs));
    EXPECT_TRUE(running);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    HWND dialog = FindWindowExW(complete, nullptr, L"#32770", nullptr);
    ASSERT_NE(nullptr, dialog);
    EXPECT_NE(nullptr, ui::Control(dialog, IDC_RESULT_STATUS1)) << "the completed dialog";
    EXPECT_TRUE(testenv::WaitUntil([&] { return IsWindowVisible(dialog) != FALSE; }, ui::kWaitMs));
    EXPECT_NE(L"取得中", ui::Text(dialog, IDC_RESULT_MESSAGE));

    ui::Click(dialog, IDOK);
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return IsWindowVisible(main.Window()) != FALSE; }, ui::kWaitMs));
    EXPECT_TRUE(ui::WaitForNoWindow(main.Pid(), L"CompleteWnd", nullptr));
    EXPECT_NE(L"未実施", ui::Text(main.Dialog(), IDC_LASTDATE1));
}

TEST_F(RefreshRunTest, AnAbortAsksEndsTheToolAndShowsReasonTwo) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        m.battery[0].remaining = m.battery[0].fullChargeCapacity * 0.5;
        m.battery[0].chargeLatched = 0;
    });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND refresh = StartRefresh(main);
    ASSERT_NE(nullptr, refresh);
    ASSERT_EQ(0u, SimSetSpeed(1.0));
    ASSERT_TRUE(testenv::WaitUntil([&] { return !ui::Text(refresh, IDC_REFRESH_STATUS).empty(); },
                                   ui::kWaitMs));

    ui::Click(refresh, IDCANCEL);
    HWND question = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            question = ui::FindTopWindow(main.Pid(), L"#32770", kTitle, true);
            return question && question != GetParent(refresh) && ui::Control(question, IDOK) &&
                   !ui::Control(question, IDC_PERCENT);
        },
        ui::kWaitMs));
    ui::Click(question, IDOK);

    HWND dialog = WaitForCompletion(main, kRunWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"・中止ボタンによってリフレッシュが中止されました。", ui::Text(dialog, IDC_REASON));
    bool logged = false;
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_progress_01.log"))
        logged = logged || line.find(L"ABORTED!    Canceled.") != std::wstring::npos;
    EXPECT_TRUE(logged);
    ui::Click(dialog, IDOK);
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return IsWindowVisible(main.Window()) != FALSE; }, ui::kWaitMs));
}

namespace {

struct ComScope {
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

std::wstring TaskNameOf(UINT stringId) {
    HMODULE strings = LoadLibraryExW((testenv::BinDir() + L"zbMain.exe").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    wchar_t task[256] = {};
    if (strings) {
        GetSchedulerName(strings, stringId, task, ARRAYSIZE(task));
        FreeLibrary(strings);
    }
    return task;
}

HWND OpenReservation(MainScreen& main, UINT battNo) {
    ui::SelectTab(main.Dialog(), IDC_TAB, battNo);
    ui::Click(main.Dialog(), battNo == 1 ? IDC_BUTTON_RESERVE1 : IDC_BUTTON_RESERVE2);
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = ui::FindTopWindow(main.Pid(), L"#32770", kTitle, true);
            return found && ui::Control(found, IDC_RESV_BATT1);
        },
        ui::kWaitMs);
    return found && ui::Control(found, IDC_RESV_BATT1) ? found : nullptr;
}

SYSTEMTIME InTwoDays() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    FILETIME file = {};
    SystemTimeToFileTime(&now, &file);
    ULARGE_INTEGER value = {{file.dwLowDateTime, file.dwHighDateTime}};
    value.QuadPart += 2ULL * 24 * 3600 * 10000000ULL;
    file = {value.LowPart, value.HighPart};
    SYSTEMTIME start = {};
    FileTimeToSystemTime(&file, &start);
    start.wHour = 5, start.wMinute = 6, start.wSecond = start.wMilliseconds = 0;
    return start;
}

} // namespace

// A reservation of battery 2 with sleep, read back into the dialog, saved
// again with both tasks, then cancelled with "do not set".
TEST_F(MainScreenTest, AReservationIsShownSavedWithBothTasksAndCancelled) {
    SetUpMachine(L"two");
    ComScope com;
    const std::wstring task = TaskNameOf(IDS_TASKNAME_REFRESH);
    const std::wstring wakeTask = TaskNameOf(IDS_TASKNAME_WAKEUP);
    const SYSTEMTIME start = InTwoDays();
    const std::wstring tool = testenv::BinDir() + L"zbRefresh.exe";
    ASSERT_EQ(S_OK, TASKHLPER_Add(tool.c_str(), task.c_str(), L"\\", L"test", L"test", &start, TRUE,
                                  L"/sleep /resv /b2", L"", L"", FALSE, nullptr, L""));

    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = OpenReservation(main, 2);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_RESV_ON));
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_SLEEP_CHECK));
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_RESV_BATT2));
    EXPECT_FALSE(ui::IsChecked(dialog, IDC_RESV_BATT1));
    ui::Click(dialog, IDOK);
    ASSERT_TRUE(testenv::WaitUntil([&] { return !IsWindow(dialog); }, ui::kWaitMs));

    wchar_t args[64] = {};
    EXPECT_EQ(S_OK, TASKHLPER_GetActionArg(task.c_str(), L"\\", tool.c_str(), args, 64));
    EXPECT_STREQ(L"/sleep /resv /b2", args);
    EXPECT_EQ(S_OK, TASKHLPER_GetActionArg(wakeTask.c_str(), L"\\", tool.c_str(), args, 64));
    EXPECT_STREQ(L"/delay", args);
    SYSTEMTIME wake = {};
    ASSERT_EQ(S_OK, TASKHLPER_GetStartDay(wakeTask.c_str(), L"\\", &wake));
    EXPECT_EQ(5, wake.wHour);
    EXPECT_EQ(3, wake.wMinute); // "SleepDelay" 3 minutes earlier
    DWORD stored = 0;
    EXPECT_EQ(S_OK, GetRegRefreshResevationBatt(&stored));
    EXPECT_EQ(2u, stored);

    dialog = OpenReservation(main, 2);
    ASSERT_NE(nullptr, dialog);
    ui::Click(dialog, IDC_RESV_OFF);
    ui::Click(dialog, IDOK);
    ASSERT_TRUE(testenv::WaitUntil([&] { return !IsWindow(dialog); }, ui::kWaitMs));
    SYSTEMTIME ignored = {};
    EXPECT_TRUE(FAILED(TASKHLPER_GetStartDay(task.c_str(), L"\\", &ignored)));
    EXPECT_TRUE(FAILED(TASKHLPER_GetStartDay(wakeTask.c_str(), L"\\", &ignored)));
    EXPECT_TRUE(FAILED(GetRegRefreshResevationBatt(&stored)));
}

// The time the dialog offers without a reservation is now: already past by
// the time OK is pressed (message 167), and the dialog stays.
TEST_F(MainScreenTest, APastReservationTimeIsRefusedWith167) {
    SetUpMachine(L"one");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = OpenReservation(main, 1);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::IsChecked(dialog, IDC_RESV_OFF));
    ui::Click(dialog, IDC_RESV_BATT1);
    ui::Click(dialog, IDC_RESV_ON);
    ASSERT_TRUE(
        testenv::WaitUntil([&] { return ui::IsEnabled(dialog, IDC_RESV_DATE); }, ui::kWaitMs));
    ui::Click(dialog, IDOK);
    HWND box = ui::WaitForMessageBox(main.Pid(), kTitle, ui::kWaitMs, dialog);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(std::wstring::npos, ui::MessageBoxText(box).find(L"既に過去の日時"));
    ui::Answer(box, IDOK);
    EXPECT_TRUE(IsWindow(dialog));
}

TEST_F(RefreshRunTest, UnpluggingTheAdapterEndsWithReasonFiveAndItsAdvice) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        m.battery[0].remaining = m.battery[0].fullChargeCapacity * 0.97;
        m.battery[0].chargeLatched = 0;
        m.battery[0].chargeMode = 80;
    });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND refresh = StartRefresh(main);
    ASSERT_NE(nullptr, refresh);
    ASSERT_EQ(0u, SimSetSpeed(300.0));
    ASSERT_TRUE(testenv::WaitUntil([&] { return !ui::Text(refresh, IDC_REFRESH_STATUS).empty(); },
                                   ui::kWaitMs));
    ASSERT_EQ(0u, SimSetAcOnline(false));
    HWND dialog = WaitForCompletion(main, kRunWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"・実行中にACアダプタが外されました。", ui::Text(dialog, IDC_REASON));
    EXPECT_EQ(L"定期的なバッテリのリフレッシュ＆診断の実施をおすすめします。",
              ui::Text(dialog, IDC_ADVICE));
}

TEST_F(RefreshRunTest, WithSleepTickedTheCompletedRunPutsTheNotebookToSleep) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        m.battery[0].remaining = m.battery[0].fullChargeCapacity * 0.97;
        m.battery[0].chargeLatched = 0;
    });
    SetRefreshSetting(L"PCSleep", 1);
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND confirm = OpenConfirmation(main, 1);
    ASSERT_NE(nullptr, confirm);
    ui::Click(confirm, IDC_SLEEP_CHECK);
    ASSERT_TRUE(
        testenv::WaitUntil([&] { return ui::IsChecked(confirm, IDC_SLEEP_CHECK); }, ui::kWaitMs));
    ui::Click(confirm, IDOK);
    ASSERT_NE(nullptr, ui::WaitForWindow(main.Pid(), L"RefreshWnd", nullptr));
    const uint32_t before = SuspendCount();
    ASSERT_EQ(0u, SimSetSpeed(4000.0));
    ASSERT_NE(nullptr, WaitForCompletion(main, kRunWaitMs));
    EXPECT_TRUE(testenv::WaitUntil([&] { return SuspendCount() != before; }, ui::kWaitMs));
}
