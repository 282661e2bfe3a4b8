// Whole refreshes on the simulated notebook, as a main screen follows them
// on pipe 1: every phase in order, the progress log, the stored outcome and
// dates, and the machine given back as it was (charge modes, the firmware's
// refresh switched off, the other battery, the user's power plan).
#include "scenario_support.h"

#define SECURITY_WIN32
#include <security.h>

#include <algorithm>

using namespace scenario;

namespace {

// Simulated seconds per real second: a whole refresh in a few seconds.
constexpr double kFastSpeed = 4000.0;

// The shape of one battery's progress log when its charge mode is restored
// to 80 and both cool-downs are set to 0 minutes.
const std::vector<std::wstring> kRefreshShape = {
    L"START!",
    L"CHARGING1  (Progress:N %, Capacity:N %)",
    L"INFORMATION Start refreshing.",
    L"REFRESHING (Progress:N %, Capacity:N %)",
    L"INFORMATION Start cool down.",
    L"COOLDOWN1  (Progress:N %)",
    L"INFORMATION Start cool down2.",
    L"COOLDOWN2  (Progress:N %, HHHH)",
    L"INFORMATION Changed charge mode. (0050)",
    L"INFORMATION Start charging, again.",
    L"CHARGING2  (Progress:N %, Capacity:N %)",
    L"INFORMATION Start finalizing.",
};

std::wstring OwnIdOf(const sim::Battery& b) {
    const uint32_t d = b.manufactureDate;
    wchar_t id[128] = {};
    swprintf(id, 128, L"%ls-%04u%02u%02u-%04x", b.name, ((d >> 9) & 0x7F) + 1980, (d >> 5) & 0xF,
             d & 0x1F, b.serial);
    return id;
}

std::wstring ProcessUser() {
    wchar_t name[260] = {};
    ULONG size = 260;
    GetUserNameExW(NameSamCompatible, name, &size);
    return name;
}

bool NeverGoesBack(const std::vector<INT64>& values) {
    return std::is_sorted(values.begin(), values.end());
}

// Notices of one battery after its mode notice `mode`.
std::vector<Notice> After(const std::vector<Notice>& notices, UINT32 battery, INT64 mode) {
    auto it = std::find_if(notices.begin(), notices.end(), [&](const Notice& n) {
        return n.message == kModeNotice && n.battery == battery &&
               static_cast<INT64>(n.wparam) == mode;
    });
    return it == notices.end() ? std::vector<Notice>() : std::vector<Notice>(it + 1, notices.end());
}

class WholeRefreshTest : public RefreshScenarioTest {};

TEST_F(WholeRefreshTest, OneBatteryGoesThroughEveryPhaseAndTheMachineIsGivenBack) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        m.battery[0].chargeMode = 80;
        m.battery[1].chargeMode = 50;
        m.speed = kFastSpeed;
    });
    const PowerState before = ReadPowerState();

    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(recorder_->WaitForMode(1, 1)) << "the discharge never started";
    // While battery 1 is refreshed, battery 2 may not charge, and the machine
    // runs on the refresh plan.
    EXPECT_EQ(5u, ReadBattery(2).chargeMode);
    EXPECT_FALSE(IsEqualGUID(before.activePlan, ReadPowerState().activePlan));
    ASSERT_EQ(0, tool.Wait());

    const std::vector<Notice> notices = recorder_->Notices();
    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4, 5}), ModesOf(notices, 1));
    const std::vector<INT64> progress = ProgressOf(notices, 1);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(NeverGoesBack(progress));
    EXPECT_EQ(100, progress.back());
    EXPECT_TRUE(ErrorsOf(notices).empty());
    EXPECT_TRUE(ModesOf(notices, 2).empty());
    EXPECT_TRUE(testenv::WaitUntil([&] { return recorder_->Closed(); }, kStepWaitMs))
        << "pipe 1 was left open";

    std::vector<std::wstring> shape = kRefreshShape;
    shape.push_back(L"COMPLETED!");
    EXPECT_EQ(shape, ProgressShape(1));

    EXPECT_EQ(0, LastRefreshStatus());
    EXPECT_EQ(ProcessUser(), LastRefreshUser());
    const sim::Battery b1 = ReadBattery(1);
    EXPECT_EQ(Today(), LastRefreshDate(OwnIdOf(b1)));
    EXPECT_EQ(L"", LastRefreshDate(OwnIdOf(ReadBattery(2))));
    ExpectRefreshSwitchedOff(1);
    EXPECT_EQ(80u, b1.chargeMode);
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
    ExpectSamePowerState(before, ReadPowerState());
    EXPECT_EQ(1u, TraceCount(L"zbRefresh End"));
}

// The battery history shows what the refresh did: the gauge read 42240 mWh
// of cells that hold 40000, and the discharge to the firmware's end with
// the full charge after it let the gauge relearn them.
TEST_F(WholeRefreshTest, TheHistoryShowsTheFullChargeCapacityBeforeAndAfter) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        m.battery[0].trueCapacity = 40000;
        m.speed = kFastSpeed;
    });
    const sim::Battery before = ReadBattery(1);
    ASSERT_EQ(42240u, before.fullChargeCapacity);
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(tool.Started());
    ASSERT_EQ(0, tool.Wait());
    const sim::Battery after = ReadBattery(1);
    EXPECT_EQ(40000u, after.fullChargeCapacity);

    const std::vector<zbhistory::HistoryRow> rows = HistoryRows();
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(zbhistory::HistoryEvent::RefreshStart, rows[0].event);
    EXPECT_EQ(zbhistory::HistoryEvent::RefreshEnd, rows[1].event);
    for (const zbhistory::HistoryRow& row : rows) {
        EXPECT_EQ(1u, row.battery);
        EXPECT_EQ(OwnIdOf(before), row.id);
        EXPECT_EQ(before.designCapacity, row.designMwh);
        EXPECT_EQ(0u, row.health);
    }
    EXPECT_EQ(before.cycleCount, rows[0].cycles);
    EXPECT_EQ(after.cycleCount, rows[1].cycles);
    EXPECT_FALSE(rows[1].hasStatus);
    const std::vector<zbhistory::RefreshRecord> records = zbhistory::RefreshRecordsOf(rows, 1);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(42240u, records[0].fullChargeBeforeMwh);
    EXPECT_EQ(40000u, records[0].fullChargeAfterMwh);
}

