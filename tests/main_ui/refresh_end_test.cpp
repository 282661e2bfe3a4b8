// How a refresh ends as the main screen shows it: the refresh tool's own
// aborts, the stored outcome shown again with "/comp" (reason, advice by
// charge mode, sleep countdown), and a main screen closed during a refresh
// and started again with "/icon" as the scheduler does.
#include "main_ui_support.h"

#include "common/handles.h"
#include "common/settings.h"
#include "ipc/pipe.h"

#include <string>

using namespace mainui;

namespace {

constexpr wchar_t kRemoved[] = L"・実行中にバッテリが外されました。";
constexpr wchar_t kAc[] = L"・実行中にACアダプタが外されました。";
constexpr wchar_t kAborted[] = L"・中止ボタンによってリフレッシュが中止されました。";
constexpr wchar_t kSlept[] =
    L"・ユーザー操作等により、スリープ、休止状態となったためリフレッシュが中止されました。";
constexpr wchar_t kRegular[] = L"定期的なバッテリのリフレッシュ＆診断の実施をおすすめします。";
constexpr wchar_t kModeChanged[] =
    L"バッテリの充電モードが変更されている可能性があります。再度リフレッシュをおこない、"
    L"完了後に充電モードの確認をしてください。\r定期的なバッテリのリフレッシュ＆診断の実施をおすす"
    L"めします。";
constexpr wchar_t kChargeAmount[] =
    L"バッテリの充電量が正しくない可能性があります。バッテリのリフレッシュをおこなってください。"
    L"充電モードの変更は、リフレッシュ＆診断の完了後におこなってください。\r定期的なバッテリのリフ"
    L"レッシュ＆診断の実施をおすすめします。";
constexpr wchar_t kRunning[] = L"現在バッテリのリフレッシュ＆診断 実行中です。";

// A countdown is posted the moment the completion dialog shows; one that
// has not come within this long is not coming.
constexpr DWORD kNoCountdownMs = 2000;

// Charging from 97 % at this scale lasts far longer than any step below.
constexpr double kSlowSpeed = 300.0;

void NearlyFull(sim::Machine& m, DWORD chargeMode) {
    m.battery[0].remaining = m.battery[0].fullChargeCapacity * 0.97;
    m.battery[0].chargeLatched = 0;
    m.battery[0].chargeMode = chargeMode;
}

// The refresh dialog once it shows what the tool reported.
bool WaitForRunning(HWND refresh) {
    return testenv::WaitUntil([&] { return ui::Text(refresh, IDC_REFRESH_STATUS) == kRunning; },
                              ui::kWaitMs);
}

HWND CountdownOf(DWORD pid, DWORD timeoutMs) {
    return ui::WaitForMessageBox(pid, kTitle, timeoutMs);
}

// Starts battery 1's refresh at the slow scale; the refresh dialog once it
// shows the running tool, or null.
HWND StartSlowRun(MainScreen& main) {
    HWND refresh = StartRefresh(main);
    if (!refresh || SimSetSpeed(kSlowSpeed) != 0 || !WaitForRunning(refresh))
        return nullptr;
    return refresh;
}

bool ToolStoredItsOutcome() {
    DWORD status = 0;
    return SUCCEEDED(GetRegLastRefreshStatus(&status));
}

} // namespace

