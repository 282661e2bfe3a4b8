// The refresh phases' rules, checked without a window or a battery.
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "support/suite_env.h"

#include "common/util.h"
#include "refresh/refresh_logic.h"

using namespace zbrefresh;

namespace {

// A probe that answers from a fixed charging flag and records what it was
// asked, so a test can tell which of the slow state waits a rule made.
struct FakeProbe {
    int currentFlag;
    std::vector<int> asked;
    ChargingStateProbe Get() {
        return [this](int wanted) {
            asked.push_back(wanted);
            return wanted == currentFlag;
        };
    }
};

SYSTEMTIME LocalTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    return testenv::MakeTime(year, month, day, hour, minute, second);
}

} // namespace

TEST(RefreshProgress, EachPhaseCoversItsFifthAtTheBoundaries) {
    EXPECT_EQ(0, CalcFirstChargeProgress(0));
    EXPECT_EQ(0, CalcFirstChargeProgress(4));
    EXPECT_EQ(19, CalcFirstChargeProgress(99));
    EXPECT_EQ(20, CalcFirstChargeProgress(100));

    EXPECT_EQ(20, CalcRefreshingProgress(100));
    EXPECT_EQ(20, CalcRefreshingProgress(96));
    EXPECT_EQ(39, CalcRefreshingProgress(2));
    EXPECT_EQ(40, CalcRefreshingProgress(0));

    EXPECT_EQ(40, CalcCoolDown1Progress(0, 30));
    EXPECT_EQ(50, CalcCoolDown1Progress(15, 30));
    EXPECT_EQ(59, CalcCoolDown1Progress(29, 30));
    EXPECT_EQ(60, CalcCoolDown1Progress(30, 30));

    EXPECT_EQ(60, CalcCoolDown2Progress(0, 60));
    EXPECT_EQ(70, CalcCoolDown2Progress(30, 60));
    EXPECT_EQ(79, CalcCoolDown2Progress(59, 60));
    EXPECT_EQ(80, CalcCoolDown2Progress(60, 60));
}

TEST(RefreshProgress, CoolDownFiguresTruncateLikeSinglePrecision) {
    // 1/3 of 20 is 6.66: truncated, not rounded.
    EXPECT_EQ(46, CalcCoolDown1Progress(10, 30));
    // COOLDOWN2 truncates the percentage first, then divides by 5:
    // 7/60 = 11.66 % -> 11 -> 2.
    EXPECT_EQ(62, CalcCoolDown2Progress(7, 60));
}

TEST(RefreshProgress, SecondChargeScalesToTheRestoredChargeLevel) {
    // Full-charge mode: capacity / 5.
    EXPECT_EQ(80, CalcSecondChargeProgress(0, 0));
    EXPECT_EQ(99, CalcSecondChargeProgress(99, 0));
    EXPECT_EQ(100, CalcSecondChargeProgress(100, 0));
    // 80 % mode (0x50): capacity / 4, so 80 % is done.
    EXPECT_EQ(80 + 60 / 4, CalcSecondChargeProgress(60, 0x50));
    EXPECT_EQ(100, CalcSecondChargeProgress(80, 0x50));
    EXPECT_EQ(99, CalcSecondChargeProgress(79, 0x50));
    // 50 % mode: capacity / 2.5.
    EXPECT_EQ(90, CalcSecondChargeProgress(25, 50));
    EXPECT_EQ(100, CalcSecondChargeProgress(50, 50));
    // Other modes (a marked one that was not normalised, an odd level) fall
    // back to the full-charge figure.
    EXPECT_EQ(90, CalcSecondChargeProgress(50, 0xC4));
    EXPECT_EQ(90, CalcSecondChargeProgress(50, 70));
}

TEST(RefreshProgress, SecondChargeNeverReportsMoreThanAHundred) {
    EXPECT_EQ(100, CalcSecondChargeProgress(100, 50));
    EXPECT_EQ(100, CalcSecondChargeProgress(90, 0x50));
}

TEST(ChargeMode, NormalisesToTheNearestLevelTheDialogOffers) {
    EXPECT_EQ(80u, NormalizeChargeMode(0xC4)); // 0x44 = 68 with the refresh mark
    EXPECT_EQ(80u, NormalizeChargeMode(0x50));
    EXPECT_EQ(80u, NormalizeChargeMode(65));
    EXPECT_EQ(80u, NormalizeChargeMode(80));
    EXPECT_EQ(0u, NormalizeChargeMode(81));
    EXPECT_EQ(50u, NormalizeChargeMode(64));
    EXPECT_EQ(50u, NormalizeChargeMode(50));
    EXPECT_EQ(50u, NormalizeChargeMode(0x80 | 50));
    EXPECT_EQ(0u, NormalizeChargeMode(49));
    EXPECT_EQ(0u, NormalizeChargeMode(5)); // the no-charge hold is never given back
    EXPECT_EQ(0u, NormalizeChargeMode(0x80));
    EXPECT_EQ(0u, NormalizeChargeMode(0));
    // Only the low seven bits count.
    EXPECT_EQ(80u, NormalizeChargeMode(0x100 | 70));
}

