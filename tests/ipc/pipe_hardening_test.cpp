// Peers that misbehave: a main screen that never reads, clients that stop
// in the middle of a record, a record that arrives in pieces, and strangers
// that the pipes' access rights keep out.
#include "ipc/pipe.h"

#include "ipc_test_util.h"
#include "support/suite_env.h"

#include <aclapi.h>

#include <memory>
#include <vector>

using ipctest::Watchdog;

namespace {

constexpr DWORD kBound = 20000;

// A client written with plain Win32 calls, so that it can do what the
// suite's own endpoints never do.
class RawClient {
public:
    explicit RawClient(const std::wstring& name) {
        ov_.hEvent = event_.Get();
        ipctest::WaitForServer(name.c_str(), kBound);
        pipe_.Reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    }
    bool Connected() const { return pipe_.IsValid(); }
    HANDLE Get() const { return pipe_.Get(); }
    bool Write(const void* bytes, DWORD cb) {
        DWORD done = 0;
        return Finish(WriteFile(pipe_.Get(), bytes, cb, nullptr, &ov_), &done) && done == cb;
    }
    // Reads up to cb bytes; the count, or -1 when the pipe ended or nothing
    // came within the bound.
    int Read(void* bytes, DWORD cb) {
        DWORD done = 0;
        return Finish(ReadFile(pipe_.Get(), bytes, cb, nullptr, &ov_), &done)
                   ? static_cast<int>(done)
                   : -1;
    }
    // True when the server closes this connection within the bound.
    bool ServerCloses() {
        BYTE byte = 0;
        DWORD done = 0;
        return !Finish(ReadFile(pipe_.Get(), &byte, 1, nullptr, &ov_), &done) &&
               GetLastError() != ERROR_TIMEOUT;
    }

private:
    bool Finish(BOOL started, DWORD* pDone) {
        if (!started && GetLastError() != ERROR_IO_PENDING)
            return false;
        if (WaitForSingleObject(event_.Get(), kBound) != WAIT_OBJECT_0) {
            CancelIo(pipe_.Get());
            GetOverlappedResult(pipe_.Get(), &ov_, pDone, TRUE);
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        return GetOverlappedResult(pipe_.Get(), &ov_, pDone, TRUE) != FALSE;
    }

    zb::UniqueHandle pipe_;
    zb::UniqueHandle event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED ov_ = {};
};

// The first bytes of a record, and no more.
bool StallMidRecord(RawClient& client) {
    const PipeRecord request = {WM_USER_REFMODE, 0, 0, 0};
    return client.Connected() && client.Write(&request, 10);
}

// What a main screen's window receives, in order.
std::vector<PipeRecord> g_posted;

LRESULT CALLBACK RecordingWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER_REFMODE && message <= WM_USER_REFPOWERPLAN) {
        g_posted.push_back({message, static_cast<UINT32>(lParam), wParam, 0});
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

// A window that closes the pipe-2 server while it handles a close, as the
// refresh window does when it frees its state on the way out.
CPipeToRef* g_serverToClose = nullptr;
bool g_serverClosed = false;

LRESULT CALLBACK ClosingWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        g_serverToClose->Close();
        g_serverClosed = true;
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

DWORD WINAPI SendCloseRecord(LPVOID param) {
    const PipeRecord close = {WM_CLOSE, 0, 0, 0};
    ipctest::SendRaw(static_cast<const wchar_t*>(param), &close, sizeof(close));
    return 0;
}

} // namespace

// Closing the broadcast server flushes each connection so that a main
// screen reads every notice; one that has stopped reading must not hold the
// refresh window there, and still finds what was written.
TEST(PipeHardening, ClosingTheBroadcastServerDoesNotWaitForAClientThatNeverReads) {
    const std::wstring name = ipctest::UniquePipeName();
    auto server = std::make_unique<CPipeToDlg>();
    ASSERT_TRUE(server->CPipe::Create(name.c_str()));
    ASSERT_TRUE(server->Listen());
    RawClient silent(name);
    ASSERT_TRUE(silent.Connected());
    ASSERT_TRUE(testenv::WaitUntil([&] { return server->GetConnectionCount() == 1; }, kBound));

    server->SendAll(WM_USER_REFMODE, 1, 2);
    {
        Watchdog watchdog("Close of a broadcast server whose client never reads", kBound);
        server.reset(); // closes the connections, flushing each
    }
    PipeRecord record = {};
    EXPECT_EQ(24, silent.Read(&record, sizeof(record)));
    EXPECT_EQ(WM_USER_REFMODE, record.message);
    EXPECT_EQ(2u, record.battid);
}

// A main screen that connects and never reads fills the pipe after 42
// records; the next broadcast gives up on it within the write bound and
// drops it, instead of waiting for ever on the refresh window's thread.
TEST(PipeHardening, ABroadcastClientThatNeverReadsIsDropped) {
    const std::wstring name = ipctest::UniquePipeName();
    CPipeToDlg server;
    ASSERT_TRUE(server.CPipe::Create(name.c_str()));
    ASSERT_TRUE(server.Listen());
    RawClient silent(name);
    ASSERT_TRUE(silent.Connected());
    ASSERT_TRUE(testenv::WaitUntil([&] { return server.GetConnectionCount() == 1; }, kBound));
    {
        Watchdog watchdog("broadcasts to a client that never reads", kBound);
        for (int progress = 0; progress <= 60 && server.GetConnectionCount() > 0; ++progress)
            server.SendAll(WM_USER_REFPROGRESS, progress, 1);
    }
    EXPECT_EQ(0u, server.GetConnectionCount());
    server.Close();
}

// A pipe-2 client that stops in the middle of its request loses its
// connection after the read bound; Close does not return while a connection
// thread still runs (it could still read the live state or send to the
// window that its owner is about to free).
TEST(PipeHardening, ARefreshServerDropsAStalledRequestAndCloseJoinsItsConnections) {
    const std::wstring name = ipctest::UniquePipeName();
    const int threadsBefore = ipctest::CountThreads();
    RefreshLiveState state;
    CPipeToRef server(nullptr, &state);
    ASSERT_TRUE(server.CPipe::Create(name.c_str()));
    ASSERT_TRUE(server.Listen());

    RawClient stalled(name);
    ASSERT_TRUE(StallMidRecord(stalled));
    EXPECT_TRUE(stalled.ServerCloses());

    RawClient pending(name);
    ASSERT_TRUE(StallMidRecord(pending));
    ASSERT_TRUE(
        testenv::WaitUntil([&] { return ipctest::CountThreads() >= threadsBefore + 2; }, kBound))
        << "the accept thread and the pending connection's";
    {
        Watchdog watchdog("Close of a refresh server with a pending request", kBound);
        server.Close();
    }
    EXPECT_EQ(threadsBefore, ipctest::CountThreads());
}

// The connection that forwards the close waits in SendMessageW for the very
// handler that closes the server: Close must not wait for it, and it still
// ends (and goes) on its own once the handler returns.
TEST(PipeHardening, ARefreshServerClosedFromTheCloseItForwardsDoesNotWaitForItself) {
    const int threadsBefore = ipctest::CountThreads();
    HWND hWnd = ipctest::CreateMessageWindow(L"ipc_test_closing", ClosingWndProc);
    ASSERT_NE(nullptr, hWnd);
    const std::wstring name = ipctest::UniquePipeName();
    RefreshLiveState state;
    CPipeToRef server(hWnd, &state);
    g_serverToClose = &server;
    g_serverClosed = false;
    ASSERT_TRUE(server.CPipe::Create(name.c_str()));
    ASSERT_TRUE(server.Listen());

    zb::UniqueHandle sender(
        CreateThread(nullptr, 0, SendCloseRecord, const_cast<wchar_t*>(name.c_str()), 0, nullptr));
    ASSERT_TRUE(sender.IsValid());
    {
        Watchdog watchdog("closing the server from the close it forwards", kBound);
        EXPECT_TRUE(testenv::WaitUntil(
            [] {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&msg);
                return g_serverClosed;
            },
            kBound));
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sender.Get(), kBound));
    sender.Reset();
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return ipctest::CountThreads() <= threadsBefore; }, kBound))
        << "the connection's thread ends";
    DestroyWindow(hWnd);
}

