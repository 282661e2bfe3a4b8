// A main screen that connects to pipe 1 and then never reads (hung, or a
// stranger's program): the tool's broadcasts fill its pipe after a few dozen
// notices. The refresh goes on regardless, and a close request on pipe 2 is
// acted on at once.
#include "scenario_support.h"

using namespace scenario;

namespace {

constexpr double kFastSpeed = 4000.0;
constexpr double kDischargeSpeed = 1000.0;
// More notices than the pipe holds (42 records of 24 bytes in 1024).
constexpr size_t kPastAFullPipe = 50;

class StalledClientTest : public RefreshScenarioTest {};

TEST_F(StalledClientTest, AMainScreenThatNeverReadsStopsNeitherTheRefreshNorAClose) {
    SetUpMachine(L"one", [](sim::Machine& m) {
        SetPercent(m.battery[0], 97);
        m.battery[0].chargeMode = 80;
        m.speed = kFastSpeed;
    });
    ToolProcess tool(L"/b1 /nomain");
    ASSERT_TRUE(tool.Started());
    zb::UniqueHandle silent;
    ASSERT_TRUE(testenv::WaitUntil(
        [&] {
            silent.Reset(CreateFileW(L"\\\\.\\pipe\\vadovur_pipe1", GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
            return silent.IsValid();
        },
        kStepWaitMs));

    ASSERT_TRUE(recorder_->WaitForMode(1, 1));
    SetSpeed(kDischargeSpeed);
    EXPECT_TRUE(testenv::WaitUntil(
        [&] { return recorder_->Notices().size() >= kPastAFullPipe || !tool.Running(); },
        kRunWaitMs))
        << "the refresh stopped after " << recorder_->Notices().size() << " notices";
    // The drop comes once the pipe is full and one write has timed out;
    // how many records the pipe holds is the system's business.
    EXPECT_TRUE(testenv::WaitUntil(
        [&] { return TraceContains(L"The client takes no records; dropped.") || !tool.Running(); },
        kRunWaitMs));
    ASSERT_TRUE(tool.Running()) << "the discharge outlasts the notices";

    ASSERT_TRUE(SendRequest(WM_CLOSE, 0));
    EXPECT_EQ(0, tool.Wait(kStepWaitMs));
    ExpectRefreshSwitchedOff(1);
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
}

} // namespace
