// CPipe: the named-pipe transport shared by the three programs.
#include "ipc/pipe.h"

#include "common/log.h"
#include "common/wrappers.h"

#include <process.h>
#include <sddl.h>
#include <strsafe.h>

namespace {

constexpr DWORD kSpinCount = 4000;
constexpr DWORD kPipeBufferSize = 1024;
constexpr DWORD kDefaultTimeoutMs = 3000;
constexpr int kListenWaits = 10;
constexpr DWORD kListenWaitMs = 200;

// Headers for Windows XP do not define it (the flag came with Vista).
#ifndef PIPE_REJECT_REMOTE_CLIENTS
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008
#endif

// Byte pipes, local clients only: every program of the suite runs on this
// machine. Windows XP does not know the reject flag and would refuse to
// create the pipe with it; there the access list below is the only guard.
DWORD PipeMode() {
    const DWORD mode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
    return IsWindowsXP() ? mode : mode | PIPE_REJECT_REMOTE_CLIENTS;
}

// Who may open the pipes: full control for the system and administrators
// (the refresh tool may run elevated), read and write for every logged-on
// user (the programs of all users of the machine talk to each other for the
// user check). Anonymous and network-only logons get nothing.
constexpr wchar_t kPipeSecurity[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;AU)";

// Critical sections are entered through this guard so that no early return
// can leave one held.
class CsLock {
public:
    explicit CsLock(CRITICAL_SECTION* pcs) noexcept : m_pcs(pcs) { EnterCriticalSection(m_pcs); }
    ~CsLock() { LeaveCriticalSection(m_pcs); }
    CsLock(const CsLock&) = delete;
    CsLock& operator=(const CsLock&) = delete;

private:
    CRITICAL_SECTION* m_pcs;
};

HANDLE CreateManualResetEvent(LPCWSTR lpszFunction, int nLine) {
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!hEvent)
        LogApiFailure(lpszFunction, nLine, L"CreateEventW", GetLastError());
    return hEvent;
}

// Waits for a thread to end while serving messages that other threads send
// to this thread's windows: a handler such as CPipeToSch::OnAccept may be
// inside SendMessageW to the very window whose thread is closing the pipe.
void WaitForThreadEnd(HANDLE hThread) {
    for (;;) {
        const DWORD result =
            MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return;
        if (result != WAIT_OBJECT_0 + 1) {
            LogApiFailure(L"CPipe::Close", __LINE__, L"MsgWaitForMultipleObjects", GetLastError());
            WaitForSingleObject(hThread, INFINITE);
            return;
        }
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// FlushFileBuffers waits until the peer has read everything written, which
// a peer that stopped reading never does, and it cannot be cancelled on
// Windows XP. It therefore runs on a thread of its own; when the bound
// passes, the caller's CloseHandle ends the flush (the pipe closes).
unsigned __stdcall FlushThreadProc(void* lpVoid) {
    return FlushFileBuffers(static_cast<HANDLE>(lpVoid)) ? ERROR_SUCCESS : GetLastError();
}

// What is left of a bound that began at dwStart (INFINITE stays so).
DWORD RemainingMs(DWORD dwTimeoutMs, DWORD dwStart) {
    if (dwTimeoutMs == INFINITE)
        return INFINITE;
    const DWORD elapsed = GetTickCount() - dwStart;
    return elapsed >= dwTimeoutMs ? 0 : dwTimeoutMs - elapsed;
}

} // namespace

CPipe::CPipe() {
    Initialize();
}

CPipe::~CPipe() {
    CPipe::Close();
    // Left over when the object ended on its own thread (see Close).
    m_hThread.Reset();
    m_hEvent.Reset();
    m_hStopEvent.Reset();
    if (m_bLockReady)
        DeleteCriticalSection(&m_cs);
}

BOOL CPipe::Initialize() {
    if (!InitializeCriticalSectionAndSpinCount(&m_cs, kSpinCount)) {
        WriteLog(L"CPipe::Initialize", __LINE__,
                 L"Fail to InitializeCriticalSectionAndSpinCount(). ErrorCode: %08x.\n",
                 GetLastError());
        return FALSE;
    }
    m_bLockReady = true;
    return TRUE;
}

BOOL CPipe::Create(LPCWSTR lpstrPipeName) {
    if (!lpstrPipeName) {
        LogNullArg(L"CPipe::Create", __LINE__, L"lpstrPipeName");
        return FALSE;
    }
    StringCchCopyW(m_szPipeName, ARRAYSIZE(m_szPipeName), lpstrPipeName);
    return TRUE;
}

bool CPipe::IsOwnThread() const {
    return m_hThread.IsValid() && m_dwThreadId == GetCurrentThreadId();
}

// The thread starts suspended so that its handle and id are stored before it
// can ask IsOwnThread.
BOOL CPipe::StartThread(unsigned(__stdcall* proc)(void*)) {
    m_bRunning.store(TRUE);
    m_hEvent.Reset(CreateManualResetEvent(L"CPipe::StartThread", __LINE__));
    m_hStopEvent.Reset(CreateManualResetEvent(L"CPipe::StartThread", __LINE__));
    if (m_hEvent && m_hStopEvent) {
        unsigned threadId = 0;
        HANDLE hThread = reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, proc, this, CREATE_SUSPENDED, &threadId));
        if (hThread) {
            m_hThread.Reset(hThread);
            m_dwThreadId = threadId;
            ResumeThread(hThread);
            return TRUE;
        }
        LogApiFailure(L"CPipe::StartThread", __LINE__, L"_beginthreadex", GetLastError());
    }
    m_bRunning.store(FALSE);
    m_hEvent.Reset();
    m_hStopEvent.Reset();
    return FALSE;
}

