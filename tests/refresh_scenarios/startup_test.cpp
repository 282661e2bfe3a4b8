// How zbRefresh.exe starts: refusals at start-up (AC adapter, missing
// battery) stored for the main screen, one refreshing instance at a time,
// the keep-awake instance beside it, and the Windows XP branch, where the
// refresh starts from the window's creation and a timer watches the battery.
#include "scenario_support.h"

#include "common/reg.h"

#include <algorithm>
#include <memory>

using namespace scenario;

namespace {

constexpr double kSlowSpeed = 100.0;
constexpr double kFastSpeed = 4000.0;
constexpr DWORD kQuickExitMs = 30000;

std::wstring PidTag(DWORD pid) {
    wchar_t tag[16] = {};
    swprintf(tag, 16, L"[%08X]", pid);
    return tag;
}

// Trace lines of one process that contain the text.
size_t TraceCountOf(DWORD pid, const wchar_t* text) {
    const std::wstring tag = PidTag(pid);
    size_t count = 0;
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_refresh.log"))
        count += line.find(tag) != std::wstring::npos && line.find(text) != std::wstring::npos;
    return count;
}

class RefreshStartupTest : public RefreshScenarioTest {
protected:
    // A refused start: the outcome is stored, the main screen is told the
    // window could not be made (reason 1, battery 1), no refresh begins.
    void ExpectRefusedWith(LONG status) {
        EXPECT_EQ(status, LastRefreshStatus());
        ASSERT_TRUE(recorder_->WaitFor([](const Notice&) { return true; }, 10000));
        const std::vector<Notice> notices = recorder_->Notices();
        ASSERT_EQ(1u, notices.size());
        EXPECT_EQ(kErrorNotice, notices[0].message);
        EXPECT_EQ(1u, notices[0].battery);
        EXPECT_EQ(1u, notices[0].wparam);
        EXPECT_TRUE(TraceContains(L"GetRefBattery error"));
        EXPECT_TRUE(TraceContains(L"InitInstance error"));
        EXPECT_TRUE(ProgressLines(1).empty());
        EXPECT_TRUE(ProgressLines(2).empty());
    }
};

TEST_F(RefreshStartupTest, AdapterUnpluggedAtStartStoresFive) {
    SetUpMachine(L"two", [](sim::Machine& m) { m.acOnline = 0; });
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_EQ(0, tool.Wait(kQuickExitMs));
    ExpectRefusedWith(5);
    EXPECT_TRUE(TraceContains(L"[GetRefBattery]AC is not connected!"));
}

// A reserved refresh ("/resv") does not wait when no alarm program runs.
TEST_F(RefreshStartupTest, MissingSecondBatteryStoresThree) {
    SetUpMachine(L"one", [](sim::Machine&) {});
    ToolProcess tool(L"/resv /b2 /nomain");
    ASSERT_EQ(0, tool.Wait(kQuickExitMs));
    ExpectRefusedWith(3);
    EXPECT_FALSE(TraceContains(L"[GetRefBattery]Refresh main battery!"));
    EXPECT_TRUE(TraceContains(L"Alarm Is not running!"));
    EXPECT_FALSE(TraceContains(L"Sleep Start"));
}

// While one refresh runs: a second refreshing instance and "/end" with
// nothing else to do leave it alone; a keep-awake instance runs beside it
// and ends by itself after "SleepDelay" minutes (0 here: at once), while a
// second keep-awake instance exits at once.
TEST_F(RefreshStartupTest, OneRefreshingAndOneKeepAwakeInstanceAtATime) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        SetPercent(m.battery[0], 50);
        m.speed = kSlowSpeed;
    });
    ToolProcess refresh(L"/b1 /nomain");
    ASSERT_TRUE(recorder_->WaitFor([](const Notice& n) { return n.message == kProgressNotice; }));

    ToolProcess second(L"/b1 /nomain");
    EXPECT_EQ(0, second.Wait(kQuickExitMs));
    EXPECT_EQ(0u, TraceCountOf(second.Id(), L"zbRefresh Strat")) << "it went past the mutex";

    SetRefreshSetting(L"SleepDelay", 0);
    ToolProcess delay(L"/delay");
    EXPECT_EQ(0, delay.Wait(kQuickExitMs));
    EXPECT_EQ(1u, TraceCountOf(delay.Id(), L"zbRefresh Strat"));
    EXPECT_EQ(1u, TraceCountOf(delay.Id(), L"zbRefresh End"));

    // Long enough that the keep-awake instance is still there on a loaded
    // machine when the second one is refused.
    SetRefreshSetting(L"SleepDelay", 10);
    ToolProcess awake(L"/delay");
    ASSERT_TRUE(testenv::WaitUntil([&] { return TraceCountOf(awake.Id(), L"zbRefresh Strat") > 0; },
                                   kQuickExitMs));
    ToolProcess secondAwake(L"/delay");
    EXPECT_EQ(0, secondAwake.Wait(kQuickExitMs));
    EXPECT_EQ(0u, TraceCountOf(secondAwake.Id(), L"zbRefresh Strat"));
    EXPECT_TRUE(awake.Running());

    EXPECT_TRUE(refresh.Running());
    EXPECT_EQ(0, ToolProcess(L"/end").Wait(kQuickExitMs));
    EXPECT_EQ(0, refresh.Wait(kStepWaitMs));
    EXPECT_TRUE(ErrorsOf(recorder_->Notices()).empty());
}

