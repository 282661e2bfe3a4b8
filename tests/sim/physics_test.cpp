// The simulated machine's physics, profiles and input checks, in process
// (no shared state): every expectation follows from simulated time alone.
#include "sim/machine.h"

#include "battery/firmware.h"

#include <gtest/gtest.h>

#include <string>

namespace {

sim::Machine Profile(const wchar_t* name) {
    sim::Machine m;
    EXPECT_TRUE(sim::BuildProfile(name, &m)) << name;
    return m;
}

sim::Battery& Main(sim::Machine& m) {
    return m.battery[0];
}

void SetPercent(sim::Battery& b, double percent) {
    b.remaining = b.fullChargeCapacity * percent / 100.0;
    b.chargeLatched = 0;
}

// Runs the machine in one-minute steps until pred holds; returns the
// simulated seconds it took, or a negative value after limitHours.
template <typename Pred> double RunUntil(sim::Machine& m, Pred pred, double limitHours = 12.0) {
    for (double t = 0.0; t <= limitHours * 3600.0; t += 60.0) {
        sim::Advance(m, 0.0);
        if (pred(m))
            return t;
        sim::Advance(m, 60.0);
    }
    return -1.0;
}

// The suite's health grading of a battery from BBIF (full charge against
// 90 % of the design capacity).
uint32_t SuiteHealth(const sim::Battery& b) {
    const float base = b.designCapacity * (90 / 100.0f);
    float ratio = b.fullChargeCapacity / base * 100.0f;
    if (ratio > 100.0f)
        ratio = 100.0f;
    const uint32_t r = static_cast<uint32_t>(ratio);
    return r > 50 ? 0 : (r > 30 ? 10 : 20);
}

TEST(SimPhysics, ChargesFromEmptyToFullInAboutTwoHoursThenStops) {
    sim::Machine m = Profile(L"one");
    Main(m).fullChargeCapacity = Main(m).designCapacity;
    SetPercent(Main(m), 0.0);
    const double seconds =
        RunUntil(m, [](sim::Machine& x) { return !sim::IsCharging(x.battery[0]); });
    EXPECT_NEAR(seconds / 3600.0, sim::kFullChargeHours, 0.1);
    EXPECT_EQ(100u, sim::RemainingPercent(Main(m)));
    EXPECT_DOUBLE_EQ(Main(m).fullChargeCapacity, Main(m).remaining);

    // Full and resting on AC: it stays so.
    sim::Advance(m, 3600.0);
    EXPECT_FALSE(sim::IsCharging(Main(m)));
    EXPECT_EQ(100u, sim::RemainingPercent(Main(m)));
}

TEST(SimPhysics, ChargeTapersAboveEightyPercent) {
    sim::Machine m = Profile(L"one");
    SetPercent(Main(m), 50.0);
    sim::Advance(m, 0.0);
    const double bulk = Main(m).rate;
    SetPercent(Main(m), 95.0);
    sim::Advance(m, 0.0);
    EXPECT_GT(bulk, 0.0);
    EXPECT_LT(Main(m).rate, bulk / 2.0);
    EXPECT_GT(Main(m).rate, 0.0);
}

TEST(SimPhysics, ChargeModesStopAtTheirLevel) {
    struct Case {
        uint32_t mode;
        uint32_t expected;
    } cases[] = {{80, 80}, {50, 50}, {0, 100}, {128, 100}, {0xD0, 100}};
    for (const Case& c : cases) {
        sim::Machine m = Profile(L"one");
        Main(m).chargeMode = c.mode;
        SetPercent(Main(m), 20.0);
        ASSERT_GE(RunUntil(m, [](sim::Machine& x) { return !sim::IsCharging(x.battery[0]); }), 0.0)
            << c.mode;
        EXPECT_EQ(c.expected, sim::RemainingPercent(Main(m))) << c.mode;
    }
}

TEST(SimPhysics, NotChargeLimitModeHoldsCharging) {
    sim::Machine m = Profile(L"one");
    m.notChargeLimit = 7;
    Main(m).chargeMode = 7;
    SetPercent(Main(m), 2.0);
    sim::Advance(m, 3600.0);
    EXPECT_FALSE(sim::IsCharging(Main(m)));
    EXPECT_EQ(2u, sim::RemainingPercent(Main(m)));
    // The default value 5 is then an ordinary (low) limit.
    Main(m).chargeMode = 5;
    sim::Advance(m, 0.0);
    EXPECT_TRUE(sim::IsCharging(Main(m)));
}

TEST(SimPhysics, StoppedChargerRestartsOnlyWellBelowItsLimit) {
    sim::Machine m = Profile(L"one");
    Main(m).chargeMode = 80;
    SetPercent(Main(m), 70.0);
    RunUntil(m, [](sim::Machine& x) { return !sim::IsCharging(x.battery[0]); });
    ASSERT_EQ(80u, sim::RemainingPercent(Main(m)));
    m.acOnline = 0;
    RunUntil(m, [](sim::Machine& x) { return sim::RemainingPercent(x.battery[0]) <= 78; });
    m.acOnline = 1;
    sim::Advance(m, 0.0);
    EXPECT_FALSE(sim::IsCharging(Main(m)));
    m.acOnline = 0;
    RunUntil(m, [](sim::Machine& x) { return sim::RemainingPercent(x.battery[0]) <= 76; });
    m.acOnline = 1;
    sim::Advance(m, 0.0);
    EXPECT_TRUE(sim::IsCharging(Main(m)));
}

TEST(SimPhysics, RefreshDischargeRunsOnAcAndTheFirmwareEndsItNearEmpty) {
    sim::Machine m = Profile(L"one");
    SetPercent(Main(m), 100.0);
    Main(m).adpc = 0;
    Main(m).chgc = 0;
    sim::Advance(m, 0.0);
    EXPECT_TRUE(sim::IsDischarging(Main(m)));
    const double seconds = RunUntil(m, [](sim::Machine& x) { return x.battery[0].adpc == 1; });
    // Full to the firmware's end point at the machine's load (about 3 h).
    EXPECT_NEAR(seconds / 3600.0, sim::kDischargeHours * 0.96 * 0.97, 0.1);
    EXPECT_EQ(sim::kDefaultRefreshEndPercent, sim::RemainingPercent(Main(m)));
    EXPECT_EQ(0u, Main(m).chgc);
    // Discharge over, charging held off by CHGC.
    sim::Advance(m, 3600.0);
    EXPECT_FALSE(sim::IsCharging(Main(m)));
    EXPECT_FALSE(sim::IsDischarging(Main(m)));
    Main(m).chgc = 1;
    sim::Advance(m, 0.0);
    EXPECT_TRUE(sim::IsCharging(Main(m)));
}

TEST(SimPhysics, FirmwareOfThe312PlatformEndsItsDischargeOnlyAtEmpty) {
    sim::Machine m = Profile(L"one-312");
    Main(m).adpc = 0;
    Main(m).chgc = 0;
    ASSERT_GE(RunUntil(m, [](sim::Machine& x) { return x.battery[0].adpc == 1; }), 0.0);
    EXPECT_EQ(0.0, Main(m).remaining);
}

TEST(SimPhysics, WithoutAcTheSecondBatteryCarriesTheMachineFirst) {
    sim::Machine m = Profile(L"two");
    m.acOnline = 0;
    const double main = m.battery[0].remaining;
    sim::Advance(m, 600.0);
    EXPECT_DOUBLE_EQ(main, m.battery[0].remaining);
    EXPECT_TRUE(sim::IsDischarging(m.battery[1]));
    RunUntil(m, [](sim::Machine& x) { return x.battery[1].remaining <= 0.0; });
    sim::Advance(m, 600.0);
    EXPECT_TRUE(sim::IsDischarging(m.battery[0]));
    EXPECT_LT(m.battery[0].remaining, main);
    // Empty batteries stop at zero, with no current.
    RunUntil(m, [](sim::Machine& x) { return x.battery[0].remaining <= 0.0; });
    sim::Advance(m, 600.0);
    EXPECT_EQ(0.0, m.battery[0].remaining);
    EXPECT_FALSE(sim::IsDischarging(m.battery[0]));
}

TEST(SimPhysics, TemperatureRisesUnderCurrentAndRelaxesToAmbientAtRest) {
    sim::Machine m = Profile(L"one");
    SetPercent(Main(m), 10.0);
    sim::Advance(m, 1800.0);
    EXPECT_GT(Main(m).temperature, m.ambient + 100.0);
    EXPECT_LT(Main(m).temperature, m.ambient + sim::kChargeHeat + 1.0);
    Main(m).chgc = 0; // at rest on AC
    sim::Advance(m, 4.0 * 3600.0);
    EXPECT_NEAR(m.ambient, Main(m).temperature, 1.0);
}

TEST(SimPhysics, SuspendedMachineStandsStill) {
    sim::Machine m = Profile(L"one");
    SetPercent(Main(m), 30.0);
    m.suspended = 1;
    const double before = Main(m).remaining;
    sim::Advance(m, 3600.0);
    EXPECT_DOUBLE_EQ(before, Main(m).remaining);
    EXPECT_EQ(0.0, m.simSeconds);
}

TEST(SimPhysics, CyclesCountPerFullChargeDischargedAndHugeStepsStayBounded) {
    sim::Machine m = Profile(L"one");
    const uint32_t cycles = Main(m).cycleCount;
    m.acOnline = 0;
    sim::Advance(m, 30.0 * 24 * 3600.0); // a month unplugged, in one call
    EXPECT_EQ(0.0, Main(m).remaining);
    EXPECT_EQ(cycles, Main(m).cycleCount); // 80 % of one charge drawn
    m.acOnline = 1;
    sim::Advance(m, 30.0 * 24 * 3600.0);
    EXPECT_EQ(100u, sim::RemainingPercent(Main(m)));
    EXPECT_NEAR(m.ambient, Main(m).temperature, 1.0);
    m.acOnline = 0;
    sim::Advance(m, 5.0 * 3600.0);
    EXPECT_EQ(cycles + 1, Main(m).cycleCount);
}

// The gauge drifts with each charge after a shallow discharge, boundedly,
// and a discharge to the firmware's end followed by a full charge sets it to
// what the cells hold; a charge stopped short of full relearns nothing, and
// a battery without a true capacity of its own never moves.
TEST(SimPhysics, GaugeDriftsWithPartialCyclesAndRelearnsOnAWholeOne) {
    sim::Machine m = Profile(L"one");
    sim::Battery& b = Main(m);
    const uint32_t fcc = b.fullChargeCapacity; // 42240 mWh
    b.trueCapacity = fcc + 2400;               // the gauge reads about 5 % low
    auto partialCycle = [&](sim::Machine& x) {
        x.acOnline = 0;
        RunUntil(x, [](sim::Machine& y) { return sim::RemainingPercent(y.battery[0]) <= 60; });
        x.acOnline = 1;
        RunUntil(x, [](sim::Machine& y) { return !sim::IsCharging(y.battery[0]); });
    };
    partialCycle(m);
    const uint32_t step = (fcc + 2400) / 100; // 1 % of the true capacity
    EXPECT_EQ(fcc - step, b.fullChargeCapacity);
    EXPECT_EQ(100u, sim::RemainingPercent(b));
    for (int i = 0; i < 30; ++i)
        partialCycle(m);
    EXPECT_EQ((fcc + 2400) * 8 / 10, b.fullChargeCapacity); // bounded at 20 % off
    EXPECT_EQ(12u + 12u, b.cycleCount);                     // 31 discharges of 40 %: 12 fcc's worth

    // Down to the firmware's end, then charged only to 80 %: no relearn.
    b.adpc = 0;
    ASSERT_GE(RunUntil(m, [](sim::Machine& x) { return x.battery[0].adpc == 1; }), 0.0);
    b.chargeMode = 80;
    RunUntil(m, [](sim::Machine& x) { return !sim::IsCharging(x.battery[0]); });
    EXPECT_EQ((fcc + 2400) * 8 / 10, b.fullChargeCapacity);
    // The whole refresh: down to the end, then full.
    b.chargeMode = 0;
    b.adpc = 0;
    ASSERT_GE(RunUntil(m, [](sim::Machine& x) { return x.battery[0].adpc == 1; }), 0.0);
    ASSERT_GE(RunUntil(m, [](sim::Machine& x) { return x.battery[0].chargeLatched != 0; }), 0.0);
    EXPECT_EQ(fcc + 2400, b.fullChargeCapacity);
    EXPECT_DOUBLE_EQ(fcc + 2400.0, b.remaining);

    // No true capacity of its own: the same cycles leave the gauge alone.
    sim::Machine plain = Profile(L"one");
    partialCycle(plain);
    plain.battery[0].adpc = 0;
    RunUntil(plain, [](sim::Machine& x) { return x.battery[0].adpc == 1; });
    RunUntil(plain, [](sim::Machine& x) { return !sim::IsCharging(x.battery[0]); });
    EXPECT_EQ(fcc, plain.battery[0].fullChargeCapacity);
}

TEST(SimPhysics, PowerStatusFlagsFollowThePercentage) {
    sim::Machine m = Profile(L"one");
    SYSTEM_POWER_STATUS s;
    struct Case {
        double percent;
        BYTE flag;
    } cases[] = {{4.0, 4}, {5.0, 2}, {32.0, 2}, {33.0, 0}, {66.0, 0}, {67.0, 1}};
    m.acOnline = 0;
    for (const Case& c : cases) {
        SetPercent(Main(m), c.percent);
        sim::Advance(m, 0.0);
        sim::FillPowerStatus(m, &s);
        EXPECT_EQ(c.flag, s.BatteryFlag) << c.percent;
        EXPECT_EQ(static_cast<BYTE>(c.percent), s.BatteryLifePercent);
        EXPECT_EQ(0, s.ACLineStatus);
        EXPECT_NE(static_cast<DWORD>(-1), s.BatteryLifeTime);
    }
    m.acOnline = 1;
    SetPercent(Main(m), 50.0);
    sim::Advance(m, 0.0);
    sim::FillPowerStatus(m, &s);
    EXPECT_EQ(8, s.BatteryFlag); // charging, no level flag
    EXPECT_EQ(1, s.ACLineStatus);
    EXPECT_EQ(static_cast<DWORD>(-1), s.BatteryLifeTime);

    sim::Machine none = Profile(L"none");
    sim::FillPowerStatus(none, &s);
    EXPECT_EQ(128, s.BatteryFlag);
    EXPECT_EQ(255, s.BatteryLifePercent);
}

TEST(SimProfiles, HealthProfilesGradeAsNamedByBothRoutes) {
    struct Case {
        const wchar_t* profile;
        int slot;
        uint32_t health;
    } cases[] = {{L"one", 0, 0},       {L"one-warning", 0, 10}, {L"one-caution", 0, 20},
                 {L"two-worn", 0, 0},  {L"two-worn", 1, 10},    {L"two", 1, 0},
                 {L"one-nomode", 0, 0}};
    for (const Case& c : cases) {
        sim::Machine m = Profile(c.profile);
        const sim::Battery& b = m.battery[c.slot];
        EXPECT_TRUE(b.present) << c.profile;
        EXPECT_EQ(c.health, SuiteHealth(b)) << c.profile << " battery " << c.slot + 1;
        EXPECT_EQ(c.health, b.health) << c.profile << " battery " << c.slot + 1;
    }
    sim::Machine type1 = Profile(L"type1-caution");
    EXPECT_EQ(1u, type1.platformType);
    EXPECT_EQ(0u, SuiteHealth(type1.battery[0]));
    EXPECT_EQ(20u, type1.battery[0].health);
    EXPECT_FALSE(Profile(L"one-nomode").battery[0].chargeModeSupported);
    EXPECT_FALSE(sim::BuildProfile(L"three", &type1));

    size_t count = 0;
    const sim::ProfileInfo* profiles = sim::Profiles(&count);
    for (size_t i = 0; i < count; ++i) {
        sim::Machine m = Profile(profiles[i].name);
        wchar_t why[256] = {};
        EXPECT_EQ(0u, sim::Validate(m, why, ARRAYSIZE(why))) << profiles[i].name << why;
    }
}

TEST(SimFields, SetFieldParsesAndRefusesBadValues) {
    sim::Machine m = Profile(L"one");
    wchar_t why[256] = {};
    EXPECT_EQ(0u, sim::SetField(&m, 1, L"startdate", L"2024-03-05", why, ARRAYSIZE(why)));
    EXPECT_EQ(0x5865u, Main(m).startDate);
    EXPECT_EQ(0u, sim::SetField(&m, 1, L"protectflag", L"on", why, ARRAYSIZE(why)));
    EXPECT_EQ(0xD865u, Main(m).startDate);
    EXPECT_EQ(0u, sim::SetField(&m, 1, L"startdate", L"2025-01-31", why, ARRAYSIZE(why)));
    EXPECT_EQ(EncodeStartDate(2025, 1, 31, true), Main(m).startDate);
    EXPECT_EQ(0u, sim::SetField(&m, 1, L"serial", L"0x1A2B", why, ARRAYSIZE(why)));
    EXPECT_EQ(0x1A2Bu, Main(m).serial);
    EXPECT_EQ(0u, sim::SetField(&m, 0, L"speed", L"250.5", why, ARRAYSIZE(why)));
    EXPECT_EQ(250.5, m.speed);
    EXPECT_EQ(0u, sim::SetField(&m, 1, L"name", L"内蔵バッテリ", why, ARRAYSIZE(why))) << why;

    struct Bad {
        uint32_t slot;
        const wchar_t* field;
        const wchar_t* value;
    } bad[] = {{1, L"startdate", L"2024-02-30"},
               {1, L"startdate", L"2044-01-01"},
               {1, L"serial", L"12x"},
               {1, L"serial", L"4294967296"},
               {1, L"serial", L"-1"},
               {1, L"percent", L"101"},
               {1, L"chemistry", L"LIONS"},
               {1, L"name", L""},
               {1, L"adpc", L"2"},
               {0, L"speed", L"-1"},
               {0, L"speed", L"nan"},
               {0, L"percent", L"10"},
               {1, L"ac", L"on"},
               {1, L"nosuch", L"1"},
               {3, L"percent", L"10"},
               {1, L"temperature", L"100"}};
    for (const Bad& b : bad) {
        why[0] = L'\0';
        EXPECT_NE(0u, sim::SetField(&m, b.slot, b.field, b.value, why, ARRAYSIZE(why)))
            << b.field << "=" << b.value;
        EXPECT_NE(L'\0', why[0]) << b.field;
    }
}

TEST(SimFields, ValidateRefusesImpossibleMachines) {
    wchar_t why[256] = {};
    sim::Machine m = Profile(L"one");
    Main(m).remaining = Main(m).fullChargeCapacity + 1.0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), sim::Validate(m, why, ARRAYSIZE(why)));
    m = Profile(L"one");
    Main(m).fullChargeCapacity = 0;
    EXPECT_NE(0u, sim::Validate(m, why, ARRAYSIZE(why)));
    m = Profile(L"one");
    Main(m).fullChargeCapacity = Main(m).designCapacity * 2;
    EXPECT_NE(0u, sim::Validate(m, why, ARRAYSIZE(why)));
}