BOOL CPipe::Listen() {
    if (m_hEvent)
        return TRUE;
    m_bListening.store(true);
    if (StartThread(&CPipe::AcceptThreadProc))
        return TRUE;
    m_bListening.store(false);
    return FALSE;
}

BOOL CPipe::StartReceive() {
    return StartThread(&CPipe::ReceiveThreadProc);
}

BOOL CPipe::Connect(LPCWSTR lpstrPipeName) {
    if (!lpstrPipeName) {
        LogNullArg(L"CPipe::Connect", __LINE__, L"lpstrPipeName");
        return FALSE;
    }
    CsLock lock(&m_cs);
    if (m_hPipe || m_bListening.load())
        return TRUE;
    // Overlapped, so that a receive thread can be stopped while it waits.
    HANDLE hPipe = CreateFileW(lpstrPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (hPipe == INVALID_HANDLE_VALUE)
        return FALSE;
    m_hPipe.Reset(hPipe);
    return TRUE;
}

BOOL CPipe::PipeRetry(LPCWSTR lpstrPipeName, DWORD dwPauseMs, DWORD dwAttempts) {
    if (!lpstrPipeName) {
        LogNullArg(L"PipeRetry", __LINE__, L"lpstrPipeName");
        return FALSE;
    }
    for (DWORD attempt = 0; attempt < dwAttempts; ++attempt) {
        if (CPipe::Connect(lpstrPipeName))
            return TRUE;
        // No pause after the last attempt: nothing follows it.
        if (attempt + 1 < dwAttempts)
            Sleep(dwPauseMs);
    }
    return FALSE;
}

bool CPipe::HasThreadEnded() const {
    return m_hThread.IsValid() && WaitForSingleObject(m_hThread.Get(), 0) == WAIT_OBJECT_0;
}

DWORD CPipe::FinishIo(HANDLE hPipe, OVERLAPPED* pOverlapped, HANDLE hIoEvent, DWORD dwTimeoutMs,
                      DWORD* pcbDone) {
    HANDLE waits[2] = {hIoEvent, m_hStopEvent.Get()};
    const DWORD count = (IsOwnThread() && waits[1]) ? 2 : 1;
    const DWORD result = WaitForMultipleObjects(count, waits, FALSE, dwTimeoutMs);
    // CancelIo reaches only this thread's I/O: every operation is waited for
    // by the thread that started it.
    if (result != WAIT_OBJECT_0)
        CancelIo(hPipe);
    // Also waits for a cancelled operation to finish with the OVERLAPPED.
    if (!GetOverlappedResult(hPipe, pOverlapped, pcbDone, TRUE)) {
        const DWORD error = GetLastError();
        return (result == WAIT_TIMEOUT && error == ERROR_OPERATION_ABORTED) ? ERROR_TIMEOUT : error;
    }
    return ERROR_SUCCESS;
}

DWORD CPipe::Transfer(bool bWrite, void* lpBuf, DWORD cbBuf, DWORD dwTimeoutMs, DWORD* pcbDone) {
    *pcbDone = 0;
    const HANDLE hPipe = m_hPipe.Get();
    zb::UniqueHandle ioEvent(CreateManualResetEvent(L"CPipe::Transfer", __LINE__));
    if (!ioEvent)
        return GetLastError();
    OVERLAPPED ov = {};
    ov.hEvent = ioEvent.Get();
    const BOOL done = bWrite ? WriteFile(hPipe, lpBuf, cbBuf, nullptr, &ov)
                             : ReadFile(hPipe, lpBuf, cbBuf, nullptr, &ov);
    if (!done && GetLastError() != ERROR_IO_PENDING)
        return GetLastError();
    return FinishIo(hPipe, &ov, ioEvent.Get(), dwTimeoutMs, pcbDone);
}

int CPipe::Send(const void* lpBuf, DWORD cbBuf) {
    if (!lpBuf) {
        LogNullArg(L"CPipe::Send", __LINE__, L"lpBuf");
        return -1;
    }
    if (!m_hPipe)
        return -1;
    DWORD written = 0;
    const DWORD error =
        Transfer(true, const_cast<void*>(lpBuf), cbBuf, PIPE_WRITE_TIMEOUT_MS, &written);
    if (error != ERROR_SUCCESS) {
        if (error == ERROR_TIMEOUT)
            m_bPeerStalled.store(true);
        LogApiFailure(L"CPipe::Send", __LINE__, L"WriteFile", error);
        SetLastError(error);
        return -1;
    }
    m_bWritten.store(true);
    return static_cast<int>(written);
}

int CPipe::Receive(void* lpBuf, DWORD cbBuf) {
    return ReceiveWithin(lpBuf, cbBuf, INFINITE);
}

int CPipe::ReceiveWithin(void* lpBuf, DWORD cbBuf, DWORD dwTimeoutMs) {
    if (!lpBuf) {
        LogNullArg(L"CPipe::Receive", __LINE__, L"lpBuf");
        return -1;
    }
    if (!m_hPipe)
        return -1;
    DWORD read = 0;
    const DWORD error = Transfer(false, lpBuf, cbBuf, dwTimeoutMs, &read);
    if (error != ERROR_SUCCESS) {
        LogApiFailure(L"CPipe::Receive", __LINE__, L"ReadFile", error);
        return -1;
    }
    return static_cast<int>(read);
}

int CPipe::ReceiveExactly(void* lpBuf, DWORD cbBuf, DWORD dwTimeoutMs) {
    BYTE* const bytes = static_cast<BYTE*>(lpBuf);
    const DWORD start = GetTickCount();
    DWORD total = 0;
    while (total < cbBuf) {
        const int got =
            ReceiveWithin(bytes + total, cbBuf - total, RemainingMs(dwTimeoutMs, start));
        if (got <= 0)
            return total > 0 ? static_cast<int>(total) : got;
        total += static_cast<DWORD>(got);
    }
    return static_cast<int>(total);
}

BOOL CPipe::MoveHandleTo(CPipe* pOther) {
    if (!pOther) {
        LogNullArg(L"CPipe::MoveHandleTo", __LINE__, L"pOther");
        return FALSE;
    }
    CsLock lock(&m_cs);
    CsLock otherLock(&pOther->m_cs);
    pOther->m_hPipe.Reset(m_hPipe.Release());
    pOther->m_bWritten.store(m_bWritten.exchange(false));
    pOther->m_bPeerStalled.store(m_bPeerStalled.exchange(false));
    return TRUE;
}

void CPipe::OnAccept() {
    CPipe refused;
    MoveHandleTo(&refused);
    refused.Close();
}

void CPipe::OnReceive() {}

// Caller holds m_cs. Flushing first lets the peer read everything written
// before the handle goes; only a handle that was written to needs it, and a
// peer that has stopped reading is not waited for (see FlushThreadProc).
void CPipe::CloseHandleLocked(bool bFlush) {
    if (!m_hPipe)
        return;
    zb::UniqueHandle flusher;
    if (bFlush && m_bWritten.load() && !m_bPeerStalled.load()) {
        flusher.Reset(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, FlushThreadProc, m_hPipe.Get(), 0, nullptr)));
        if (!flusher)
            LogApiFailure(L"CPipe::Close", __LINE__, L"_beginthreadex", GetLastError());
    }
    DWORD flushed = ERROR_TIMEOUT;
    if (flusher && WaitForSingleObject(flusher.Get(), PIPE_FLUSH_TIMEOUT_MS) == WAIT_OBJECT_0)
        GetExitCodeThread(flusher.Get(), &flushed);
    m_hPipe.Reset();
    m_bWritten.store(false);
    m_bPeerStalled.store(false);
    if (!flusher)
        return;
    if (flushed != ERROR_SUCCESS)
        WriteLog(L"CPipe::Close", __LINE__, L"Fail to FlushFileBuffers(). ErrorCode: %08x.",
                 flushed);
    // A flush that outlived its bound ends now that the pipe is closed.
    if (WaitForSingleObject(flusher.Get(), PIPE_FLUSH_TIMEOUT_MS) != WAIT_OBJECT_0)
        WriteLog(L"CPipe::Close", __LINE__, L"The flush did not end with the pipe.\n");
}

