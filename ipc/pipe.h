// Named-pipe messaging between the refresh tool, the main screen and the
// scheduler.
//
//   pipe 1  zbRefresh (CPipeToDlg) -> every zbMain refresh window (CPipeClient):
//           one-way broadcast of mode, progress, error and power-plan notices;
//           the connections stay open.
//   pipe 2  zbRefresh (CPipeToRef) <- zbMain, zbSched, a second zbRefresh:
//           one request per connection, answered or forwarded to the refresh
//           window.
//   pipe 3  zbSched (CPipeToSch) <- zbRefresh: one request per connection.
//
// Everything on the wire is a 24-byte PipeRecord, one Send per record,
// except the answer to WM_USER_GETUSERNAME (PIPE_USERNAME_BYTES).
//
// Threads: a listening object runs one accept thread; a connection that
// receives runs one receive thread. OnAccept and OnReceive run on those
// threads and reach windows only with SendMessageW / PostMessageW, so all
// program state stays on the window's thread.
#pragma once

#include <windows.h>

#include "common/handles.h"
#include "ipc/contract.h"

#include <atomic>
#include <memory>
#include <vector>

// ---------------------------------------------------------------------------
// Protocol (names and message codes: ipc/contract.h)

// One message: 24 bytes, little-endian, no header or framing.
struct PipeRecord {
    UINT32 message; // a message code of ipc/contract.h
    UINT32 battid;  // battery number, 0 when the message names none
    UINT64 wparam;
    INT64 lparam;
};
static_assert(sizeof(PipeRecord) == 24, "the record layout is fixed by the protocol");
constexpr DWORD PIPE_RECORD_SIZE = sizeof(PipeRecord);

// The user-name answer: at most 256 UTF-16 characters, NUL-terminated and
// zero-padded to 514 bytes.
constexpr size_t PIPE_USERNAME_CCH = 257;
constexpr DWORD PIPE_USERNAME_BYTES = PIPE_USERNAME_CCH * sizeof(WCHAR);

// Bounds of the transport. A peer that reads takes a record at once (the
// pipe buffer holds 42 of them); one that does not within these times has
// stopped reading and is given up on.
constexpr DWORD PIPE_WRITE_TIMEOUT_MS = 2000;
constexpr DWORD PIPE_FLUSH_TIMEOUT_MS = 2000;
// A server reads a request only once its first bytes have arrived; the rest
// of the record follows at once from any client that is not stalling.
constexpr DWORD PIPE_REQUEST_TIMEOUT_MS = 3000;

// Results of PipeCheckUser.
constexpr int PIPE_USER_NONE = 0;  // no server, or no valid answer
constexpr int PIPE_USER_OTHER = 1; // the server runs as another user
constexpr int PIPE_USER_SAME = 2;  // the server runs as this user

// ---------------------------------------------------------------------------
// Transport

// One named-pipe endpoint: a listening server, one accepted connection, or a
// client. Subclasses decide what an accepted client and arriving data mean.
//
// Every handle is opened for overlapped I/O, and every wait of a worker
// thread also watches a stop event, so that Close can end the thread at any
// point: the thread cancels its own pending I/O and waits for the
// cancellation before it leaves, and Close closes the pipe handle only after
// that, so no I/O is ever left running against a closed handle or a dead
// OVERLAPPED.
//
// No peer can hold an endpoint: a write that the peer does not take within
// PIPE_WRITE_TIMEOUT_MS is cancelled and fails, and the flush before a
// close waits at most PIPE_FLUSH_TIMEOUT_MS for the peer to read the rest
// (a peer whose write timed out gets no flush at all).
class CPipe {
public:
    CPipe();
    virtual ~CPipe();
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;

    // Stops the thread and closes the pipe handle. Called from the object's
    // own receive thread (an OnReceive that ends its connection) it only
    // closes the pipe handle: the thread ends when the handler returns.
    virtual void Close();
    // One whole write, bounded by PIPE_WRITE_TIMEOUT_MS; the bytes written,
    // or -1 with the error as the last error (ERROR_TIMEOUT when the peer
    // did not take the data).
    virtual int Send(const void* lpBuf, DWORD cbBuf);
    // One read of up to cbBuf bytes; the bytes read, or -1.
    virtual int Receive(void* lpBuf, DWORD cbBuf);
    // Hands this object's pipe handle to pOther (whose own one is closed).
    virtual BOOL MoveHandleTo(CPipe* pOther);
    // A client has connected; the instance is this object's pipe handle.
    // The base refuses it. A handle left behind is closed afterwards.
    virtual void OnAccept();
    // Data has arrived on this connection. The base does nothing.
    virtual void OnReceive();

