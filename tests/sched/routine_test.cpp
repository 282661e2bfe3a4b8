// The routine check on the simulated notebook: warnings, the warning
// dialog's hide flags, charging switched off for the worst case, and the
// refresh reminders, with dates set in the settings store. Wine's null
// graphics driver has no notification area, so every icon the check adds
// fails and leaves error-log entry 112: the count of those entries is the
// count of reminders.
#include "sched_support.h"

#include "battery/battery.h"
#include "common/settings.h"
#include "common/util.h"

using namespace scenario;
using namespace schedtest;

namespace {

constexpr wchar_t kIconFailure[] = L"タスクトレイアイコンの追加に失敗しました。";
constexpr DWORD kWarningDlgText = 1000;
constexpr DWORD kHideBox = 1001;

class SchedRoutineTest : public RefreshScenarioTest {
protected:
    void SetUp() override {
        RefreshScenarioTest::SetUp();
        recorder_.reset();
    }

    // The check once more, as after resume; returns once it has run.
    static void CheckAgain(HWND hWnd) { Deliver(hWnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND); }

    static void ClickOk(HWND hDlg, bool hide) {
        SendDlgItemMessageW(hDlg, kHideBox, BM_SETCHECK, hide ? BST_CHECKED : BST_UNCHECKED, 0);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(hDlg, WM_COMMAND, IDOK, 0, SMTO_NORMAL, kWaitMs, &result);
    }

    static DWORD HideFlag(const wchar_t* kind, UINT battNo) {
        std::wstring name =
            std::wstring(L"HideWarning") + kind + (battNo == 1 ? L"_batt1" : L"_batt2");
        return UserValue(name.c_str());
    }
};

// Both batteries worn (health 10): two warnings, one dialog of that type.
// OK without the box stores 0 and the dialog returns; ticked, it stays away
// for that battery. A battery found healthy again has both flags reset.
TEST_F(SchedRoutineTest, WarningDialogAndItsHideFlags) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        Wear(m.battery[0], 36);
        Wear(m.battery[1], 36);
    });
    SchedFolder folder;
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    CheckAgain(hWnd);
    EXPECT_EQ(4u, TraceCount(L"(health == BATTERY_HEALTH_WARNING")) << "two per check";
    std::vector<HWND> dialogs = DialogsOf(sched.Id());
    ASSERT_EQ(1u, dialogs.size());
    wchar_t text[300] = {};
    GetDlgItemTextW(dialogs[0], kWarningDlgText, text, ARRAYSIZE(text));
    EXPECT_STREQ(L"バッテリ性能が低下していますので、お早めに交換してください。", text);

    ClickOk(dialogs[0], false);
    EXPECT_EQ(0u, HideFlag(L"Deterioration", 1));
    EXPECT_TRUE(DialogsOf(sched.Id()).empty());
    CheckAgain(hWnd);
    dialogs = DialogsOf(sched.Id());
    ASSERT_EQ(1u, dialogs.size()) << "the dialog did not come back";

    ClickOk(dialogs[0], true);
    EXPECT_EQ(1u, HideFlag(L"Deterioration", 1));
    CheckAgain(hWnd); // battery 2's dialog
    dialogs = DialogsOf(sched.Id());
    ASSERT_EQ(1u, dialogs.size());
    ClickOk(dialogs[0], true);
    EXPECT_EQ(1u, HideFlag(L"Deterioration", 2));
    CheckAgain(hWnd);
    EXPECT_TRUE(DialogsOf(sched.Id()).empty()) << "hidden for both batteries";

    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  Wear(m.battery[0], 90);
                  return 0;
              }));
    CheckAgain(hWnd);
    EXPECT_EQ(0u, HideFlag(L"Deterioration", 1));
    EXPECT_EQ(0u, HideFlag(L"Caution", 1));
    EXPECT_EQ(1u, HideFlag(L"Deterioration", 2));

    // Several checks in a day, warnings or not: one history row per battery,
    // with the figures of the first.
    const std::vector<zbhistory::HistoryRow> rows = HistoryRows();
    ASSERT_EQ(2u, rows.size());
    for (UINT battNo = 1; battNo <= 2; ++battNo) {
        const zbhistory::HistoryRow& row = rows[battNo - 1];
        const sim::Battery b = ReadBattery(battNo);
        EXPECT_EQ(battNo, row.battery);
        EXPECT_EQ(OwnIdOf(battNo), row.id);
        EXPECT_EQ(zbhistory::HistoryEvent::Check, row.event);
        EXPECT_EQ(b.designCapacity, row.designMwh);
        EXPECT_EQ(b.designCapacity * 36 / 100, row.fullChargeMwh);
        EXPECT_EQ(b.cycleCount, row.cycles);
    }
}

