// The endpoints of the three pipes, with the peer in a second process
// (tests/helpers/ipc_peer.cpp).
#include "ipc/pipe.h"

#include "ipc_test_util.h"
#include "support/suite_env.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBound = 20000;

// A peer process, ended (if still running) and its file removed at scope end.
class Peer {
public:
    explicit Peer(const std::wstring& args) : file_(ipctest::TempFilePath()) {
        const size_t space = args.find(L' ');
        const std::wstring mode = args.substr(0, space);
        const std::wstring rest = space == std::wstring::npos ? L"" : args.substr(space);
        process_.Reset(
            testenv::StartProgram(L"ipc_peer.exe", mode + L" \"" + file_ + L"\"" + rest));
    }
    ~Peer() {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 9);
            WaitForSingleObject(process_.Get(), kBound);
        }
        DeleteFileW(file_.c_str());
    }
    bool Started() const { return process_.IsValid(); }
    // The exit code, or -1 when the process did not end in time.
    int WaitForExit() {
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process_.Get(), kBound) != WAIT_OBJECT_0)
            return -1;
        GetExitCodeProcess(process_.Get(), &code);
        return static_cast<int>(code);
    }
    bool IsRunning() const { return WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; }
    void Kill() {
        TerminateProcess(process_.Get(), 9);
        WaitForSingleObject(process_.Get(), kBound);
    }
    std::vector<std::string> Lines() const { return ipctest::ReadPeerLines(file_); }

private:
    std::wstring file_;
    zb::UniqueHandle process_;
};

PipeRecord Query(const wchar_t* pipeName, const PipeRecord& request) {
    PipeRecord answer = {0xFFFFFFFF, 0, 0, 0};
    EXPECT_EQ(24, ipctest::Exchange(pipeName, request, &answer, sizeof(answer)))
        << "code " << std::hex << request.message;
    return answer;
}

} // namespace

// Every connected main screen gets every notice, in order; a main screen
// that has gone away costs its retries once and is then dropped.
TEST(PipeEndpoints, BroadcastReachesEveryClientAndSkipsADeadOne) {
    CPipeToDlg server;
    Peer first(L"listen1");
    Peer second(L"listen1");
    Peer dead(L"listen1");
    ASSERT_TRUE(first.Started() && second.Started() && dead.Started());
    ASSERT_TRUE(server.Create(PIPE1_NAME));
    ASSERT_TRUE(testenv::WaitUntil([&] { return server.GetConnectionCount() == 3; }, kBound));
    dead.Kill();

    server.SendAll(WM_USER_REFMODE, 1, 2);
    EXPECT_EQ(2u, server.GetConnectionCount()) << "the dead connection is dropped";
    server.SendAll(WM_USER_REFPROGRESS, 40, 2);
    EXPECT_TRUE(server.ResendAll(WM_USER_REFERROR, 99, 1)) << "a listening object is connected";

    const std::vector<std::string> expected = {"8301 1 2", "8303 28 2", "8304 63 1"};
    EXPECT_EQ(0, first.WaitForExit());
    EXPECT_EQ(0, second.WaitForExit());
    EXPECT_EQ(expected, first.Lines());
    EXPECT_EQ(expected, second.Lines());
}

// The refresh tool's pipe-2 server: queries answered from its live values,
// commands forwarded to its window, the user check, and a short write that
// must not be taken for a record.
TEST(PipeEndpoints, RefreshServerAnswersForwardsAndIgnoresShortRecords) {
    Peer refresh(L"serve2 2 3 55");
    ASSERT_TRUE(refresh.Started());
    ASSERT_TRUE(ipctest::WaitForServer(PIPE2_NAME, kBound));

    EXPECT_EQ(PIPE_USER_SAME, PipeCheckUser(PIPE2_NAME));

    PipeRecord answer = Query(PIPE2_NAME, {WM_USER_REFMODE, 0, 0, 0});
    EXPECT_EQ(WM_USER_REFMODE, answer.message);
    EXPECT_EQ(2u, answer.battid);
    EXPECT_EQ(3u, answer.wparam);
    EXPECT_EQ(55, answer.lparam);

    answer = Query(PIPE2_NAME, {WM_USER_REFQUERY, 0, 0, 0});
    EXPECT_EQ(WM_USER_REFQUERY, answer.message);
    EXPECT_EQ(0u, answer.wparam) << "not started with /sleep";
    EXPECT_EQ(55, answer.lparam);

    answer = Query(PIPE2_NAME, {WM_USER_REFPROGRESS, 1, 9, 0});
    EXPECT_EQ(WM_USER_REFPROGRESS, answer.message);
    EXPECT_EQ(1u, answer.battid);
    EXPECT_EQ(9u, answer.wparam);
    EXPECT_EQ(55, answer.lparam);

    // One stray byte that happens to be WM_CLOSE's code: nothing happens.
    const BYTE stray = 0x10;
    ASSERT_TRUE(ipctest::SendRaw(PIPE2_NAME, &stray, 1));
    const PipeRecord ack = {WM_USER_REFERROR, 0, 5, 0};
    ASSERT_TRUE(ipctest::SendRaw(PIPE2_NAME, &ack, sizeof(ack)));
    EXPECT_EQ(24, ipctest::Exchange(PIPE2_NAME, {WM_USER_REFMODE, 0, 0, 0}, &answer, 24))
        << "still serving after the stray byte";
    EXPECT_TRUE(refresh.IsRunning());

    // A whole WM_CLOSE record closes the tool.
    const PipeRecord close = {WM_CLOSE, 0, 7, 0};
    ASSERT_TRUE(ipctest::SendRaw(PIPE2_NAME, &close, sizeof(close)));
    EXPECT_EQ(0, refresh.WaitForExit());
    // Two connection threads forwarded these; their order is not fixed.
    std::vector<std::string> lines = refresh.Lines();
    std::sort(lines.begin(), lines.end());
    const std::vector<std::string> expected = {"10 7 0", "8304 5 0"};
    EXPECT_EQ(expected, lines);
}