    // Sets the pipe name (at most 259 characters); FALSE for a null name.
    BOOL Create(LPCWSTR lpstrPipeName);
    // Starts the accept thread on the name given to Create; TRUE when it
    // runs (or already ran).
    BOOL Listen();
    // Opens the named pipe as a client. TRUE at once when this object
    // already holds a pipe handle or listens.
    BOOL Connect(LPCWSTR lpstrPipeName);
    // Up to dwAttempts Connect calls, Sleep(dwPauseMs) after each failure.
    BOOL PipeRetry(LPCWSTR lpstrPipeName, DWORD dwPauseMs, DWORD dwAttempts);
    // Starts the receive thread on this (connected) object.
    BOOL StartReceive();

    BOOL IsConnected() const { return m_bConnected.load(); }
    LPCWSTR GetPipeName() const { return m_szPipeName; }

protected:
    void SetConnected(BOOL bConnected) { m_bConnected.store(bConnected); }
    // The Create and WaitForListen of the listening endpoints: a null name
    // fails, an object that already listens succeeds at once; otherwise
    // Create, Listen and wait up to 10 x 200 ms for a first client.
    BOOL CreateListening(LPCWSTR lpszFunction, LPCWSTR lpstrPipName);
    BOOL ListenAndWait(LPCWSTR lpszFunction);
    // Reads until cbBuf bytes have come, the pipe ends or dwTimeoutMs have
    // passed; the byte count, or -1 when nothing could be read.
    int ReceiveExactly(void* lpBuf, DWORD cbBuf, DWORD dwTimeoutMs = INFINITE);
    // True once the receive thread started by StartReceive has ended.
    bool HasThreadEnded() const;
    // Called on the receive thread: the object is its thread's alone now
    // and is deleted when the thread ends.
    void DeleteOnThreadEnd() { m_bDeleteOnThreadEnd = true; }

private:
    static unsigned __stdcall AcceptThreadProc(void* lpVoid);
    static unsigned __stdcall ReceiveThreadProc(void* lpVoid);
    BOOL Initialize();
    BOOL StartThread(unsigned(__stdcall* proc)(void*));
    unsigned RunAcceptLoop();
    unsigned RunReceiveLoop();
    bool IsOwnThread() const;
    // Waits for one overlapped operation, watching the stop event when the
    // caller is the object's own thread; a stop cancels the operation.
    // A timeout cancels the operation too and gives ERROR_TIMEOUT.
    DWORD FinishIo(HANDLE hPipe, OVERLAPPED* pOverlapped, HANDLE hIoEvent, DWORD dwTimeoutMs,
                   DWORD* pcbDone);
    DWORD Transfer(bool bWrite, void* lpBuf, DWORD cbBuf, DWORD dwTimeoutMs, DWORD* pcbDone);
    int ReceiveWithin(void* lpBuf, DWORD cbBuf, DWORD dwTimeoutMs);
    void CloseHandleLocked(bool bFlush);

    zb::UniqueHandle m_hPipe;      // instance, accepted connection or client
    zb::UniqueHandle m_hThread;    // accept or receive thread
    zb::UniqueHandle m_hEvent;     // manual reset: connection or data arrived
    zb::UniqueHandle m_hStopEvent; // manual reset: Close wants the thread to end
    WCHAR m_szPipeName[MAX_PATH] = {};
    std::atomic<BOOL> m_bRunning{FALSE};
    std::atomic<BOOL> m_bConnected{FALSE};
    std::atomic<bool> m_bListening{false};
    DWORD m_dwThreadId = 0;
    bool m_bDeleteOnThreadEnd = false;       // the receive thread's own
    std::atomic<bool> m_bWritten{false};     // sent to since the handle came: flush it
    std::atomic<bool> m_bPeerStalled{false}; // a write timed out: the peer takes nothing more
    bool m_bLockReady = false;
    CRITICAL_SECTION m_cs; // guards m_hPipe against the accept thread
};

// Compares the user that the server of lpstrPipeName runs as with this
// process's user: PIPE_USER_NONE, PIPE_USER_OTHER or PIPE_USER_SAME.
int PipeCheckUser(LPCWSTR lpstrPipeName);
// PipeCheckUser of pipe 2, the refresh tool's, retried only while a
// refresh tool holds its mutex.
int RefreshToolUser();

// ---------------------------------------------------------------------------
// Endpoints

// zbMain's end of pipe 1 (and a short-lived client of pipe 2): posts every
// mode, progress, error and power-plan notice to its window, with
// wParam = the record's wparam and lParam = its battid.
class CPipeClient : public CPipe {
public:
    using CPipe::Connect;
    // Remembers the window and connects (5 attempts, 50 ms apart).
    BOOL Connect(HWND hWnd, LPCWSTR lpstrPipeName);
    // Sends {message, 0, wparam, 0}; the bytes written, or -1.
    int SendMessageW(UINT message, UINT64 wparam);
    void OnReceive() override;

private:
    HWND m_hWnd = nullptr;
};