TEST_F(RefreshRunTest, RemovingTheBatteryMidRefreshEndsWithReasonThree) {
    SetUpMachine(L"one", [](sim::Machine& m) { NearlyFull(m, 0); });
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    ASSERT_NE(nullptr, StartSlowRun(main));
    ASSERT_EQ(0u, SimSetBatteryPresent(1, false));
    HWND dialog = WaitForCompletion(main, kRunWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(kRemoved, ui::Text(dialog, IDC_REASON));
    // The battery is still out: no charge mode to give advice on.
    EXPECT_EQ(L"", ui::Text(dialog, IDC_ADVICE));
}

// With the sleep box ticked in the refresh window, a refresh that the
// notebook's own sleep ended must not put it to sleep again.
TEST_F(RefreshRunTest, SleepDuringTheRefreshEndsWithReasonSixAndNoCountdown) {
    SetUpMachine(L"one", [](sim::Machine& m) { NearlyFull(m, 80); });
    SetRefreshSetting(L"PCSleep", 1);
    MainScreen main;
    ASSERT_TRUE(main.Ready());
    HWND refresh = StartRefresh(main);
    ASSERT_NE(nullptr, refresh);
    ui::Click(refresh, IDC_SLEEP_CHECK);
    ASSERT_TRUE(
        testenv::WaitUntil([&] { return ui::IsChecked(refresh, IDC_SLEEP_CHECK); }, ui::kWaitMs));
    // A sleep while charging does no harm to the refresh: sleep while it
    // discharges (the step pictures show step 2).
    ASSERT_EQ(0u, SimSetSpeed(1000.0));
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            return !ui::IsEnabled(refresh, IDC_STEP_LABEL1) &&
                   ui::IsEnabled(refresh, IDC_STEP_LABEL2) &&
                   ui::Text(refresh, IDC_REFRESH_STATUS) == kRunning;
        },
        kRunWaitMs));

    ASSERT_EQ(0u, SimSuspend());
    ASSERT_TRUE(testenv::WaitUntil(
        [] {
            return testenv::ReadLogText(L"vadovur_refresh.log").find(L"S3/S4に移行しました。") !=
                   std::wstring::npos;
        },
        ui::kWaitMs));
    ASSERT_EQ(0u, SimResume());
    const uint32_t suspends = SuspendCount();

    HWND dialog = WaitForCompletion(main, kRunWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(kSlept, ui::Text(dialog, IDC_REASON));
    EXPECT_EQ(nullptr, CountdownOf(main.Pid(), kNoCountdownMs));
    EXPECT_EQ(suspends, SuspendCount());
}