// A badly deteriorated battery (health 20) has its charging switched off
// and gets the caution dialog, beside the worn battery's warning dialog and
// 20 pixels down and right of it.
TEST_F(SchedRoutineTest, CautionSwitchesChargingOff) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        Wear(m.battery[0], 36);
        Wear(m.battery[1], 18);
        m.battery[1].protectSupported = 1;
    });
    SchedFolder folder;
    SchedProcess sched(folder);
    ASSERT_NE(nullptr, sched.Window());
    ASSERT_TRUE(testenv::WaitUntil([&] { return DialogsOf(sched.Id()).size() == 2; }, kWaitMs));
    RECT warning = {}, caution = {};
    for (HWND hDlg : DialogsOf(sched.Id())) {
        wchar_t text[300] = {};
        GetDlgItemTextW(hDlg, kWarningDlgText, text, ARRAYSIZE(text));
        const bool isCaution = wcsstr(text, L"著しい劣化のため") == text;
        GetWindowRect(hDlg, isCaution ? &caution : &warning);
    }
    EXPECT_EQ(warning.left + 20, caution.left);
    EXPECT_EQ(warning.top + 20, caution.top);
    EXPECT_NE(0u, ReadBattery(2).startDate & 0x8000) << "charging not switched off";
    EXPECT_EQ(0u, ReadBattery(1).startDate & 0x8000);

    // Closed with the title bar's close box: the hidden window takes input
    // again once the last dialog has gone.
    HWND hWnd = sched.Window();
    EXPECT_FALSE(IsWindowEnabled(hWnd));
    std::vector<HWND> dialogs = DialogsOf(sched.Id());
    DWORD_PTR result = 0;
    SendMessageTimeoutW(dialogs[0], WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, kWaitMs, &result);
    ASSERT_EQ(1u, DialogsOf(sched.Id()).size());
    EXPECT_FALSE(IsWindowEnabled(hWnd)) << "enabled under an open warning dialog";
    SendMessageTimeoutW(dialogs[1], WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, kWaitMs, &result);
    EXPECT_TRUE(DialogsOf(sched.Id()).empty());
    EXPECT_TRUE(IsWindowEnabled(hWnd)) << "left disabled by the close box";
}

// The reminders of a battery in a reduced charge mode: 40 days after its
// refresh the one-month reminder comes once, then nothing until two months
// have passed. A future reservation, or a first use younger than
// "RefreshIntervalFirst" months, gives none (the latter also clears the
// first check point).
TEST_F(SchedRoutineTest, RemindersComeOnceAStage) {
    const std::wstring id = SetUpAgedBattery(L"one", 80);
    SetLastRefresh(id, 40);
    SYSTEMTIME future = DaysAgo(-2);
    ASSERT_EQ(S_OK, SetRegRefreshResevation(&future, RESERVATION_BATT1));

    SchedFolder folder;
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    CheckAgain(hWnd);
    EXPECT_EQ(0u, ErrorLogCount(kIconFailure)) << "a reminder despite the reservation";

    ASSERT_EQ(S_OK, DelRegRefreshResevation());
    CheckAgain(hWnd);
    EXPECT_EQ(1u, ErrorLogCount(kIconFailure)) << "no one-month reminder";
    SYSTEMTIME stored = {};
    EXPECT_EQ(S_OK, GetRegChargeModeRefBalloon(&stored));
    CheckAgain(hWnd);
    EXPECT_EQ(1u, ErrorLogCount(kIconFailure)) << "the one-month reminder came twice";

    // The last reminder, 15 days ago, was in the one-month stage.
    SetLastRefresh(id, 70);
    const SYSTEMTIME firstStage = DaysAgo(15);
    ASSERT_EQ(S_OK, SetRegChargeModeRefBalloon(&firstStage));
    CheckAgain(hWnd);
    EXPECT_EQ(2u, ErrorLogCount(kIconFailure)) << "no two-month reminder";
    CheckAgain(hWnd);
    EXPECT_EQ(2u, ErrorLogCount(kIconFailure)) << "the two-month reminder came twice";

    const SYSTEMTIME young = DaysAgo(90);
    ASSERT_EQ(0u, sim::Modify([&](sim::Machine& m) -> DWORD {
                  m.battery[0].startDate =
                      EncodeStartDate(young.wYear, young.wMonth, young.wDay, false);
                  return 0;
              }));
    SetLastRefresh(id, 200);
    CheckAgain(hWnd);
    EXPECT_EQ(2u, ErrorLogCount(kIconFailure)) << "a reminder for a young battery";
    SYSTEMTIME point = {};
    EXPECT_TRUE(FAILED(GetRegFirstCheckPointRefreshDay(id.c_str(), &point)));
}

