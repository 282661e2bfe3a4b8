// The endpoints of the three pipes and the user check.
#include "ipc/pipe.h"

#include "common/handles.h"
#include "common/log.h"
#include "ipc/session_user.h"

#include <shlobj.h>
#include <strsafe.h>

#include <new>

namespace {

constexpr DWORD kClientRetryMs = 50;
constexpr DWORD kClientAttempts = 5;
constexpr int kSendAttempts = 10;
constexpr DWORD kSendRetryMs = 100;
constexpr int kResendAttempts = 10;
constexpr DWORD kResendRetryMs = 10;

void LogRecord(LPCWSTR lpszFunction, int nLine, const PipeRecord& record) {
    WriteLog(lpszFunction, nLine, L"message:%08x, battid:%08x, wparam:%08x, lparam:%08x",
             record.message, record.battid, static_cast<DWORD>(record.wparam),
             static_cast<DWORD>(record.lparam));
}

// The process user's name for a user-name answer, zero-padded.
void GetProcessUserAnswer(WCHAR (&szAnswer)[PIPE_USERNAME_CCH]) {
    ZeroMemory(szAnswer, sizeof(szAnswer));
    if (GetSamCompatibleUserName(szAnswer, PIPE_USERNAME_CCH) != ERROR_SUCCESS)
        GetPlainUserName(szAnswer, PIPE_USERNAME_CCH);
}

// The name this process compares with a server's answer: an administrator
// works for the session's user, anyone else for the own account.
void GetOwnUserNameForCheck(WCHAR (&szName)[PIPE_USERNAME_CCH]) {
    ZeroMemory(szName, sizeof(szName));
    DWORD userError = 0;
    DWORD domainError = 0;
    if (IsUserAnAdmin() && GetSessionDomainUserName(szName, PIPE_USERNAME_CCH, &userError,
                                                    &domainError) == ERROR_SUCCESS)
        return;
    if (GetSamCompatibleUserName(szName, PIPE_USERNAME_CCH) == ERROR_SUCCESS)
        return;
    GetPlainUserName(szName, PIPE_USERNAME_CCH);
}

} // namespace

// ---------------------------------------------------------------------------
// PipeCheckUser

namespace {

int CheckUser(LPCWSTR lpstrPipeName, DWORD dwAttempts) {
    if (!lpstrPipeName) {
        LogNullArg(L"PipeCheckUser", __LINE__, L"lpstrPipeName");
        return PIPE_USER_NONE;
    }
    CPipe pipe;
    if (!pipe.PipeRetry(lpstrPipeName, kClientRetryMs, dwAttempts))
        return PIPE_USER_NONE;
    const PipeRecord request = {WM_USER_GETUSERNAME, 0, 0, 0};
    WCHAR szAnswer[PIPE_USERNAME_CCH] = {};
    int received = -1;
    if (pipe.Send(&request, sizeof(request)) == static_cast<int>(sizeof(request)))
        received = pipe.Receive(szAnswer, PIPE_USERNAME_BYTES);
    pipe.Close();
    if (received != static_cast<int>(PIPE_USERNAME_BYTES))
        return PIPE_USER_NONE;
    szAnswer[PIPE_USERNAME_CCH - 1] = L'\0';

    WCHAR szOwn[PIPE_USERNAME_CCH];
    GetOwnUserNameForCheck(szOwn);
    return wcsncmp(szOwn, szAnswer, PIPE_USERNAME_CCH - 1) == 0 ? PIPE_USER_SAME : PIPE_USER_OTHER;
}

} // namespace

int PipeCheckUser(LPCWSTR lpstrPipeName) {
    return CheckUser(lpstrPipeName, kClientAttempts);
}

int RefreshToolUser() {
    // Without the mutex a server is rare (a tool whose mutex this session
    // cannot open): one attempt finds it, and a screen that starts with no
    // refresh anywhere, the usual case, does not wait out the retries.
    return CheckUser(PIPE2_NAME, RefreshToolMutexExists() ? kClientAttempts : 1);
}

bool RefreshToolMutexExists() {
    zb::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, REFRESH_TOOL_MUTEX_NAME));
    return mutex || GetLastError() == ERROR_ACCESS_DENIED;
}

