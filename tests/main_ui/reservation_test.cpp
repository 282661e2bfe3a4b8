// The reservation dialog: a reservation read back, saved with both tasks and
// cancelled; a time already past; a reservation made and carried out by the
// Task Scheduler on a sleeping notebook; the Windows XP password.
#include "main_ui_support.h"

#include "common/settings.h"
#include "main/main_app.h"
#include "main/task_scheduler.h"

#include <mstask.h>
#include <wrl/client.h>

using namespace mainui;

namespace {

constexpr wchar_t kMinute[] = L"%04d-%02d-%02d %02d:%02d";

// That many minutes later (or earlier), on the minute.
SYSTEMTIME Plus(const SYSTEMTIME& time, int minutes) {
    FILETIME file = {};
    SystemTimeToFileTime(&time, &file);
    ULARGE_INTEGER value = {{file.dwLowDateTime, file.dwHighDateTime}};
    value.QuadPart += static_cast<LONGLONG>(minutes) * 60 * 10000000LL;
    file = {value.LowPart, value.HighPart};
    SYSTEMTIME later = {};
    FileTimeToSystemTime(&file, &later);
    later.wSecond = later.wMilliseconds = 0;
    return later;
}

std::wstring Format(const wchar_t* format, const SYSTEMTIME& t) {
    wchar_t text[32] = {};
    swprintf(text, ARRAYSIZE(text), format, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return text;
}

// "simctl tasks due --at": the Task Scheduler's clock reaching that minute.
int TasksDueAt(const SYSTEMTIME& at) {
    return testenv::RunProgram(L"simctl.exe", L"tasks due --at \"" + Format(kMinute, at) + L"\"");
}

// Picks a reservation time in the dialog as a person does: date and time.
void PickTime(HWND dialog, const SYSTEMTIME& start) {
    ASSERT_TRUE(ui::SetDateTime(dialog, IDC_RESV_DATE, start));
    ASSERT_TRUE(ui::SetDateTime(dialog, IDC_RESV_TIME, start));
}

// Both tasks of a reservation in the simulated Task Scheduler: the refresh
// at the reserved minute with its arguments, the wake-up "SleepDelay" (3)
// minutes earlier with "/delay".
void ExpectReservationTasks(const SYSTEMTIME& start, const wchar_t* arguments) {
    const std::wstring tool = testenv::BinDir() + L"zbRefresh.exe";
    const struct {
        std::wstring name;
        SYSTEMTIME start;
        const wchar_t* arguments;
    } tasks[] = {{TaskNameOf(IDS_TASKNAME_REFRESH), start, arguments},
                 {TaskNameOf(IDS_TASKNAME_WAKEUP), Plus(start, -3), L"/delay"}};
    for (const auto& task : tasks) {
        wchar_t args[64] = {};
        EXPECT_EQ(S_OK, TASKHLPER_GetActionArg(task.name.c_str(), L"\\", tool.c_str(), args, 64));
        EXPECT_STREQ(task.arguments, args);
        SYSTEMTIME reserved = {};
        EXPECT_EQ(S_OK, TASKHLPER_GetStartDay(task.name.c_str(), L"\\", &reserved));
        EXPECT_EQ(Format(kMinute, task.start), Format(kMinute, reserved)) << task.name;
    }
}

// Wine presents a program as another Windows version while this lives.
class WindowsVersionOf {
public:
    WindowsVersionOf(const wchar_t* exeName, const wchar_t* version)
        : key_(std::wstring(L"Software\\Wine\\AppDefaults\\") + exeName) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version", REG_SZ, version,
                        static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    }
    ~WindowsVersionOf() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

private:
    std::wstring key_;
};

bool RefreshToolRunning() {
    zb::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\vadovurMUTEX3"));
    return mutex.IsValid();
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

    ExpectReservationTasks(start, L"/sleep /resv /b2");
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

// Battery 2 reserved a few minutes ahead with sleep: both tasks, the page
// shows the time; the notebook goes to sleep, the wake-up task wakes it, and
// at the reserved time the refresh of battery 2 runs to the end and puts the
// notebook back to sleep.
TEST_F(RefreshRunTest, AReservationWakesTheNotebookAndRefreshesBatteryTwo) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        m.battery[1].remaining = m.battery[1].fullChargeCapacity * 0.97;
        m.battery[1].chargeLatched = 0;
    });
    ComScope com;
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = OpenReservation(main, 2);
    ASSERT_NE(nullptr, dialog);

    // The latest date offered is three months ahead.
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    SYSTEMTIME earliest = {};
    SYSTEMTIME latest = {};
    ASSERT_TRUE(ui::DateTimeRange(dialog, IDC_RESV_DATE, &earliest, &latest));
    const SYSTEMTIME expected = zbmain::ReservationLatestDate(now);
    EXPECT_EQ(Format(L"%04d/%02d/%02d", expected), Format(L"%04d/%02d/%02d", latest));
    EXPECT_EQ(Format(L"%04d/%02d/%02d", now), Format(L"%04d/%02d/%02d", earliest));

    // An administrator on Windows 7 and later: the password and the wake
    // timers of the power plan.
    EXPECT_TRUE(ui::IsVisible(dialog, IDC_RESV_PASSWORD));
    EXPECT_NE(std::wstring::npos, ui::Text(dialog, IDC_RESV_NOTE).find(L"\r・スリープ、休止状態"))
        << ui::Text(dialog, IDC_RESV_NOTE);

    const SYSTEMTIME start = Plus(now, 10);
    ui::Click(dialog, IDC_RESV_BATT2);
    ui::Click(dialog, IDC_RESV_ON);
    ui::Click(dialog, IDC_SLEEP_CHECK);
    PickTime(dialog, start);
    ui::Click(dialog, IDOK);
    ASSERT_TRUE(testenv::WaitUntil([&] { return !IsWindow(dialog); }, ui::kWaitMs));

    ExpectReservationTasks(start, L"/sleep /resv /b2");
    const SYSTEMTIME wake = Plus(start, -3);
    EXPECT_TRUE(testenv::WaitUntil(
        [&] {
            return ui::Text(main.Dialog(), IDC_SCHEDULE2) ==
                   Format(L"%04d/%02d/%02d %02d:%02d", start);
        },
        ui::kWaitMs))
        << ui::Text(main.Dialog(), IDC_SCHEDULE2);

    // Asleep; the wake-up time wakes the notebook and keeps it awake.
    ASSERT_EQ(0u, SimSuspend());
    const uint32_t suspends = SuspendCount();
    ASSERT_EQ(0, TasksDueAt(wake));
    sim::Machine m = {};
    ASSERT_EQ(0u, sim::ReadMachine(&m));
    EXPECT_FALSE(m.suspended) << "the wake-up task did not wake the notebook";
    HWND keepAwake = ui::WaitForWindow(0, L"RefreshDelayWnd", nullptr, ui::kWaitMs, false);
    EXPECT_NE(nullptr, keepAwake);

    // The reserved time: battery 2 is refreshed to the end, then sleep.
    ASSERT_EQ(0u, SimSetSpeed(10000.0));
    ASSERT_EQ(0, TasksDueAt(start));
    EXPECT_TRUE(testenv::WaitUntil([&] { return SuspendCount() > suspends; }, kRunWaitMs))
        << "the reserved refresh did not end with sleep";
    EXPECT_TRUE(testenv::WaitUntil([] { return !RefreshToolRunning(); }, ui::kWaitMs));
    DWORD status = 99;
    EXPECT_EQ(S_OK, GetRegLastRefreshStatus(&status));
    EXPECT_EQ(0u, status);
    EXPECT_NE(std::wstring::npos,
              testenv::ReadLogText(L"vadovur_progress_02.log").find(L"COMPLETED!"));
    EXPECT_EQ(std::wstring::npos, testenv::ReadLogText(L"vadovur_progress_01.log").find(L"START!"));
    DWORD stored = 0;
    EXPECT_TRUE(FAILED(GetRegRefreshResevationBatt(&stored))) << "the reservation is kept";
    if (keepAwake)
        PostMessageW(keepAwake, WM_CLOSE, 0, 0);
    SimResume();
}