// Both batteries, one after the other. Battery 2 is marked for a refresh
// (mode 0xC4): it is not held while battery 1 is refreshed, and comes back
// as 80. Each battery's first cool-down is timed from its own start: with a
// clock shared between the batteries, battery 2's cool-down, a minute after
// battery 1's, would be over at its first look.
TEST_F(WholeRefreshTest, BothBatteriesInOneRunEachWithItsOwnCoolDownClock) {
    SetRefreshSetting(L"RefreshCoolDownTime", 1);
    SetUpMachine(L"two", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        SetPercent(m.battery[1], 97);
        m.battery[0].chargeMode = 80;
        m.battery[1].chargeMode = 0xC4;
        m.speed = kFastSpeed;
    });
    const PowerState before = ReadPowerState();

    ToolProcess tool(L"/nomain");
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(recorder_->WaitForMode(1, 1));
    EXPECT_EQ(0xC4u, ReadBattery(2).chargeMode) << "a marked battery is never held";

    // Battery 1 cools down for its minute; then battery 2 begins.
    ASSERT_TRUE(recorder_->WaitForMode(2, 1, 2 * kStepWaitMs));
    EXPECT_EQ(5u, ReadBattery(1).chargeMode);
    ASSERT_TRUE(recorder_->WaitForMode(2, 2));
    ASSERT_TRUE(recorder_->WaitFor([](const Notice& n) {
        return n.message == kProgressNotice && n.battery == 2 && n.wparam >= 40;
    }));
    const std::vector<Notice> cooling = After(recorder_->Notices(), 2, 2);
    ASSERT_FALSE(cooling.empty());
    EXPECT_EQ(kProgressNotice, cooling.front().message);
    EXPECT_EQ(40u, cooling.front().wparam) << "battery 2's cool-down did not start from zero";

    // Battery 2's own minute is not needed any more: end it at the next look,
    // which a change of battery 1's charge (held, so it stays) brings at once.
    SetRefreshSetting(L"RefreshCoolDownTime", 0);
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  SetPercent(m.battery[0], 60);
                  return 0;
              }));
    ASSERT_EQ(0, tool.Wait());

    const std::vector<Notice> notices = recorder_->Notices();
    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4}), ModesOf(notices, 1));
    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4, 5}), ModesOf(notices, 2));
    EXPECT_TRUE(NeverGoesBack(ProgressOf(notices, 1)));
    EXPECT_TRUE(NeverGoesBack(ProgressOf(notices, 2)));
    EXPECT_EQ(100, ProgressOf(notices, 2).back());
    EXPECT_TRUE(ErrorsOf(notices).empty());

    EXPECT_EQ(kRefreshShape, ProgressShape(1));
    std::vector<std::wstring> shape2 = kRefreshShape;
    shape2.push_back(L"COMPLETED!");
    EXPECT_EQ(shape2, ProgressShape(2));

    EXPECT_EQ(0, LastRefreshStatus());
    EXPECT_EQ(Today(), LastRefreshDate(OwnIdOf(ReadBattery(1))));
    EXPECT_EQ(Today(), LastRefreshDate(OwnIdOf(ReadBattery(2))));
    ExpectRefreshSwitchedOff(1);
    ExpectRefreshSwitchedOff(2);
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    EXPECT_EQ(80u, ReadBattery(2).chargeMode);
    ExpectSamePowerState(before, ReadPowerState());
}

// On the platform whose firmware discharges to empty, the tool itself ends
// the discharge at the RefreshLimit default of 2 %.
TEST_F(WholeRefreshTest, TheToolEndsTheDischargeAtTwoPercentWhereTheFirmwareWouldNot) {
    SetUpMachine(L"one-312", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        m.speed = kFastSpeed;
    });
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(tool.Started());
    // Slow the machine down for the last points, so that the limit is met on
    // the way rather than stepped over.
    ASSERT_TRUE(recorder_->WaitFor(
        [](const Notice& n) { return n.message == kProgressNotice && n.wparam >= 37; }));
    SetSpeed(300.0);
    ASSERT_TRUE(recorder_->WaitForMode(1, 2));
    SetSpeed(kFastSpeed);
    ASSERT_EQ(0, tool.Wait());

    EXPECT_TRUE(TraceContains(L"ProcRefresh dwLimit=2 "));
    EXPECT_EQ(1u, TraceCount(L"] ADPC = 1"));
    // The discharge's last look found the limit reached, above empty.
    int last = -1;
    for (const std::wstring& line : ProgressLines(1)) {
        int progress = 0;
        int capacity = 0;
        if (swscanf(line.c_str(), L"REFRESHING (Progress:%d %%, Capacity:%d %%)", &progress,
                    &capacity) == 2)
            last = capacity;
    }
    EXPECT_GE(last, 1);
    EXPECT_LE(last, 2);
    EXPECT_EQ(0, LastRefreshStatus());
    ExpectRefreshSwitchedOff(1);
}

} // namespace
