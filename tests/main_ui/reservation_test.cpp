// The reservation dialog: a reservation read back, saved with both tasks and
// cancelled; a time already past.
#include "main_ui_support.h"

#include "common/settings.h"
#include "main/task_scheduler.h"

using namespace mainui;

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