TEST(ChargeMode, ReleasesReducedLevelsAndLeavesMarkedBatteriesAlone) {
    EXPECT_EQ(ChargeModeAtStart::Keep, DecideChargeModeAtStart(0));
    EXPECT_EQ(ChargeModeAtStart::Release, DecideChargeModeAtStart(80));
    EXPECT_EQ(ChargeModeAtStart::Release, DecideChargeModeAtStart(50));
    EXPECT_EQ(ChargeModeAtStart::Release, DecideChargeModeAtStart(5));
    EXPECT_EQ(ChargeModeAtStart::Marked, DecideChargeModeAtStart(0x80));
    EXPECT_EQ(ChargeModeAtStart::Marked, DecideChargeModeAtStart(0xC4));
}

TEST(CoolDown, ElapsedIsWholeMinutesAndNeverNegative) {
    const SYSTEMTIME start = LocalTime(2024, 3, 5, 23, 50, 30);
    EXPECT_EQ(0, CalcElapsedMinutes(start, start));
    EXPECT_EQ(0, CalcElapsedMinutes(start, LocalTime(2024, 3, 5, 23, 51, 29)));
    EXPECT_EQ(1, CalcElapsedMinutes(start, LocalTime(2024, 3, 5, 23, 51, 30)));
    // Across midnight and a month end.
    EXPECT_EQ(
        30, CalcElapsedMinutes(LocalTime(2024, 2, 29, 23, 45, 0), LocalTime(2024, 3, 1, 0, 15, 0)));
    // A clock set back does not make the wait endless or negative.
    EXPECT_EQ(0, CalcElapsedMinutes(start, LocalTime(2024, 3, 5, 22, 0, 0)));
}

TEST(CoolDown, ZeroTimeOrLimitEndsAtTheFirstTick) {
    EXPECT_TRUE(IsCoolDown1Over(0, 0));
    EXPECT_FALSE(IsCoolDown1Over(29, 30));
    EXPECT_TRUE(IsCoolDown1Over(30, 30));

    // Limit 0: over whatever the temperature.
    EXPECT_TRUE(IsCoolDown2Over(4000, 3131, 0, 0));
    // Warm and time left: stay.
    EXPECT_FALSE(IsCoolDown2Over(3132, 3131, 59, 60));
    // Cool enough (equal counts as cool).
    EXPECT_TRUE(IsCoolDown2Over(3131, 3131, 0, 60));
    // Still warm but the limit has passed.
    EXPECT_TRUE(IsCoolDown2Over(3500, 3131, 60, 60));
    // A failed temperature read counts as 0 and ends the phase at once.
    EXPECT_TRUE(IsCoolDown2Over(0, 3131, 0, 60));
    // The comparison is unsigned: a huge reading is warm.
    EXPECT_FALSE(IsCoolDown2Over(0xFFFFFFFF, 3131, 0, 60));
}

TEST(FirstCharge, BelowTheCompleteLevelStaysWithoutAskingTheBattery) {
    FakeProbe probe{CHARGING_FLAG_DISCHARGING, {}};
    EXPECT_EQ(FirstChargeStep::Stay, DecideFirstCharge(94, 100, 95, probe.Get()));
    EXPECT_TRUE(probe.asked.empty());
}

TEST(FirstCharge, BetweenCompleteAndMaxEndsOnceNotCharging) {
    FakeProbe charging{CHARGING_FLAG_CHARGING, {}};
    EXPECT_EQ(FirstChargeStep::Stay, DecideFirstCharge(96, 100, 95, charging.Get()));
    EXPECT_EQ((std::vector<int>{CHARGING_FLAG_CHARGING}), charging.asked);

    FakeProbe idle{CHARGING_FLAG_DISCHARGING, {}};
    EXPECT_EQ(FirstChargeStep::Complete, DecideFirstCharge(96, 100, 95, idle.Get()));
    EXPECT_EQ((std::vector<int>{CHARGING_FLAG_CHARGING, CHARGING_FLAG_DISCHARGING}), idle.asked);

    // Neither charging nor found not charging (status unknown): with Max 100
    // the not-charging check must succeed, so it stays.
    FakeProbe unknown{CHARGING_FLAG_UNKNOWN, {}};
    EXPECT_EQ(FirstChargeStep::StayUntilNotCharging, DecideFirstCharge(96, 100, 95, unknown.Get()));
}