void CPipe::Close() {
    m_bRunning.store(FALSE);
    if (m_hStopEvent)
        SetEvent(m_hStopEvent.Get());
    if (!IsOwnThread()) {
        // The thread cancels its own I/O and leaves; only then is it safe to
        // close the handle it used.
        if (m_hThread) {
            WaitForThreadEnd(m_hThread.Get());
            m_hThread.Reset();
            m_dwThreadId = 0;
        }
        m_hEvent.Reset();
        m_hStopEvent.Reset();
        m_bListening.store(false);
    }
    // On its own thread the object has no I/O pending here (OnReceive runs
    // between reads); the thread, its handle and the events are left to the
    // destructor or to a later Close from another thread.
    CsLock lock(&m_cs);
    CloseHandleLocked(true);
}

BOOL CPipe::CreateListening(LPCWSTR lpszFunction, LPCWSTR lpstrPipName) {
    if (!lpstrPipName) {
        LogNullArg(lpszFunction, __LINE__, L"lpstrPipName");
        return FALSE;
    }
    if (m_hThread)
        return TRUE;
    if (!CPipe::Create(lpstrPipName))
        return FALSE;
    return ListenAndWait(lpszFunction);
}

// Gives the first client a moment to connect, so that a main screen that is
// already waiting sees the first notice; after 2 s it goes on regardless.
BOOL CPipe::ListenAndWait(LPCWSTR lpszFunction) {
    if (!Listen())
        return FALSE;
    for (int wait = 0; wait < kListenWaits; ++wait) {
        if (IsConnected())
            return TRUE;
        WriteLog(lpszFunction, __LINE__, L"Waiting for pipe connection. [%d]", wait);
        Sleep(kListenWaitMs);
    }
    WriteLog(lpszFunction, __LINE__, L"Pipe connection timeout.");
    return TRUE;
}