// Windows XP: no power-setting notifications; the window's creation gives
// the first tick, a timer watches the battery's percentage, and the XP
// refresh power scheme is applied and the user's scheme restored.
class RefreshOnXpTest : public RefreshStartupTest {
protected:
    void SetUp() override {
        RefreshStartupTest::SetUp();
        xp_.reset(new WineVersionFor(L"zbRefresh.exe", L"winxp64"));
        SetUserRefreshSetting(L"WaitWatchBatteryStatusTime", 200);
        SetUpMachine(L"one", [](sim::Machine& m) {
            SetPercent(m.battery[0], 97);
            m.battery[0].chargeMode = 80;
            m.speed = kFastSpeed;
        });
        before_ = ReadPowerState();
    }
    void TearDown() override {
        xp_.reset();
        RefreshStartupTest::TearDown();
    }

    void RunRefresh() {
        ToolProcess tool(L"/b1 /nomain");
        ASSERT_TRUE(recorder_->WaitForMode(1, 1));
        EXPECT_NE(before_.activeXpScheme, ReadPowerState().activeXpScheme);
        EXPECT_TRUE(IsEqualGUID(before_.activePlan, ReadPowerState().activePlan));
        ASSERT_EQ(0, tool.Wait());
    }

    std::unique_ptr<WineVersionFor> xp_;
    PowerState before_;
};

TEST_F(RefreshOnXpTest, TheWatchTimerDrivesTheRefreshOnItsOwnScheme) {
    RunRefresh();
    const std::vector<INT64> modes = ModesOf(recorder_->Notices(), 1);
    ASSERT_GE(modes.size(), 5u);
    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4, 5}),
              std::vector<INT64>(modes.begin(), modes.begin() + 5));
    EXPECT_TRUE(ErrorsOf(recorder_->Notices()).empty());
    EXPECT_TRUE(TraceContains(L"充電状態監視タイマーの開始"));
    EXPECT_TRUE(TraceContains(L"充電状態変化通知"));
    EXPECT_FALSE(TraceContains(L"StorePowerPlan"));
    const std::vector<std::wstring> lines = ProgressLines(1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"START!", lines.front());
    EXPECT_EQ(L"COMPLETED!", lines.back());
    EXPECT_EQ(0, LastRefreshStatus());
    ExpectRefreshSwitchedOff(1);
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    ExpectSamePowerState(before_, ReadPowerState());
}

// A refresh completes once, even when a power event arrives while the
// clean-up waits for the power-scheme watcher to end (a phase tick then
// would complete the finished battery again: date, outcome, "COMPLETED!",
// mode notice and, with "/sleep", a second suspend).
TEST_F(RefreshOnXpTest, ARefreshCompletesOnce) {
    RunRefresh();
    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4, 5}), ModesOf(recorder_->Notices(), 1));
    const std::vector<std::wstring> lines = ProgressLines(1);
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), L"COMPLETED!"));
    EXPECT_EQ(1u, TraceCount(L"ProcComplete: start!"));
}

} // namespace
