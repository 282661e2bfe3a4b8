// What the main screen must not do to a refresh it did not start: "/icon"
// only follows a running refresh tool, a page filled during a refresh
// leaves the other battery held, and an abort whose wait outlives the
// refresh window does not touch it again.
#include "main_ui_support.h"

#include "ipc/pipe.h"

using namespace mainui;

namespace {

constexpr UINT kShowComplete = 0x8405;

bool RefreshStarted() {
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_progress_01.log"))
        if (line.find(L"START!") != std::wstring::npos)
            return true;
    return false;
}

} // namespace

// "/icon" comes from the scheduler, the reservation and any program that
// can write to pipe 3; nobody confirmed a refresh through it.
TEST_F(MainScreenTest, IconWithoutARunningToolStartsNothing) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[1].chargeMode = 80; });

    ui::Program first(L"zbMain.exe", L"/sleep /icon /comp");
    EXPECT_EQ(0, first.Wait(ui::kStartWaitMs)) << "a first instance with nothing to show ends";

    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND dialog = main.OpenChargeMode(1);
    ASSERT_NE(nullptr, dialog);
    ui::Program second(L"zbMain.exe", L"/icon");
    EXPECT_EQ(0, second.Wait());
    ASSERT_TRUE(ui::Settle(main.Window()));
    EXPECT_TRUE(IsWindow(dialog)) << "the person's dialog was closed";
    EXPECT_EQ(nullptr, ui::FindTopWindow(main.Pid(), L"RefreshWnd", nullptr));

    Sleep(1500); // a tool started by either would have begun by now
    EXPECT_FALSE(RefreshStarted());
    EXPECT_EQ(80u, ReadBattery(2).chargeMode) << "the other battery was held";
}

// The refresh tool holds the other battery at the no-charge mode for the
// whole run; only outside a refresh is that mode a leftover to undo.
TEST_F(MainScreenTest, APageFilledDuringARefreshKeepsTheOtherBatteryHeld) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.battery[1].chargeMode = 5; });
    zb::UniqueHandle running(CreateMutexW(nullptr, FALSE, REFRESH_TOOL_MUTEX_NAME));
    ASSERT_TRUE(running.IsValid());
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    ASSERT_TRUE(ui::Settle(main.Window()));
    EXPECT_EQ(5u, ReadBattery(2).chargeMode);

    running.Reset();
    SendMessageW(main.Window(), kUpdateBattery, 0, 0);
    EXPECT_EQ(0u, ReadBattery(2).chargeMode);
}

// The abort keeps the screen answering while it waits for the tool, and the
// refresh window may end meanwhile: here the outcome of the run is handed
// over from another instance during the wait for pipe 2.
TEST_F(MainScreenTest, AnAbortWhoseWindowEndsDuringTheWaitLeavesItAlone) {
    SetUpMachine(L"one");
    // A tool that holds its mutex but never serves its pipes: the abort
    // retries pipe 2 for about twenty seconds.
    zb::UniqueHandle running(CreateMutexW(nullptr, FALSE, REFRESH_TOOL_MUTEX_NAME));
    ASSERT_TRUE(running.IsValid());
    ui::Program main(L"zbMain.exe", L"/icon");
    HWND refresh = WaitForRefreshDialog(main.Id(), ui::kStartWaitMs);
    ASSERT_NE(nullptr, refresh);

    PostMessageW(refresh, WM_COMMAND, IDCANCEL, 0);
    HWND question = nullptr;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            question = ui::FindTopWindow(main.Id(), L"#32770", kTitle, true);
            return question && question != refresh && ui::Control(question, IDOK);
        },
        ui::kWaitMs));
    ui::Click(question, IDOK);
    ASSERT_TRUE(testenv::WaitUntil([&] { return !IsWindow(question); }, ui::kWaitMs));

    SetUserSetting(L"LastRefreshStatus", 5);
    HWND hMain = ui::FindTopWindow(main.Id(), L"zbMain", kTitle);
    ASSERT_NE(nullptr, hMain);
    // A screen frozen in the wait would take this only after the abort had
    // shown its own outcome (reason 2).
    PostMessageW(hMain, kShowComplete, 0, 0);
    HWND dialog = WaitForCompletion(main.Id(), 60000);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"・実行中にACアダプタが外されました。", ui::Text(dialog, IDC_REASON));

    // The abort that was waiting must neither hand over a second time nor
    // touch the window that is gone.
    Sleep(1000);
    EXPECT_TRUE(main.Running());
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(nullptr,
              ui::FindTopWindow(main.Id(), L"CompleteWnd", nullptr, false, GetParent(dialog)))
        << "a second completion window";
}