// Windows 8 and later: the overdue reminder of a battery without charge
// modes is a toast (kind 4). While it shows, a further check adds the icon
// but no second toast; a click stores "Balloon" and opens the main screen.
TEST_F(SchedRoutineTest, OverdueToastOnceWhileShowing) {
    SetUpAgedBattery(L"one-nomode", 0);
    // The prefix is Windows 7; the scheduler runs as Windows 10 here.
    WineVersionFor win10(L"zbSched.exe", L"win10");
    SchedFolder folder(true, true);
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    ASSERT_TRUE(WaitForToasts(kReminderToast, 1)) << "no toast";
    const size_t icons = ErrorLogCount(kIconFailure);
    CheckAgain(hWnd);
    EXPECT_EQ(1u, TraceCount(L"Toast is Showing!"));
    EXPECT_EQ(icons + 1, ErrorLogCount(kIconFailure)) << "the icon is added on every check";
    EXPECT_EQ(1u, Toasts(kReminderToast).size());

    EXPECT_FALSE(HasUserValue(L"Balloon"));
    ClickToast(Toasts(kReminderToast)[0]);
    ASSERT_TRUE(folder.WaitForMainStarts(1));
    EXPECT_EQ("(none)", folder.MainStarts()[0]);
    EXPECT_TRUE(HasUserValue(L"Balloon"));
}

// Windows 8 and later, a battery in a reduced charge mode: the one-month
// reminder is a toast (kind 5) and a click on it stores "Balloon" and opens
// the main screen; the two-month toast (kind 6) that times out stores
// "Balloon" too. A battery that needs a refresh before its mode applies
// again (mode 128 or more) gets its toast (kind 9), whose click opens the
// main screen without touching "Balloon".
TEST_F(SchedRoutineTest, ReminderToastsAndTheirCallbacks) {
    const std::wstring id = SetUpAgedBattery(L"one", 80);
    SetLastRefresh(id, 40);
    WineVersionFor win10(L"zbSched.exe", L"win10");
    SchedFolder folder(true, true);
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);

    ASSERT_TRUE(WaitForToasts(kReminderToast, 1)) << "no one-month toast";
    EXPECT_FALSE(HasUserValue(L"Balloon"));
    ClickToast(Toasts(kReminderToast)[0]);
    ASSERT_TRUE(folder.WaitForMainStarts(1));
    EXPECT_EQ("(none)", folder.MainStarts()[0]);
    EXPECT_TRUE(HasUserValue(L"Balloon"));

    SetLastRefresh(id, 70);
    const SYSTEMTIME firstStage = DaysAgo(15);
    ASSERT_EQ(S_OK, SetRegChargeModeRefBalloon(&firstStage));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur", L"Balloon");
    CheckAgain(hWnd);
    ASSERT_TRUE(WaitForToasts(kReminderToast, 1)) << "no two-month toast";
    // Its time passes (the popup's own timer, fired at once).
    PostMessageW(Toasts(kReminderToast)[0], WM_TIMER, 1, 0);
    EXPECT_TRUE(testenv::WaitUntil([] { return HasUserValue(L"Balloon"); }, kWaitMs));
    EXPECT_TRUE(Toasts(kReminderToast).empty());

    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[0].chargeMode = 0x80 | 80;
                  return 0;
              }));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur", L"Balloon");
    CheckAgain(hWnd);
    ASSERT_TRUE(WaitForToasts(kChargeModeToast, 1));
    EXPECT_TRUE(Toasts(kReminderToast).empty()) << "the two-month reminder came twice";
    ClickToast(Toasts(kChargeModeToast)[0]);
    ASSERT_TRUE(folder.WaitForMainStarts(2));
    EXPECT_EQ(2u, folder.MainStarts().size());
    EXPECT_FALSE(HasUserValue(L"Balloon"));
}

} // namespace
