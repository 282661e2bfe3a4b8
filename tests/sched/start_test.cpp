// The scheduler's start-up, its pipe 3 and the messages other programs send
// it, on the simulated notebook.
#include "sched_support.h"

#include "common/reg.h"
#include "common/settings.h"
#include "ipc/pipe.h"
#include "ipc_test_util.h"

#include <tlhelp32.h>
#include <wtsapi32.h>

using namespace scenario;
using namespace schedtest;

namespace {

constexpr UINT kResetChargeMode = 0x8603;

// Processes of this program name now running, in any folder.
std::vector<DWORD> ProcessesNamed(const wchar_t* exe) {
    std::vector<DWORD> found;
    zb::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {sizeof(entry)};
    if (snapshot.Get() == INVALID_HANDLE_VALUE)
        return found;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry))
        if (lstrcmpiW(entry.szExeFile, exe) == 0)
            found.push_back(entry.th32ProcessID);
    return found;
}

void EndAll(const wchar_t* exe) {
    for (DWORD pid : ProcessesNamed(exe)) {
        zb::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (process && TerminateProcess(process.Get(), 1))
            WaitForSingleObject(process.Get(), kWaitMs);
    }
}

// Raw bytes to pipe 3 once a server instance is free; the pipe's own
// client gives up too soon while the scheduler still serves the last one.
bool SendRawToPipe3(const void* bytes, DWORD cb) {
    return ipctest::WaitForServer(PIPE3_NAME, kWaitMs) && ipctest::SendRaw(PIPE3_NAME, bytes, cb);
}

class SchedStartTest : public RefreshScenarioTest {
protected:
    void SetUp() override {
        RefreshScenarioTest::SetUp();
        recorder_.reset();
        SetUpMachine(L"two", [](sim::Machine& m) {
            m.battery[0].chargeMode = 80;
            m.battery[1].chargeMode = 50;
        });
    }

    // Sends one record to pipe 3, as the refresh tool does.
    static bool SendToPipe3(UINT32 message, UINT64 wparam) {
        CPipe pipe;
        if (!pipe.PipeRetry(PIPE3_NAME, 100, 50))
            return false;
        PipeRecord record = {message, 0, wparam, 0};
        return pipe.Send(&record, sizeof(record)) == static_cast<int>(sizeof(record));
    }
};

// One scheduler per session: a second one leaves the first alone, a second
// one with "/end" closes it. Both exit with 0. At its start, with no refresh
// running and no result waiting, a battery left at the no-charge mode
// without a record (as older refresh tools left it) charges fully again.
TEST_F(SchedStartTest, OneInstanceAndEnd) {
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[1].chargeMode = 5;
                  return 0;
              }));
    SchedFolder folder(false);
    SchedProcess first(folder);
    ASSERT_NE(nullptr, first.Window());
    EXPECT_TRUE(testenv::WaitUntil([] { return ReadBattery(2).chargeMode == 0; }, kWaitMs));
    // The line follows the write.
    EXPECT_TRUE(
        testenv::WaitUntil([] { return TraceContains(L"Revert Charge Mode Success!"); }, kWaitMs));
    EXPECT_EQ(0, RunSched(folder, L""));
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(0, RunSched(folder, L"/end"));
    EXPECT_EQ(0, first.Wait());
}

