// CPipe's threads and shutdown, within this process.
#include "ipc/pipe.h"

#include "ipc_test_util.h"
#include "support/suite_env.h"

#include <memory>

using ipctest::Watchdog;

namespace {

constexpr DWORD kBound = 15000;

// A connection whose handler ends its own connection, as the pipe-2 server
// does after one request.
class SelfClosingPipe : public CPipe {
public:
    SelfClosingPipe() : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void OnReceive() override {
        BYTE byte = 0;
        received = Receive(&byte, 1);
        Close();
        SetEvent(done.Get());
    }
    zb::UniqueHandle done;
    int received = 0;
};

// Hands the first accepted client to a SelfClosingPipe that the test owns.
class HandOverListener : public CPipe {
public:
    void OnAccept() override {
        if (connection)
            return; // a second client is refused by the accept loop
        connection.reset(new SelfClosingPipe());
        MoveHandleTo(connection.get());
        started = connection->StartReceive();
        SetConnected(TRUE);
    }
    std::unique_ptr<SelfClosingPipe> connection;
    BOOL started = FALSE;
};

// Counts the messages a window of this thread receives.
LONG g_windowMessages = 0;

LRESULT CALLBACK CountingWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER_RUNMAINDLG) {
        InterlockedIncrement(&g_windowMessages);
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

DWORD WINAPI SendRunMainRecord(LPVOID param) {
    const PipeRecord run = {WM_USER_RUNMAINDLG, 0, RUNMAINDLG_ICON, 0};
    ipctest::SendRaw(static_cast<const wchar_t*>(param), &run, sizeof(run));
    return 0;
}

} // namespace

// Closing a listening object that no client ever reached wakes its accept
// thread, which drops its pending instance and ends; repeated, nothing is
// left behind.
TEST(PipeTransport, ClosingAnIdleListenerEndsItsThreadAndLeaksNothing) {
    const std::wstring name = ipctest::UniquePipeName();
    {
        CPipe warmUp; // first use loads what the pipes need once per process
        ASSERT_TRUE(warmUp.Create(name.c_str()));
        ASSERT_TRUE(warmUp.Listen());
        ASSERT_TRUE(ipctest::WaitForServer(name.c_str(), kBound));
        Watchdog watchdog("Close of an idle listener", kBound);
        warmUp.Close();
    }
    const int threadsBefore = ipctest::CountThreads();
    const int handlesBefore = ipctest::CountHandles();

    for (int cycle = 0; cycle < 25; ++cycle) {
        CPipe listener;
        ASSERT_TRUE(listener.Create(name.c_str()));
        ASSERT_TRUE(listener.Listen());
        ASSERT_TRUE(listener.Listen()) << "a second Listen is a no-op";
        ASSERT_TRUE(ipctest::WaitForServer(name.c_str(), kBound));
        {
            Watchdog watchdog("Close of an idle listener", kBound);
            listener.Close();
        }
        // The instance is gone with the thread: nobody serves the name now.
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    }
    EXPECT_EQ(threadsBefore, ipctest::CountThreads());
    EXPECT_LE(ipctest::CountHandles(), handlesBefore + 4);
}

// An OnReceive that closes its own connection must not wait for its own
// thread; the owner can then delete the object from another thread.
TEST(PipeTransport, ClosingFromTheReceiveThreadDoesNotDeadlock) {
    const std::wstring name = ipctest::UniquePipeName();
    HandOverListener listener;
    ASSERT_TRUE(listener.Create(name.c_str()));
    ASSERT_TRUE(listener.Listen());

    CPipe client;
    ASSERT_TRUE(client.PipeRetry(name.c_str(), 50, 100));
    ASSERT_TRUE(testenv::WaitUntil([&] { return listener.IsConnected() != FALSE; }, kBound));
    ASSERT_TRUE(listener.started);
    const BYTE byte = 0x42;
    ASSERT_EQ(1, client.Send(&byte, 1));

    Watchdog watchdog("closing a connection from its receive thread", kBound);
    // A Close that waited for its own thread would never signal this.
    WaitForSingleObject(listener.connection->done.Get(), INFINITE);
    EXPECT_EQ(1, listener.connection->received);
    // The server end is closed: the client's next read fails instead of waiting.
    BYTE answer = 0;
    EXPECT_EQ(-1, client.Receive(&answer, 1));
    listener.connection.reset();
    listener.Close();
}

// A client that waits for data while its owner closes it: Close ends the
// blocked receive thread. Connect on a connected object opens nothing new.
TEST(PipeTransport, ClosingAReceivingClientEndsItsThread) {
    const std::wstring name = ipctest::UniquePipeName();
    CPipeToDlg server; // keeps accepted connections open and silent
    ASSERT_TRUE(server.CPipe::Create(name.c_str()));
    ASSERT_TRUE(server.Listen());

    const int threadsBefore = ipctest::CountThreads();
    CPipeClient client;
    ASSERT_TRUE(client.PipeRetry(name.c_str(), 50, 100));
    EXPECT_TRUE(client.Connect(L"\\\\.\\pipe\\vadovur_no_such_pipe"));
    ASSERT_TRUE(client.StartReceive());
    ASSERT_TRUE(testenv::WaitUntil([&] { return server.GetConnectionCount() == 1; }, kBound));
    {
        Watchdog watchdog("Close of a receiving client", kBound);
        client.Close();
    }
    EXPECT_EQ(threadsBefore, ipctest::CountThreads());
}

// The scheduler's server forwards on its accept thread with SendMessageW to
// a window of the thread that may be closing it right then: Close must keep
// serving such sent messages while it waits, or both threads wait forever.
TEST(PipeTransport, ClosingTheSchedulerServerWhileItSendsToTheClosingThread) {
    HWND hWnd = ipctest::CreateMessageWindow(L"ipc_test_counting", CountingWndProc);
    ASSERT_NE(nullptr, hWnd);
    g_windowMessages = 0;

    const std::wstring name = ipctest::UniquePipeName();
    CPipeToSch server;
    ASSERT_TRUE(server.Create(hWnd, name.c_str())); // waits 2 s for a first client
    ASSERT_TRUE(ipctest::WaitForServer(name.c_str(), kBound));
    // Sent from another thread, and this thread does not pump meanwhile:
    // once the record has been read, the accept thread is (or will be)
    // blocked in SendMessageW to hWnd.
    HANDLE sender =
        CreateThread(nullptr, 0, SendRunMainRecord, const_cast<wchar_t*>(name.c_str()), 0, nullptr);
    ASSERT_NE(nullptr, sender);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sender, kBound));
    CloseHandle(sender);
    {
        Watchdog watchdog("Close of a server whose handler sends to this thread", kBound);
        server.Close();
    }
    EXPECT_EQ(1, g_windowMessages);
    DestroyWindow(hWnd);
}

TEST(PipeTransport, PipeRetryAgainstNoServerGivesUp) {
    const std::wstring name = ipctest::UniquePipeName();
    CPipe client;
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(client.PipeRetry(name.c_str(), 50, 5));
    EXPECT_LT(GetTickCount64() - start, 10000u);
    EXPECT_FALSE(client.PipeRetry(nullptr, 50, 5));
    const BYTE byte = 0;
    EXPECT_EQ(-1, client.Send(&byte, 1)) << "no handle: nothing to send on";
}