bool IsRefreshToolRunning() {
    return RefreshToolMutexExists() || PipeCheckUser(PIPE2_NAME) != PIPE_USER_NONE;
}

// ---------------------------------------------------------------------------
// CPipeClient

BOOL CPipeClient::Connect(HWND hWnd, LPCWSTR lpstrPipeName) {
    if (!lpstrPipeName) {
        LogNullArg(L"CPipeClient::Connect", __LINE__, L"lpstrPipeName");
        return FALSE;
    }
    m_hWnd = hWnd;
    return PipeRetry(lpstrPipeName, kClientRetryMs, kClientAttempts);
}

int CPipeClient::SendMessageW(UINT message, UINT64 wparam) {
    const PipeRecord record = {message, 0, wparam, 0};
    WriteLog(L"CPipeClient::SendMessageW", __LINE__, L"message:%08x, wparam:%08x, lparam:%08x",
             message, static_cast<DWORD>(wparam), 0);
    return Send(&record, sizeof(record));
}

void CPipeClient::OnReceive() {
    // The byte pipe may hand over part of a record; reading on to its end
    // keeps every later record aligned. Only a pipe that ends mid-record
    // leaves a short one, which is ignored.
    PipeRecord record = {};
    if (ReceiveExactly(&record, sizeof(record)) != static_cast<int>(sizeof(record)))
        return;
    LogRecord(L"CPipeClient::OnReceive", __LINE__, record);
    switch (record.message) {
    case WM_USER_REFMODE:
    case WM_USER_REFPROGRESS:
    case WM_USER_REFERROR:
    case WM_USER_REFPOWERPLAN:
        PostMessageW(m_hWnd, record.message, static_cast<WPARAM>(record.wparam),
                     static_cast<LPARAM>(record.battid));
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// CPipeToDlg

CPipeToDlg::~CPipeToDlg() {
    // The accept thread first, so that nothing is appended meanwhile.
    CPipe::Close();
    zb::ScopedLock lock(m_listLock);
    for (auto& connection : m_connections)
        connection->Close();
    m_connections.clear();
}

BOOL CPipeToDlg::Create(LPCWSTR lpstrPipName) {
    return CreateListening(L"CPipeToDlg::Create", lpstrPipName);
}

BOOL CPipeToDlg::WaitForListen() {
    return ListenAndWait(L"CPipeToDlg::WaitForListen");
}

void CPipeToDlg::OnAccept() {
    std::unique_ptr<CPipeToDlg> connection(new (std::nothrow) CPipeToDlg());
    if (!connection) {
        SetConnected(FALSE);
        return; // the instance is closed by the accept loop
    }
    MoveHandleTo(connection.get());
    {
        zb::ScopedLock lock(m_listLock);
        m_connections.push_back(std::move(connection));
    }
    SetConnected(TRUE);
}

size_t CPipeToDlg::GetConnectionCount() {
    zb::ScopedLock lock(m_listLock);
    return m_connections.size();
}

void CPipeToDlg::SendAll(UINT message, UINT64 wparam, UINT32 battid) {
    WriteLog(L"CPipeToDlg::SendAll", __LINE__,
             L"message:%08x, battid:%08x, wparam:%08x, lparam:%08x.\n", message, battid,
             static_cast<DWORD>(wparam), 0);
    const PipeRecord record = {message, battid, wparam, 0};

    // Only this thread removes connections, so the pointers stay valid while
    // the accept thread appends; the list lock is not held across the sends.
    std::vector<CPipeToDlg*> targets;
    {
        zb::ScopedLock lock(m_listLock);
        for (auto& connection : m_connections)
            targets.push_back(connection.get());
    }
    std::vector<CPipeToDlg*> gone;
    for (CPipeToDlg* pPipe : targets) {
        bool sent = false;
        for (int attempt = 0; attempt < kSendAttempts && !sent; ++attempt) {
            sent = pPipe->Send(&record, sizeof(record)) != -1;
            if (!sent && GetLastError() == ERROR_TIMEOUT) {
                // The main screen has stopped reading: retrying would hold
                // the refresh window for each attempt's bound again.
                WriteLog(L"CPipeToDlg::SendAll", __LINE__,
                         L"The client takes no records; dropped.\n");
                break;
            }
            if (!sent) {
                WriteLog(L"CPipeToDlg::SendAll", __LINE__, L"Retry pPipe->Send() [%d].", attempt);
                Sleep(kSendRetryMs);
            }
        }
        if (!sent)
            gone.push_back(pPipe);
    }
    if (gone.empty())
        return;
    zb::ScopedLock lock(m_listLock);
    for (CPipeToDlg* pPipe : gone) {
        for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
            if (it->get() == pPipe) {
                m_connections.erase(it);
                break;
            }
        }
    }
}

BOOL CPipeToDlg::ResendAll(UINT message, UINT64 wparam, UINT32 battid) {
    for (int attempt = 0; attempt < kResendAttempts; ++attempt) {
        if (CPipe::Connect(PIPE1_NAME)) {
            SendAll(message, wparam, battid);
            return TRUE;
        }
        Sleep(kResendRetryMs);
        WriteLog(L"CPipeToDlg::ResendAll", __LINE__, L"Fail to Connect().");
        WriteLog(L"CPipeToDlg::ResendAll", __LINE__, L"Retry SendAll() [%d].", attempt);
    }
    return FALSE;
}

// ---------------------------------------------------------------------------
// CPipeToRef

CPipeToRef::CPipeToRef(HWND hWnd, const RefreshLiveState* pState)
    : m_hWnd(hWnd), m_pState(pState) {}

CPipeToRef::~CPipeToRef() {
    CPipeToRef::Close();
}

void CPipeToRef::Close() {
    // The accept thread first, so that nothing is added meanwhile.
    CPipe::Close();
    CloseConnections();
}

void CPipeToRef::CloseConnections() {
    // Taken out of the list before they are closed: their threads may be in
    // SendMessageW to a window of this thread, whose handler must find the
    // lock free.
    std::vector<std::unique_ptr<CPipeToRef>> connections;
    {
        zb::ScopedLock lock(m_listLock);
        connections.swap(m_connections);
    }
    for (auto& connection : connections) {
        if (connection->LeaveToItselfIfForwardingHere())
            connection.release();
        else
            connection->Close();
    }
}

bool CPipeToRef::LeaveToItselfIfForwardingHere() {
    if (m_dwForwardThreadId.load() != GetCurrentThreadId())
        return false;
    LONG expected = kForwarding;
    return m_forwardState.compare_exchange_strong(expected, kLeftToItself);
}

// The window's thread may close the server while handling this very
// message; LeaveToItselfIfForwardingHere then hands this object to its
// thread instead of waiting for it, which would wait for ever.
void CPipeToRef::Forward(const PipeRecord& record) {
    m_dwForwardThreadId.store(GetWindowThreadProcessId(m_hWnd, nullptr));
    m_forwardState.store(kForwarding);
    ::SendMessageW(m_hWnd, record.message, static_cast<WPARAM>(record.wparam),
                   static_cast<LPARAM>(record.lparam));
    LONG expected = kForwarding;
    if (!m_forwardState.compare_exchange_strong(expected, kNotForwarding))
        DeleteOnThreadEnd();
}

BOOL CPipeToRef::Create(HWND hWnd, LPCWSTR lpstrPipName, const RefreshLiveState* pState) {
    m_hWnd = hWnd;
    m_pState = pState;
    return CreateListening(L"CPipeToRef::Create", lpstrPipName);
}

BOOL CPipeToRef::WaitForListen() {
    return ListenAndWait(L"CPipeToRef::WaitForListen");
}

void CPipeToRef::OnAccept() {
    std::unique_ptr<CPipeToRef> connection(new (std::nothrow) CPipeToRef(m_hWnd, m_pState));
    if (!connection)
        return; // the instance is closed by the accept loop
    MoveHandleTo(connection.get());
    if (!connection->StartReceive())
        return;
    {
        zb::ScopedLock lock(m_listLock);
        // Connections whose request is done go here, so the list stays as
        // short as the requests in progress.
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->HasThreadEnded())
                it = m_connections.erase(it);
            else
                ++it;
        }
        m_connections.push_back(std::move(connection));
    }
    SetConnected(TRUE);
}