// Windows XP (Task Scheduler 1.0 runs a task only with its account's
// password): the dialog shows the password box and its notes, refuses OK
// without a password (207), and with one saves both tasks through Wine's
// Task Scheduler 1.0.
TEST_F(MainScreenTest, OnWindowsXpAReservationNeedsThePassword) {
    SetUpMachine(L"one");
    WindowsVersionOf xp(L"zbMain.exe", L"winxp64");
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = OpenReservation(main, 1);
    ASSERT_NE(nullptr, dialog);
    for (int id : {IDC_RESV_PASSWORD_LABEL, IDC_RESV_PASSWORD, IDC_RESV_NOTE_POWER,
                   IDC_RESV_NOTE_PASSWORD, IDC_RESV_CAUTION})
        EXPECT_TRUE(ui::IsVisible(dialog, id)) << id;
    EXPECT_FALSE(ui::IsVisible(dialog, IDC_RESV_NOTE));
    ui::Click(dialog, IDC_RESV_BATT1);
    ui::Click(dialog, IDC_RESV_ON);
    PickTime(dialog, InTwoDays());
    ui::Click(dialog, IDOK);
    HWND box = ui::WaitForMessageBox(main.Pid(), kTitle, ui::kWaitMs, dialog);
    ASSERT_NE(nullptr, box);
    EXPECT_NE(std::wstring::npos,
              ui::MessageBoxText(box).find(L"Windows パスワードを作成していない場合"));
    ui::Answer(box, IDOK);
    EXPECT_TRUE(IsWindow(dialog));

    ui::TypeText(dialog, IDC_RESV_PASSWORD, L"secret");
    ui::Click(dialog, IDOK);
    ASSERT_TRUE(testenv::WaitUntil([&] { return !IsWindow(dialog); }, ui::kWaitMs));
    ComScope com;
    Microsoft::WRL::ComPtr<ITaskScheduler> scheduler;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ITaskScheduler,
                                     reinterpret_cast<void**>(scheduler.GetAddressOf())));
    const struct {
        UINT name;
        const wchar_t* arguments;
    } tasks[] = {{IDS_TASKNAME_REFRESH, L" /resv /b1"}, {IDS_TASKNAME_WAKEUP, L"/delay"}};
    for (const auto& expected : tasks) {
        const std::wstring name = TaskNameOf(expected.name);
        Microsoft::WRL::ComPtr<ITask> task;
        ASSERT_EQ(S_OK, scheduler->Activate(name.c_str(), IID_ITask,
                                            reinterpret_cast<IUnknown**>(task.GetAddressOf())))
            << name;
        zb::UniqueCoTaskText parameters;
        ASSERT_EQ(S_OK, task->GetParameters(parameters.Put()));
        EXPECT_STREQ(expected.arguments, parameters.Get());
        DWORD flags = 0;
        ASSERT_EQ(S_OK, task->GetFlags(&flags));
        EXPECT_EQ(
            static_cast<DWORD>(TASK_FLAG_SYSTEM_REQUIRED | TASK_FLAG_DONT_START_IF_ON_BATTERIES),
            flags);
        scheduler->Delete(name.c_str());
    }
}