// Pipe 3 opens the main screen with the tool's switches and drops any other
// code; resume, "TaskbarCreated" and the install helper's reset reach the
// window; with the main screen open nothing is checked.
TEST_F(SchedStartTest, PipeThreeAndWindowMessages) {
    SchedFolder folder;
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    Deliver(hWnd, WM_NULL);
    const size_t checks = TraceCount(L"StartDaySetting begin");
    EXPECT_EQ(1u, checks) << "the start runs the check once";

    ASSERT_TRUE(SendToPipe3(WM_USER_RUNMAINDLG, RUNMAINDLG_ICON));
    ASSERT_TRUE(folder.WaitForMainStarts(1));
    EXPECT_EQ("/icon", folder.MainStarts()[0]);
    // The program folder's main screen, by its full path, quoted.
    const std::string program =
        "\"" + std::string(folder.Dir().begin(), folder.Dir().end()) + "zbMain.exe\" ";
    EXPECT_EQ(0u, folder.MainCommandLines()[0].find(program)) << folder.MainCommandLines()[0];
    ASSERT_TRUE(SendToPipe3(WM_CLOSE, 0));
    ASSERT_TRUE(
        testenv::WaitUntil([] { return TraceContains(L"Dropped message:00000010"); }, kWaitMs));
    EXPECT_TRUE(sched.Running());

    // Resume checks at once, whatever the day count says.
    SYSTEMTIME old = {2001, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_EQ(S_OK, SetRegLastBatteryStatusCheckTime(&old));
    Deliver(hWnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
    EXPECT_EQ(checks + 1, TraceCount(L"StartDaySetting begin"));
    SYSTEMTIME stored = {};
    ASSERT_EQ(S_OK, GetRegLastBatteryStatusCheckTime(&stored));
    EXPECT_NE(2001, stored.wYear);

    Deliver(hWnd, RegisterWindowMessageW(L"TaskbarCreated"));
    EXPECT_EQ(checks + 2, TraceCount(L"StartDaySetting begin"));

    // The main screen is open: it shows the state itself.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"zbMain";
    RegisterClassW(&wc);
    HWND hMain =
        CreateWindowW(L"zbMain", L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, hMain);
    ASSERT_EQ(S_OK, SetRegLastBatteryStatusCheckTime(&old));
    Deliver(hWnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
    DestroyWindow(hMain);
    ASSERT_EQ(S_OK, GetRegLastBatteryStatusCheckTime(&stored));
    EXPECT_EQ(2001, stored.wYear) << "checked with the main screen open";

    Deliver(hWnd, kResetChargeMode);
    EXPECT_EQ(0u, ReadBattery(1).chargeMode);
    EXPECT_EQ(0u, ReadBattery(2).chargeMode);
}

// "RoutineCheckInterval" out of range: 0 would wake the scheduler, and read
// both batteries, many times a second; 0xFFFFFFFF would leave the check to
// resume and restarts. The timer keeps between a second and a day, and the
// trace says so.
TEST_F(SchedStartTest, TheRoutineIntervalStaysBetweenASecondAndADay) {
    SchedFolder folder(false);
    for (DWORD setting : {0u, 0xFFFFFFFFu}) {
        SetUserValue(L"RoutineCheckInterval", setting);
        SchedProcess sched(folder);
        ASSERT_NE(nullptr, sched.Window());
        Deliver(sched.Window(), WM_NULL);
    }
    EXPECT_TRUE(
        TraceContains(L"RoutineCheckInterval 0 ms is out of range: the timer uses 1000 ms."));
    EXPECT_TRUE(TraceContains(
        L"RoutineCheckInterval 4294967295 ms is out of range: the timer uses 86400000 ms."));
}

// Any process of the machine may write to pipe 3. Bytes that are no record,
// every code of the suite's windows and protocol (pointer-like arguments),
// a megabyte of charge-mode resets at once, a client that connects and
// says nothing: no refresh starts and no charge mode changes, and the
// scheduler goes on serving. The real main screen and refresh tool sit
// beside it, so the one request it honours (0x8501, the main screen with
// the tool's switches, here all of them) is followed all the way.
TEST_F(SchedStartTest, AHostilePipeThreeClientStartsAndChangesNothing) {
    SchedFolder folder(false);
    for (const wchar_t* file : {L"zbMain.exe", L"zbRefresh.exe"})
        ASSERT_TRUE(
            CopyFileW((testenv::BinDir() + file).c_str(), (folder.Dir() + file).c_str(), FALSE));
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    Deliver(hWnd, WM_NULL);

    const char garbage[] = "\x01\x85\0\0 not a record";
    EXPECT_TRUE(SendRawToPipe3(garbage, 7));
    EXPECT_TRUE(SendRawToPipe3(garbage, sizeof(garbage)));
    std::vector<UINT32> codes;
    for (UINT32 code = 0; code <= 0x410; ++code)
        codes.push_back(code);
    for (UINT32 code = 0x8000; code <= 0x8900; ++code)
        codes.push_back(code);
    codes.push_back(RegisterWindowMessageW(L"TaskbarCreated"));
    for (UINT32 code : codes) {
        const PipeRecord record = {code, 1, ~0ULL, -1};
        ASSERT_TRUE(SendRawToPipe3(&record, sizeof(record))) << "code " << code;
    }
    std::vector<PipeRecord> flood(1024 * 1024 / sizeof(PipeRecord),
                                  PipeRecord{kResetChargeMode, 0, 0, 0});
    SendRawToPipe3(flood.data(), static_cast<DWORD>(flood.size() * sizeof(PipeRecord)));
    CPipe silent;
    ASSERT_TRUE(ipctest::WaitForServer(PIPE3_NAME, kWaitMs) && silent.PipeRetry(PIPE3_NAME, 50, 5));

    // Still serving: the user-name request is answered, and the window
    // handles its messages.
    ASSERT_TRUE(ipctest::WaitForServer(PIPE3_NAME, kWaitMs));
    WCHAR user[PIPE_USERNAME_CCH] = {};
    EXPECT_EQ(static_cast<int>(PIPE_USERNAME_BYTES),
              ipctest::Exchange(PIPE3_NAME, PipeRecord{WM_USER_GETUSERNAME, 0, 0, 0}, user,
                                PIPE_USERNAME_BYTES));
    Deliver(hWnd, WM_NULL);
    EXPECT_TRUE(sched.Running());

    // The main screen came for 0x8501 and, with no refresh tool to follow
    // and no outcome to show, ended without starting one.
    EXPECT_TRUE(testenv::WaitUntil(
        [] { return TraceContains(L"No refresh tool runs: nothing to follow."); }, kWaitMs));
    EXPECT_TRUE(testenv::WaitUntil([] { return ProcessesNamed(L"zbMain.exe").empty(); }, kWaitMs));
    EXPECT_TRUE(ProcessesNamed(L"zbRefresh.exe").empty()) << "a refresh started";
    EndAll(L"zbMain.exe");
    EndAll(L"zbRefresh.exe");
    DWORD status = 0;
    EXPECT_TRUE(FAILED(GetRegLastRefreshStatus(&status))) << "a refresh ran: " << status;
    EXPECT_EQ(80u, ReadBattery(1).chargeMode);
    EXPECT_EQ(50u, ReadBattery(2).chargeMode);
}

// Another user's refresh runs (a stand-in pipe-2 server answering as another
// session user): the other battery it holds at the no-charge mode stays
// held, and a shutdown, though not a logoff, is refused while it runs.
TEST_F(SchedStartTest, AnotherUsersRefreshIsLeftAlone) {
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[1].chargeMode = 5;
                  return 0;
              }));
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring record = std::wstring(temp) + L"zbsched_peer.txt";
    zb::UniqueHandle peer(testenv::StartProgram(
        L"ipc_peer.exe", L"serve2 \"" + record + L"\" 2 1 40 OTHERDOM\\someone"));
    ASSERT_TRUE(
        testenv::WaitUntil([] { return PipeCheckUser(PIPE2_NAME) == PIPE_USER_OTHER; }, kWaitMs));

    SchedFolder folder(false);
    SchedProcess sched(folder);
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    Deliver(hWnd, WM_NULL);
    EXPECT_EQ(5u, ReadBattery(2).chargeMode) << "another user's refresh was undone";
    DWORD_PTR answer = 1;
    SendMessageTimeoutW(hWnd, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, kWaitMs, &answer);
    EXPECT_EQ(0u, answer) << "shut down in the middle of a refresh";
    SendMessageTimeoutW(hWnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, kWaitMs,
                        &answer);
    EXPECT_EQ(1u, answer);

    TerminateProcess(peer.Get(), 0);
    WaitForSingleObject(peer.Get(), kWaitMs);
    DeleteFileW(record.c_str());
}