void CPipeToRef::OnReceive() {
    // Only a whole record counts: a short write would otherwise read as a
    // record with zeros in its missing bytes, and a stray 0x10 as WM_CLOSE.
    // Bounded, so that a client that stops mid-record cannot keep this
    // connection (and its thread) for ever.
    PipeRecord record = {};
    const int received = ReceiveExactly(&record, sizeof(record), PIPE_REQUEST_TIMEOUT_MS);
    if (received == static_cast<int>(sizeof(record))) {
        LogRecord(L"CPipeToRef::OnReceive", __LINE__, record);
        const LONG battery = m_pState ? m_pState->battery.load() : 0;
        const LONG mode = m_pState ? m_pState->mode.load() : 0;
        const LONG progress = m_pState ? m_pState->progress.load() : 0;
        switch (record.message) {
        case WM_CLOSE:
        case WM_USER_REFERROR:
        case WM_USER_REFPOWERPLAN:
            Forward(record);
            break;
        case WM_USER_REFMODE: {
            // A mode of -1 travels as the WPARAM the window would get.
            const PipeRecord answer = {WM_USER_REFMODE, static_cast<UINT32>(battery),
                                       static_cast<UINT64>(static_cast<INT64>(mode)), progress};
            Send(&answer, sizeof(answer));
            break;
        }
        case WM_USER_REFQUERY:
            record.wparam = (m_pState && m_pState->sleep.load()) ? 1 : 0;
            record.lparam = progress;
            Send(&record, sizeof(record));
            break;
        case WM_USER_REFPROGRESS:
            record.lparam = progress;
            Send(&record, sizeof(record));
            break;
        case WM_USER_GETUSERNAME: {
            WCHAR szAnswer[PIPE_USERNAME_CCH] = {};
            if (!GetSessionUserName(szAnswer, ARRAYSIZE(szAnswer)))
                GetProcessUserAnswer(szAnswer);
            Send(szAnswer, PIPE_USERNAME_BYTES);
            break;
        }
        default:
            break;
        }
    } else if (received >= 0) {
        WriteLog(L"CPipeToRef::OnReceive", __LINE__, L"Ignored a short record (%d bytes).\n",
                 received);
    }
    // One request per connection; the listening object deletes this one
    // after its thread has ended.
    Close();
}

