// Charge modes while a refresh runs, read from the simulated notebook during
// the run: the battery that waits its turn is held and handed back, and a
// mode another program writes into a charging battery does not keep the
// refresh waiting.
#include "scenario_support.h"

#include "battery/battery.h"

using namespace scenario;

namespace {

constexpr double kFastSpeed = 4000.0;
constexpr uint32_t kHeld = 5; // "NotChargeLimit"

uint32_t ModeOf(UINT battNo) {
    return ReadBattery(battNo).chargeMode;
}

// Changes a battery's mode as another program (an import, say) would,
// through the battery library, and moves its charge a little: the
// percentage change brings the tool's next look at once (otherwise its
// one-minute timer would).
void ChangeModeBehindTheTool(UINT battNo, uint32_t mode) {
    CBattery battery(battNo);
    ASSERT_EQ(S_OK, battery.SetChargeMode(mode));
    ASSERT_EQ(0u, sim::Modify([&](sim::Machine& m) -> DWORD {
                  sim::Battery& b = m.battery[battNo - 1];
                  SetPercent(b, sim::RemainingPercent(b) + 1.0);
                  return 0;
              }));
}

class ChargeModeTest : public RefreshScenarioTest {};

// Both batteries in one run, battery 2 at the 50 % mode: it is held while
// battery 1 is refreshed, gets its mode back, is refreshed with full
// charging in its turn (battery 1 held meanwhile) and ends at 50; battery 1
// ends at its own 80.
TEST_F(ChargeModeTest, BothBatteriesEachHeldWhileTheOtherIsRefreshedAndGivenBack) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        SetPercent(m.battery[1], 97);
        m.battery[0].chargeMode = 80;
        m.battery[1].chargeMode = 50;
        m.speed = kFastSpeed;
    });

    ToolProcess tool(L"/b1 /b2 /nomain");
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(recorder_->WaitForMode(1, 1));
    EXPECT_EQ(0u, ModeOf(1)) << "battery 1 is not charged fully";
    EXPECT_EQ(kHeld, ModeOf(2)) << "battery 2 charges while battery 1 is refreshed";

    ASSERT_TRUE(recorder_->WaitForMode(2, 1));
    EXPECT_EQ(0u, ModeOf(2)) << "battery 2 is not charged fully";
    EXPECT_EQ(kHeld, ModeOf(1)) << "battery 1 charges while battery 2 is refreshed";
    ASSERT_EQ(0, tool.Wait());

    const std::vector<Notice> notices = recorder_->Notices();
    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4}), ModesOf(notices, 1));
    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4, 5}), ModesOf(notices, 2));
    EXPECT_TRUE(ErrorsOf(notices).empty());
    EXPECT_EQ(0, LastRefreshStatus());
    EXPECT_EQ(80u, ModeOf(1));
    EXPECT_EQ(50u, ModeOf(2));
    ExpectRefreshSwitchedOff(1);
    ExpectRefreshSwitchedOff(2);
}

// Another program writes a mode into the battery while it charges. In the
// first charge the 50 % level, at which the battery (above it) would never
// charge again: the tool charges it fully anyway and gives it that level,
// the owner's latest, after the refresh. In the second charge the hold-off
// mode, which would keep the battery from ever taking charge: the tool
// puts the battery's own mode back. The refresh completes.
TEST_F(ChargeModeTest, AModeChangedDuringEitherChargeIsPutBackAndTheRefreshEnds) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        SetPercent(m.battery[0], 60);
        m.battery[0].chargeMode = 80;
        m.speed = 200.0;
    });

    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(recorder_->WaitFor(
        [](const Notice& n) { return n.message == kProgressNotice && n.battery == 1; }));
    ChangeModeBehindTheTool(1, 50);
    EXPECT_TRUE(testenv::WaitUntil([] { return ModeOf(1) == 0; }, kStepWaitMs))
        << "the first charge waits on a battery held at 50 %";
    // Slowed down for the end of the discharge, so that the second charge
    // lasts long enough to be interfered with.
    SetSpeed(kFastSpeed);
    ASSERT_TRUE(recorder_->WaitFor(
        [](const Notice& n) { return n.message == kProgressNotice && n.wparam >= 38; }));
    SetSpeed(200.0);
    ASSERT_TRUE(recorder_->WaitForMode(1, 4));
    EXPECT_EQ(50u, ModeOf(1)) << "the owner's latest level was not given back";

    ChangeModeBehindTheTool(1, kHeld);
    EXPECT_TRUE(testenv::WaitUntil([] { return ModeOf(1) == 50; }, kStepWaitMs))
        << "the second charge waits on a battery held off charging";
    SetSpeed(kFastSpeed);
    ASSERT_EQ(0, tool.Wait());

    EXPECT_EQ((std::vector<INT64>{1, 2, 3, 4, 5}), ModesOf(recorder_->Notices(), 1));
    EXPECT_TRUE(ErrorsOf(recorder_->Notices()).empty());
    EXPECT_EQ(0, LastRefreshStatus());
    EXPECT_EQ(50u, ModeOf(1));
    EXPECT_EQ(2u, TraceCount(L"during charging"));
    ExpectRefreshSwitchedOff(1);
}

} // namespace