// The scheduler's server reads on its accept thread: a stalled client must
// not keep the pipe from answering the next one.
TEST(PipeHardening, ASchedulerServerDropsAStalledRecordAndServesTheNextClient) {
    const std::wstring name = ipctest::UniquePipeName();
    CPipeToSch server;
    ASSERT_TRUE(server.CPipe::Create(name.c_str()));
    ASSERT_TRUE(server.Listen());

    RawClient stalled(name);
    ASSERT_TRUE(StallMidRecord(stalled));
    EXPECT_TRUE(stalled.ServerCloses());
    EXPECT_EQ(PIPE_USER_SAME, PipeCheckUser(name.c_str()));
    server.Close();
}

// A record that arrives in two pieces is still one record for the main
// screen, and the next one is read from its own first byte.
TEST(PipeHardening, TheMainScreenClientReadsWholeRecords) {
    HWND hWnd = ipctest::CreateMessageWindow(L"ipc_test_recording", RecordingWndProc);
    ASSERT_NE(nullptr, hWnd);
    g_posted.clear();

    const std::wstring name = ipctest::UniquePipeName();
    zb::UniqueHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1,
                                             1024, 1024, 0, nullptr));
    ASSERT_TRUE(server.IsValid());
    CPipeClient client;
    ASSERT_TRUE(client.Connect(hWnd, name.c_str()));
    ASSERT_TRUE(client.StartReceive());

    const PipeRecord records[2] = {{WM_USER_REFMODE, 1, 2, 0}, {WM_USER_REFPROGRESS, 1, 40, 0}};
    const BYTE* bytes = reinterpret_cast<const BYTE*>(records);
    DWORD written = 0;
    {
        Watchdog watchdog("the client reading a piece of a record", kBound);
        ASSERT_TRUE(WriteFile(server.Get(), bytes, 10, &written, nullptr));
        // Returns once the client has read the piece on its own.
        FlushFileBuffers(server.Get());
    }
    ASSERT_TRUE(WriteFile(server.Get(), bytes + 10, sizeof(records) - 10, &written, nullptr));

    EXPECT_TRUE(testenv::WaitUntil(
        [] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            return g_posted.size() >= 2;
        },
        kBound));
    ASSERT_EQ(2u, g_posted.size());
    EXPECT_EQ(WM_USER_REFMODE, g_posted[0].message);
    EXPECT_EQ(2u, g_posted[0].wparam);
    EXPECT_EQ(WM_USER_REFPROGRESS, g_posted[1].message);
    EXPECT_EQ(40u, g_posted[1].wparam);
    EXPECT_EQ(1u, g_posted[1].battid);
    client.Close();
    DestroyWindow(hWnd);
}

// The pipes are open to logged-on users of this machine, not to anyone:
// their access list names the system, the administrators and the
// authenticated users, and no one else.
TEST(PipeHardening, PipesAdmitOnlyTheSystemAdministratorsAndLoggedOnUsers) {
    const std::wstring name = ipctest::UniquePipeName();
    CPipe server;
    ASSERT_TRUE(server.Create(name.c_str()));
    ASSERT_TRUE(server.Listen());
    RawClient client(name);
    ASSERT_TRUE(client.Connected());

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR pSd = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              GetSecurityInfo(client.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &pSd));
    const zb::UniqueLocalMemory<PSECURITY_DESCRIPTOR> sd(pSd);
    ASSERT_NE(nullptr, dacl) << "a null access list admits everyone";
    const WELL_KNOWN_SID_TYPE expected[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid,
                                            WinAuthenticatedUserSid};
    ASSERT_EQ(ARRAYSIZE(expected), dacl->AceCount);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, expected[i])) << "entry " << i;
    }
    RawClient second(name); // the server still creates instances of its pipe
    EXPECT_TRUE(second.Connected());
    server.Close();
}