unsigned __stdcall CPipe::AcceptThreadProc(void* lpVoid) {
    if (!lpVoid) {
        LogNullArg(L"CPipe::AcceptThreadProc", __LINE__, L"lpVoid");
        return static_cast<unsigned>(-1);
    }
    return static_cast<CPipe*>(lpVoid)->RunAcceptLoop();
}

unsigned CPipe::RunAcceptLoop() {
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSecurity, SDDL_REVISION_1, &pSd,
                                                              nullptr)) {
        LogApiFailure(L"CPipe::AcceptThreadProc", __LINE__,
                      L"ConvertStringSecurityDescriptorToSecurityDescriptorW", GetLastError());
        return static_cast<unsigned>(-1);
    }
    const zb::UniqueLocalMemory<PSECURITY_DESCRIPTOR> sd(pSd);
    // Not inheritable: a child process (the scheduler starts the main
    // screen) must not keep an instance alive that nobody serves.
    SECURITY_ATTRIBUTES sa = {sizeof(sa), sd.Get(), FALSE};

    while (m_bRunning.load()) {
        zb::UniqueHandle instance(CreateNamedPipeW(
            m_szPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PipeMode(),
            PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, kDefaultTimeoutMs, &sa));
        if (!instance) {
            LogApiFailure(L"CPipe::AcceptThreadProc", __LINE__, L"CreateNamedPipeW",
                          GetLastError());
            break;
        }
        ResetEvent(m_hEvent.Get());
        OVERLAPPED ov = {};
        ov.hEvent = m_hEvent.Get();
        if (ConnectNamedPipe(instance.Get(), &ov)) {
            WriteLog(L"CPipe::AcceptThreadProc", __LINE__,
                     L"Fail to ConnectNamedPipe. ErrorCode: %08x.", GetLastError());
            break;
        }
        DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            DWORD unused = 0;
            error = FinishIo(instance.Get(), &ov, m_hEvent.Get(), INFINITE, &unused);
        }
        // ERROR_PIPE_CONNECTED: the client came between create and connect.
        const bool accepted = error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED;
        if (!accepted || !m_bRunning.load())
            continue; // refused, gone again, or stopped: the instance is closed
        {
            CsLock lock(&m_cs);
            m_hPipe.Reset(instance.Release());
        }
        OnAccept();
        CsLock lock(&m_cs);
        CloseHandleLocked(true); // whatever OnAccept left behind
    }
    return 0;
}