// An elevated refresh tool hands out the session's user; a main screen of
// another user then sees a refresh that is not its own. The mode -1 travels
// as the window's WPARAM would.
TEST(PipeEndpoints, RefreshServerOfAnotherSessionUserIsAnotherUser) {
    Peer refresh(L"serve2 1 -1 0 OTHERDOM\\someone");
    ASSERT_TRUE(refresh.Started());
    ASSERT_TRUE(ipctest::WaitForServer(PIPE2_NAME, kBound));

    EXPECT_EQ(PIPE_USER_OTHER, PipeCheckUser(PIPE2_NAME));
    EXPECT_EQ(PIPE_USER_OTHER, RefreshToolUser()) << "found without the tool's mutex too";

    WCHAR name[PIPE_USERNAME_CCH];
    memset(name, 0xAA, sizeof(name));
    ASSERT_EQ(static_cast<int>(PIPE_USERNAME_BYTES),
              ipctest::Exchange(PIPE2_NAME, {WM_USER_GETUSERNAME, 0, 0, 0}, name, sizeof(name)));
    EXPECT_STREQ(L"OTHERDOM\\someone", name);
    EXPECT_EQ(0, name[PIPE_USERNAME_CCH - 1]) << "zero-padded to the end";

    const PipeRecord answer = Query(PIPE2_NAME, {WM_USER_REFMODE, 0, 0, 0});
    EXPECT_EQ(static_cast<UINT64>(-1), answer.wparam);

    const PipeRecord close = {WM_CLOSE, 0, 0, 0};
    ASSERT_TRUE(ipctest::SendRaw(PIPE2_NAME, &close, sizeof(close)));
    EXPECT_EQ(0, refresh.WaitForExit());
}

// The scheduler's pipe-3 server answers whose it is and passes the request
// to open the main screen to its window, and nothing else: any process can
// write here, and neither a pointer-carrying message nor WM_CLOSE may reach
// the window (the first would crash the scheduler, the second end it).
TEST(PipeEndpoints, SchedulerServerForwardsOnlyItsOwnRequest) {
    Peer sched(L"serve3");
    ASSERT_TRUE(sched.Started());
    ASSERT_TRUE(ipctest::WaitForServer(PIPE3_NAME, kBound));

    EXPECT_EQ(PIPE_USER_SAME, PipeCheckUser(PIPE3_NAME));
    const PipeRecord foreign[] = {{WM_SETTEXT, 0, 0, 0x1234}, {WM_CLOSE, 0, 0, 0}};
    for (const PipeRecord& record : foreign)
        ASSERT_TRUE(ipctest::SendRaw(PIPE3_NAME, &record, sizeof(record)));
    const PipeRecord run = {WM_USER_RUNMAINDLG, 0, RUNMAINDLG_ICON | RUNMAINDLG_COMP, 0};
    ASSERT_TRUE(ipctest::SendRaw(PIPE3_NAME, &run, sizeof(run)));
    const PipeRecord end = {WM_USER_RUNMAINDLG, 0, 99, 0};
    ASSERT_TRUE(ipctest::SendRaw(PIPE3_NAME, &end, sizeof(end)));

    EXPECT_EQ(0, sched.WaitForExit());
    const std::vector<std::string> expected = {"8501 6 0", "8501 63 0"};
    EXPECT_EQ(expected, sched.Lines());
}

TEST(PipeEndpoints, UserCheckWithoutServerIsNone) {
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(PIPE_USER_NONE, PipeCheckUser(L"\\\\.\\pipe\\vadovur_nobody_here"));
    EXPECT_LT(GetTickCount64() - start, 10000u);
    EXPECT_EQ(PIPE_USER_NONE, PipeCheckUser(nullptr));
}

// Many short pipe-2 requests: every connection thread ends and deletes its
// object, and no handle stays open.
TEST(PipeEndpoints, ManyRequestCyclesLeakNoThreadsOrHandles) {
    const std::wstring name = ipctest::UniquePipeName();
    RefreshLiveState state;
    state.battery = 1;
    state.progress = 12;
    state.sleep = 1;
    CPipeToRef server(nullptr, &state);
    ASSERT_TRUE(server.CPipe::Create(name.c_str()));
    ASSERT_TRUE(server.Listen());
    const int threads = ipctest::CountThreads();

    // One request first, so that everything loaded once per process is there.
    PipeRecord answer = {};
    ASSERT_EQ(24, ipctest::Exchange(name.c_str(), {WM_USER_REFMODE, 0, 0, 0}, &answer, 24));
    ASSERT_TRUE(testenv::WaitUntil([&] { return ipctest::CountThreads() <= threads; }, kBound))
        << "the first connection's thread ends";
    const int handles = ipctest::CountHandles();

    for (int cycle = 0; cycle < 150; ++cycle) {
        ASSERT_EQ(24, ipctest::Exchange(name.c_str(), {WM_USER_REFQUERY, 0, 0, 0}, &answer, 24));
        ASSERT_EQ(12, answer.lparam);
        ASSERT_EQ(1u, answer.wparam) << "bit 0: started with /sleep";
    }
    EXPECT_TRUE(testenv::WaitUntil([&] { return ipctest::CountThreads() <= threads; }, kBound))
        << ipctest::CountThreads() << " threads, " << threads << " before";
    EXPECT_TRUE(testenv::WaitUntil([&] { return ipctest::CountHandles() <= handles + 4; }, kBound))
        << ipctest::CountHandles() << " handles, " << handles << " before";
    server.Close();
}
