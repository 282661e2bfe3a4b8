// A refresh from the main screen: the confirmation's refusals, and the
// ways a run ends early (a whole run is followed in refresh_follow_test).
#include "main_ui_support.h"

#include "common/settings.h"
#include "main/task_scheduler.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace mainui;

namespace {

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