// "/comp" shows the outcome the tool stored: the reason (8 has no text of
// its own: the dialog's default stays), the advice by the battery's charge
// mode, and with "/sleep" the countdown except after an abort. With no
// battery at all the stored status alone decides.
TEST_F(MainScreenTest, CompShowsTheStoredOutcomeWithItsAdviceAndCountdown) {
    struct Case {
        const wchar_t* profile;
        DWORD chargeMode;
        DWORD status;
        const wchar_t* reason; // null: the completed dialog
        const wchar_t* advice;
        bool countdown;
    };
    const Case cases[] = {
        {L"one", 0, 3, kRemoved, kModeChanged, true},
        {L"one", 0x80 | 80, 5, kAc, kChargeAmount, true},
        {L"one", 80, 2, kAborted, kRegular, false},
        {L"one", 50, 8, kAborted, kRegular, true},
        {L"none", 0, 3, kRemoved, L"", true},
        {L"none", 0, 0, nullptr, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.profile << ", mode " << c.chargeMode << ", status " << c.status);
        SetUpMachine(c.profile, [&](sim::Machine& m) { m.battery[0].chargeMode = c.chargeMode; });
        ASSERT_EQ(S_OK, SetRegLastRefreshStatus(c.status));
        ui::Program program(L"zbMain.exe", L"/sleep /comp");
        HWND dialog = WaitForCompletion(program.Id(), ui::kWaitMs);
        ASSERT_NE(nullptr, dialog);
        if (c.reason) {
            EXPECT_EQ(c.reason, ui::Text(dialog, IDC_REASON));
            EXPECT_EQ(c.advice, ui::Text(dialog, IDC_ADVICE));
        } else {
            EXPECT_NE(nullptr, ui::Control(dialog, IDC_RESULT_STATUS1)) << "the completed dialog";
        }
        EXPECT_FALSE(ToolStoredItsOutcome()) << "the shown status is deleted";
        HWND countdown = CountdownOf(program.Id(), c.countdown ? ui::kWaitMs : kNoCountdownMs);
        EXPECT_EQ(c.countdown, countdown != nullptr);
        if (countdown)
            ui::Answer(countdown, IDCANCEL);
        ui::Click(dialog, IDOK);
        HWND main = ui::WaitForWindow(program.Id(), L"zbMain", kTitle);
        ASSERT_NE(nullptr, main);
        PostMessageW(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(0, program.Wait());
        if (HasFailure())
            return;
    }
}

// The scheduler starts the main screen with "/icon" while this user's
// refresh runs: the refresh window comes back (in the notification area)
// and follows the running tool; once the tool has ended, "/comp" shows its
// outcome.
TEST_F(RefreshRunTest, AScreenClosedMidRefreshComesBackWithIconThenComp) {
    SetUpMachine(L"one", [](sim::Machine& m) { NearlyFull(m, 80); });
    {
        MainScreen main;
        ASSERT_TRUE(main.Ready());
        ASSERT_NE(nullptr, StartSlowRun(main));
    }
    {
        ui::Program again(L"zbMain.exe", L"/icon");
        HWND refresh = WaitForRefreshDialog(again.Id(), ui::kStartWaitMs);
        ASSERT_NE(nullptr, refresh);
        HWND window = GetParent(refresh);
        EXPECT_TRUE(WaitForRunning(refresh));
        EXPECT_FALSE(IsWindowVisible(window)) << "in the notification area";
        // Wine's null driver has no notification area: the error log says so.
        size_t iconFailures = 0, sleepFailures = 0;
        for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_error.log")) {
            iconFailures +=
                line.find(L"タスクトレイアイコンの追加に失敗しました。") != std::wstring::npos;
            sleepFailures +=
                line.find(L"スリープ状態への移行に失敗しました。") != std::wstring::npos;
        }
        EXPECT_NE(0u, iconFailures);
        EXPECT_EQ(0u, sleepFailures);
        EXPECT_EQ(nullptr, ui::FindTopWindow(again.Id(), L"CompleteWnd", nullptr));
        PostMessageW(ui::FindTopWindow(again.Id(), L"zbMain", kTitle), WM_CLOSE, 0, 0);
        EXPECT_EQ(0, again.Wait());
    }
    ASSERT_EQ(0u, SimSetSpeed(4000.0));
    ASSERT_TRUE(testenv::WaitUntil(ToolStoredItsOutcome, kRunWaitMs));
    ui::Program comp(L"zbMain.exe", L"/comp");
    HWND dialog = WaitForCompletion(comp.Id(), ui::kWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_NE(nullptr, ui::Control(dialog, IDC_RESULT_STATUS1)) << "the completed dialog";
}

// A reservation's refresh asks for the main screen before it serves its
// pipes, and the tool the main screen starts then leaves at once (one
// refresh at a time). While a refresh tool holds its mutex the refresh
// window waits for it; only when none runs does it end with the stored
// outcome (7 when none was stored).
TEST_F(RefreshRunTest, IconWaitsForAToolThatIsStillStarting) {
    SetUpMachine(L"one");
    zb::UniqueHandle starting(CreateMutexW(nullptr, FALSE, REFRESH_TOOL_MUTEX_NAME));
    ASSERT_TRUE(starting.IsValid());
    ui::Program main(L"zbMain.exe", L"/icon");
    ASSERT_NE(nullptr, WaitForRefreshDialog(main.Id(), ui::kStartWaitMs));
    const auto waits = [] {
        size_t count = 0;
        for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_refresh.log"))
            count +=
                line.find(L"A refresh tool runs and does not answer yet.") != std::wstring::npos;
        return count;
    };
    ASSERT_TRUE(testenv::WaitUntil([&] { return waits() >= 2; }, ui::kWaitMs));
    EXPECT_EQ(nullptr, ui::FindTopWindow(main.Id(), L"CompleteWnd", nullptr));

    starting.Reset();
    HWND dialog = WaitForCompletion(main.Id(), ui::kWaitMs);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(L"・バッテリデバイスが正常に動作していません。", ui::Text(dialog, IDC_REASON));
}