unsigned __stdcall CPipe::ReceiveThreadProc(void* lpVoid) {
    if (!lpVoid) {
        LogNullArg(L"CPipe::ReceiveThreadProc", __LINE__, L"lpVoid");
        return static_cast<unsigned>(-1);
    }
    CPipe* const pipe = static_cast<CPipe*>(lpVoid);
    const unsigned result = pipe->RunReceiveLoop();
    if (pipe->m_bDeleteOnThreadEnd)
        delete pipe;
    return result;
}

unsigned CPipe::RunReceiveLoop() {
    BYTE unused = 0;
    while (m_bRunning.load()) {
        // A zero-byte read completes when data arrives or the pipe breaks.
        const HANDLE hPipe = m_hPipe.Get();
        ResetEvent(m_hEvent.Get());
        OVERLAPPED ov = {};
        ov.hEvent = m_hEvent.Get();
        DWORD error = ERROR_SUCCESS;
        if (!ReadFile(hPipe, &unused, 0, nullptr, &ov)) {
            error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                DWORD done = 0;
                error = FinishIo(hPipe, &ov, m_hEvent.Get(), INFINITE, &done);
            }
        }
        if (error != ERROR_SUCCESS || !m_bRunning.load())
            break;
        OnReceive();
    }
    return 0;
}