TEST(SimSetupText, ReadsKeysOverAProfileAndAppliesChargeLast) {
    sim::Machine m;
    wchar_t why[256] = {};
    const wchar_t text[] = L"profile=two\r\n"
                           L"# second battery worn, half full\n"
                           L"  battery2.percent = 50 \n"
                           L"battery2.fcc=11000\n"
                           L"ac=off\n"
                           L"battery1.name=主電池\n"
                           L"kind=1\ncode=0x312\n";
    ASSERT_EQ(0u, sim::ParseSetupText(text, &m, why, ARRAYSIZE(why))) << why;
    EXPECT_TRUE(m.battery[0].present && m.battery[1].present);
    EXPECT_EQ(11000u, m.battery[1].fullChargeCapacity);
    EXPECT_EQ(50u, sim::RemainingPercent(m.battery[1]));
    EXPECT_EQ(0u, m.acOnline);
    EXPECT_EQ(std::wstring(L"主電池"), std::wstring(m.battery[0].name));
    EXPECT_EQ(0x312u, m.platformCode);

    // Without a profile the file starts with no battery present.
    ASSERT_EQ(0u, sim::ParseSetupText(L"battery2.present=1\n", &m, why, ARRAYSIZE(why)));
    EXPECT_FALSE(m.battery[0].present);
    EXPECT_TRUE(m.battery[1].present);
}

TEST(SimSetupText, ReportsTheLineOfTheFirstError) {
    struct Case {
        const wchar_t* text;
        const wchar_t* reason;
    } cases[] = {{L"ac=on\nbattery1.percent=50\nbattery1.design=abc\n", L"line 3"},
                 {L"ac=on\nprofile=one\n", L"line 2"},
                 {L"profile=nine\n", L"line 1"},
                 {L"battery3.present=1\n", L"line 1"},
                 {L"ac on\n", L"line 1"},
                 {L"battery1.percent=150\nac=on\n", L"line 1"},
                 {L"battery1.present=1\nbattery1.remaining=99999\n", L"battery 1"}};
    for (const Case& c : cases) {
        sim::Machine m;
        wchar_t why[256] = {};
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
                  sim::ParseSetupText(c.text, &m, why, ARRAYSIZE(why)))
            << c.text;
        EXPECT_NE(nullptr, wcsstr(why, c.reason)) << why;
    }
}

} // namespace