// ---------------------------------------------------------------------------
// CPipeToSch

BOOL CPipeToSch::Create(HWND hWnd, LPCWSTR lpstrPipName) {
    m_hWnd = hWnd;
    return CreateListening(L"CPipeToSch::Create", lpstrPipName);
}

BOOL CPipeToSch::WaitForListen() {
    return ListenAndWait(L"CPipeToSch::WaitForListen");
}

void CPipeToSch::OnAccept() {
    // Served on the accept thread: the read is bounded so that a client that
    // stops mid-record cannot stop the whole pipe.
    PipeRecord record = {};
    if (ReceiveExactly(&record, sizeof(record), PIPE_REQUEST_TIMEOUT_MS) ==
        static_cast<int>(sizeof(record))) {
        LogRecord(L"CPipeToSch::OnAccept", __LINE__, record);
        switch (record.message) {
        case WM_USER_GETUSERNAME: {
            WCHAR szAnswer[PIPE_USERNAME_CCH];
            GetProcessUserAnswer(szAnswer);
            Send(szAnswer, PIPE_USERNAME_BYTES);
            break;
        }
        case WM_USER_RUNMAINDLG:
            ::SendMessageW(m_hWnd, record.message, static_cast<WPARAM>(record.wparam),
                           static_cast<LPARAM>(record.lparam));
            break;
        default:
            // Any process of the machine can write here: a window message
            // of its choosing (one carrying a pointer, say) never reaches
            // the scheduler's window.
            WriteLog(L"CPipeToSch::OnAccept", __LINE__, L"Dropped message:%08x.\n", record.message);
            break;
        }
    }
    CPipe::OnAccept();
    SetConnected(TRUE);
}