// SetTimer fails every time (the test DLL makes the scheduler's own import
// fail): ten attempts, then the scheduler runs on without its timer. The
// check still runs after resume, and a console reconnection opens pipe 3
// again and looks for a refresh result.
TEST_F(SchedStartTest, RunsOnWithoutItsTimer) {
    SchedFolder folder;
    SchedProcess sched(folder, L"", L"fail_settimer.dll");
    HWND hWnd = sched.Window();
    ASSERT_NE(nullptr, hWnd);
    Deliver(hWnd, WM_NULL);
    EXPECT_EQ(10u, TraceCount(L"Fail to SetTimer(). Retry Count: "));
    EXPECT_TRUE(TraceContains(L"Fail to SetTimer(). Retry Count: 9."));
    EXPECT_TRUE(TraceContains(L"Fail to SetRoutineCheckTimer."));
    EXPECT_TRUE(sched.Running());

    const size_t checks = TraceCount(L"StartDaySetting begin");
    Deliver(hWnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
    EXPECT_EQ(checks + 1, TraceCount(L"StartDaySetting begin"));

    Deliver(hWnd, WM_WTSSESSION_CHANGE, WTS_CONSOLE_DISCONNECT);
    ASSERT_EQ(S_OK,
              CReg::SetDW(HKEY_CURRENT_USER, L"SOFTWARE\\ZEL\\VADOvur", L"LastRefreshStatus", 0));
    Deliver(hWnd, WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT);
    ASSERT_TRUE(folder.WaitForMainStarts(1));
    EXPECT_EQ("/comp", folder.MainStarts()[0]);
    ASSERT_TRUE(SendToPipe3(WM_USER_RUNMAINDLG, RUNMAINDLG_ICON)) << "pipe 3 not open again";
    ASSERT_TRUE(folder.WaitForMainStarts(2));
    EXPECT_TRUE(sched.Running());
}

} // namespace