// zbRefresh's pipe-1 server: keeps every accepted main screen and broadcasts
// to all of them.
class CPipeToDlg : public CPipe {
public:
    ~CPipeToDlg() override;
    // Listens and waits up to 2 s for a first client (TRUE also after the
    // wait ran out); TRUE at once when already listening.
    BOOL Create(LPCWSTR lpstrPipName);
    BOOL WaitForListen();
    void OnAccept() override;
    // Sends {message, battid, wparam, 0} to every accepted connection, with
    // up to 10 attempts 100 ms apart each. A connection that fails all of
    // them is gone for good (its reader has closed) and is dropped; so is
    // one that did not take the record within PIPE_WRITE_TIMEOUT_MS (its
    // reader has stopped, and part of the record may be in the pipe).
    void SendAll(UINT message, UINT64 wparam, UINT32 battid);
    // SendAll once this object is listening or connected (10 attempts,
    // 10 ms apart); FALSE when it never was.
    BOOL ResendAll(UINT message, UINT64 wparam, UINT32 battid);
    size_t GetConnectionCount();

private:
    zb::CriticalSection m_listLock; // the accept thread appends, SendAll reads
    std::vector<std::unique_ptr<CPipeToDlg>> m_connections;
};

// What the refresh tool is doing, as pipe-2 queries report it. The refresh
// window's thread writes it; pipe threads read it without a lock.
struct RefreshLiveState {
    std::atomic<LONG> battery{0};
    std::atomic<LONG> mode{0}; // RefreshMode, -1 = error
    std::atomic<LONG> progress{0};
    // Started with "/sleep": bit 0 of the WM_USER_REFQUERY answer, which the
    // scheduler reads to open the main screen with "/sleep" too.
    std::atomic<LONG> sleep{0};
};

// zbRefresh's pipe-2 server. Every accepted connection serves one request on
// its own thread; the listening object keeps the connections, so that once
// Close has returned no connection thread is left that could still use the
// window or the live state.
class CPipeToRef : public CPipe {
public:
    // pState: the values queries report (zeros when null); it must outlive
    // the listening object's Close.
    explicit CPipeToRef(HWND hWnd = nullptr, const RefreshLiveState* pState = nullptr);
    ~CPipeToRef() override;
    // Stops accepting, then ends every connection and waits for its thread
    // (serving messages sent to this thread's windows meanwhile). A
    // connection that is handing a command to a window of this thread is
    // not waited for (this thread may be handling that very command: the
    // close that ends the window, say): it is past its last use of the live
    // state, and ends and deletes itself once the command is handled.
    void Close() override;
    BOOL Create(HWND hWnd, LPCWSTR lpstrPipName, const RefreshLiveState* pState = nullptr);
    BOOL WaitForListen();
    void OnAccept() override;
    // Acts only on a whole 24-byte record, read within
    // PIPE_REQUEST_TIMEOUT_MS: WM_CLOSE, WM_USER_REFERROR and
    // WM_USER_REFPOWERPLAN go to the window with SendMessageW; the mode,
    // query and progress codes and the user-name request are answered.
    void OnReceive() override;

private:
    enum ForwardState : LONG { kNotForwarding, kForwarding, kLeftToItself };

    void CloseConnections();
    void Forward(const PipeRecord& record);
    // On the closing thread: true when this connection is in SendMessageW to
    // a window of this thread; it then deletes itself when its thread ends.
    bool LeaveToItselfIfForwardingHere();

    HWND m_hWnd;
    const RefreshLiveState* m_pState;
    std::atomic<DWORD> m_dwForwardThreadId{0};
    std::atomic<LONG> m_forwardState{kNotForwarding};
    zb::CriticalSection m_listLock; // the accept thread adds, Close takes all
    std::vector<std::unique_ptr<CPipeToRef>> m_connections;
};

// zbSched's pipe-3 server. Serves each connection on the accept thread,
// reading its record within PIPE_REQUEST_TIMEOUT_MS: the user-name request
// is answered, WM_USER_RUNMAINDLG goes to the window with SendMessageW, and
// any other code is logged and dropped (the window takes nothing else from
// other processes).
class CPipeToSch : public CPipe {
public:
    BOOL Create(HWND hWnd, LPCWSTR lpstrPipName);
    BOOL WaitForListen();
    void OnAccept() override;

private:
    HWND m_hWnd = nullptr;
};