TEST(FirstCharge, AtAHundredTheBatteryMustStopCharging) {
    FakeProbe charging{CHARGING_FLAG_CHARGING, {}};
    EXPECT_EQ(FirstChargeStep::StayUntilNotCharging,
              DecideFirstCharge(100, 100, 95, charging.Get()));
    EXPECT_EQ((std::vector<int>{CHARGING_FLAG_DISCHARGING}), charging.asked);

    FakeProbe idle{CHARGING_FLAG_DISCHARGING, {}};
    EXPECT_EQ(FirstChargeStep::Complete, DecideFirstCharge(100, 100, 95, idle.Get()));
}

TEST(FirstCharge, AMaxBelowAHundredEndsAtThatLevelWithoutACheck) {
    FakeProbe charging{CHARGING_FLAG_CHARGING, {}};
    EXPECT_EQ(FirstChargeStep::Complete, DecideFirstCharge(90, 90, 95, charging.Get()));
    EXPECT_TRUE(charging.asked.empty());
    EXPECT_EQ(FirstChargeStep::Stay, DecideFirstCharge(89, 90, 85, charging.Get()));
}

TEST(SecondCharge, MustBeSeenChargingBeforeItCanEnd) {
    bool seen = false;
    EXPECT_EQ(SecondChargeStep::Retry, DecideSecondCharge(40, 100, false, seen));
    EXPECT_FALSE(seen);
    EXPECT_EQ(SecondChargeStep::Stay, DecideSecondCharge(40, 100, true, seen));
    EXPECT_TRUE(seen);
    EXPECT_EQ(SecondChargeStep::Stay, DecideSecondCharge(99, 100, true, seen));
    // Stopped charging (a reduced charge mode reached its level): done.
    EXPECT_EQ(SecondChargeStep::Complete, DecideSecondCharge(80, 100, false, seen));
}

TEST(SecondCharge, ReachingMaxWhileChargingEnds) {
    bool seen = false;
    EXPECT_EQ(SecondChargeStep::Complete, DecideSecondCharge(100, 100, true, seen));
    EXPECT_TRUE(seen);
    seen = false;
    EXPECT_EQ(SecondChargeStep::Complete, DecideSecondCharge(90, 90, true, seen));
}

TEST(RefreshFlags, ClassifiesTheFourCombinations) {
    EXPECT_EQ(RefreshFlagsState::Released, ClassifyRefreshFlags(3));
    EXPECT_EQ(RefreshFlagsState::Discharging, ClassifyRefreshFlags(0));
    EXPECT_EQ(RefreshFlagsState::Ended, ClassifyRefreshFlags(2));
    EXPECT_EQ(RefreshFlagsState::ChgcOnly, ClassifyRefreshFlags(1));
    // Other bits (the protect support bit) do not matter.
    EXPECT_EQ(RefreshFlagsState::Released, ClassifyRefreshFlags(0x20003));
    EXPECT_EQ(RefreshFlagsState::Discharging, ClassifyRefreshFlags(0x20000));
}

TEST(RefreshFlags, TheToolEndsTheDischargeOnlyBelowAHundredPercentLimits) {
    EXPECT_TRUE(ShouldStopDischarge(2, 2));
    EXPECT_TRUE(ShouldStopDischarge(2, 0));
    EXPECT_FALSE(ShouldStopDischarge(2, 3));
    EXPECT_TRUE(ShouldStopDischarge(99, 99));
    EXPECT_FALSE(ShouldStopDischarge(100, 0));
    EXPECT_FALSE(ShouldStopDischarge(101, 0));
}

TEST(ErrorFollowUp, AnArmedAbortOnlyRepeatsItsNotice) {
    EXPECT_EQ(ErrorFollowUp::RepeatNotice, DecideErrorFollowUp(true, -1, E_FAIL));
    EXPECT_EQ(ErrorFollowUp::RepeatNotice, DecideErrorFollowUp(true, 2, S_OK));
    EXPECT_EQ(ErrorFollowUp::ErrorTail, DecideErrorFollowUp(false, -1, S_OK));
    EXPECT_EQ(ErrorFollowUp::ErrorTail, DecideErrorFollowUp(false, 1, E_FAIL));
    EXPECT_EQ(ErrorFollowUp::None, DecideErrorFollowUp(false, 3, S_OK));
    EXPECT_EQ(ErrorFollowUp::None, DecideErrorFollowUp(false, 5, 1));
}
