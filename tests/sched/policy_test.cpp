// The administrator's enforced charge mode, as the resident scheduler keeps
// it: written at the scheduler's start and at each routine tick, left alone
// while a refresh runs, and given back by the refresh tool at its end in
// place of the owner's recorded mode.
#include "sched_support.h"

#include "common/reg.h"
#include "common/settings.h"

#include <algorithm>

using namespace scenario;
using namespace schedtest;

namespace {

constexpr double kFastSpeed = 4000.0;
constexpr double kSlowSpeed = 300.0;

void SetPolicy(const wchar_t* name, DWORD value) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY, name, value));
}

bool ModeBecomes(UINT battNo, uint32_t mode) {
    return testenv::WaitUntil([&] { return ReadBattery(battNo).chargeMode == mode; }, kWaitMs);
}

using SchedPolicyTest = RefreshScenarioTest;

TEST_F(SchedPolicyTest, EnforcedChargeModeAtStartEachTickAndAfterARefresh) {
    SetUpMachine(L"two", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        m.battery[0].chargeMode = 80;
        m.battery[1].chargeMode = 50;
    });
    SetPolicy(L"ChargeMode", 50);
    // The routine timer's period from the policy as well: a tick a second.
    SetPolicy(L"RoutineCheckInterval", 1000);
    SchedFolder folder(false);
    SchedProcess sched(folder);
    ASSERT_NE(nullptr, sched.Window());
    EXPECT_TRUE(ModeBecomes(1, 50)) << "not at the start";
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);

    // The owner chooses full charge later (the firmware and the registry
    // copy, as the charge mode dialog writes them): the next tick puts the
    // enforced mode back, and the trace says so.
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[1].chargeMode = 0;
                  return 0;
              }));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"CurrentMode_batt2", 0));
    EXPECT_TRUE(ModeBecomes(2, 50)) << "not at a tick";
    EXPECT_TRUE(
        TraceContains(L"Battery 2: charge mode 0 replaced by the administrator's mode 50."));

    // A refresh holds its own modes, whatever the policy says meanwhile;
    // at its end the enforced mode (now 80) is given back, not the owner's
    // recorded 50, to both batteries.
    SetSpeed(kFastSpeed);
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(recorder_->WaitForMode(1, 1)) << "the discharge never started";
    SetSpeed(kSlowSpeed);
    SetPolicy(L"ChargeMode", 80);
    const size_t waits = TraceCount(L"the enforced charge mode waits for its end");
    ASSERT_TRUE(testenv::WaitUntil(
        [&] { return TraceCount(L"the enforced charge mode waits for its end") > waits + 1; },
        kWaitMs));
    EXPECT_EQ(0u, ReadBattery(1).chargeMode) << "released for the refresh";
    EXPECT_EQ(5u, ReadBattery(2).chargeMode) << "held off charging";
    SetSpeed(kFastSpeed);
    ASSERT_EQ(0, tool.Wait());
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    EXPECT_EQ(80u, ReadBattery(2).chargeMode);
    const std::vector<std::wstring> progress = ProgressLines(1);
    EXPECT_NE(progress.end(), std::find(progress.begin(), progress.end(),
                                        L"INFORMATION Changed charge mode. (0050)"))
        << "the tool gave battery 1 the enforced 80 itself";
    EXPECT_TRUE(TraceContains(
        L"Battery 2: the administrator's charge mode 80 is given back instead of 50."));
}

} // namespace
