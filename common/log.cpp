#include "common/log.h"

#include "common/handles.h"
#include "common/reg.h"
#include "common/settings.h"

#include <shlobj.h>
#include <strsafe.h>

#include <atomic>

namespace {

const wchar_t kRefreshLogName[] = L"vadovur_refresh.log";
const wchar_t kErrorLogName[] = L"vadovur_error.log";
const wchar_t kProgressLog1Name[] = L"vadovur_progress_01.log";
const wchar_t kProgressLog2Name[] = L"vadovur_progress_02.log";
const wchar_t kEventSourceName[] = L"VADOVUR";

// The trace switch, under HKLM SETTINGS_KEY_REFRESH.
const wchar_t kLogSwitchValue[] = L"Log";

constexpr int kAppendAttempts = 10;
constexpr DWORD kAppendRetryMs = 100;

// Taken for the whole of one trace line. It keeps a line logged from inside
// the logging code (say, a null argument in CreateLogFilePath) from
// recursing, and keeps two threads of a process from writing at once: the
// second one's line is dropped rather than waited for, so logging can never
// block or deadlock its caller.
std::atomic_flag g_traceBusy = ATOMIC_FLAG_INIT;

class TraceBusyGuard {
public:
    TraceBusyGuard() noexcept : owned_(!g_traceBusy.test_and_set(std::memory_order_acquire)) {}
    ~TraceBusyGuard() {
        if (owned_)
            g_traceBusy.clear(std::memory_order_release);
    }
    TraceBusyGuard(const TraceBusyGuard&) = delete;
    TraceBusyGuard& operator=(const TraceBusyGuard&) = delete;
    bool Owned() const noexcept { return owned_; }

private:
    bool owned_;
};

// Formats a whole log line. A line longer than the buffer is cut, but keeps
// its "\r\n": without it the next line, perhaps another program's, would
// be glued onto the cut one.
void FormatLogLine(LPWSTR lpszLine, size_t cchLine, LPCWSTR lpszFormat, ...) {
    va_list args;
    va_start(args, lpszFormat);
    const HRESULT hr = StringCchVPrintfW(lpszLine, cchLine, lpszFormat, args);
    va_end(args);
    if (SUCCEEDED(hr))
        return;
    OutputDebugStringW(L"Fail to StringCchPrintf().");
    size_t cch = 0;
    if (SUCCEEDED(StringCchLengthW(lpszLine, cchLine, &cch)) && cch >= 2) {
        lpszLine[cch - 2] = L'\r';
        lpszLine[cch - 1] = L'\n';
    }
}

LPCWSTR ProgressLogName(DWORD dwBattNo) {
    return dwBattNo == 1 ? kProgressLog1Name : kProgressLog2Name;
}

// A string resource into a 260-unit buffer; empty when it is missing.
void LoadResourceText(HINSTANCE hInstance, UINT uId, LPWSTR lpszText, int cchText) {
    lpszText[0] = L'\0';
    if (LoadStringW(hInstance, uId, lpszText, cchText) <= 0)
        lpszText[0] = L'\0';
}

} // namespace

void GetLogTimeStamp(LPWSTR lpszBuffer, size_t cchBuffer) {
    if (!lpszBuffer || cchBuffer == 0)
        return;
    SYSTEMTIME st = {};
    GetLocalTime(&st);
    StringCchPrintfW(lpszBuffer, cchBuffer, L"[%d/%02d/%02d %02d:%02d:%02d.%03d]", st.wYear,
                     st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

void CreateLogFilePath(LPWSTR lpszPath, size_t cchPath, LPCWSTR szFilename) {
    if (IsAnyNullArg({{lpszPath, L"lpszPath"}, {szFilename, L"szFilename"}}, L"CreateLogFilePath",
                     __LINE__))
        return;
    wchar_t folder[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    if (SHGetSpecialFolderPathW(nullptr, folder, CSIDL_COMMON_APPDATA, FALSE))
        StringCchPrintfW(path, ARRAYSIZE(path), L"%s\\%s", folder, szFilename);
    else
        StringCchPrintfW(path, ARRAYSIZE(path), L".\\%s", szFilename);
    StringCchCopyW(lpszPath, cchPath, path);
}

// The failures of the log writer itself go to the debugger only: the trace
// is the very file that may be failing, and a lost log line is never an
// error for the program that writes it.
void AppendLogFile(LPCWSTR lpszPath, LPCWSTR lpszText) {
    if (!lpszPath || !lpszText)
        return;

    // Exclusive share mode is the lock between the programs: a writer that
    // finds the file held waits for the holder's single line to finish.
    zb::UniqueHandle file;
    for (int attempt = 0; attempt < kAppendAttempts; ++attempt) {
        file.Reset(CreateFileW(lpszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (file)
            break;
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        // No pause after the last attempt: the line is lost either way.
        if (attempt + 1 < kAppendAttempts)
            Sleep(kAppendRetryMs);
    }
    if (!file) {
        OutputDebugStringW(L"Fail to CreateFile() for a log line.");
        return;
    }

    LARGE_INTEGER zero = {};
    LARGE_INTEGER end = {};
    if (!SetFilePointerEx(file.Get(), zero, &end, FILE_END)) {
        OutputDebugStringW(L"Fail to SetFilePointerEx() for a log line.");
        return;
    }
    DWORD written = 0;
    if (end.QuadPart == 0) {
        static const BYTE kByteOrderMark[] = {0xFF, 0xFE};
        if (!WriteFile(file.Get(), kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr)) {
            OutputDebugStringW(L"Fail to WriteFile() for a log line.");
            return;
        }
    }
    size_t cch = 0;
    if (FAILED(StringCchLengthW(lpszText, STRSAFE_MAX_CCH, &cch)))
        return;
    if (!WriteFile(file.Get(), lpszText, static_cast<DWORD>(cch * sizeof(wchar_t)), &written,
                   nullptr))
        OutputDebugStringW(L"Fail to WriteFile() for a log line.");
}

void WriteLog(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszFormat, ...) {
    if (!IsLogEnabled() || !lpszFunction || !lpszFormat)
        return;

    wchar_t message[LOG_MESSAGE_CCH] = {};
    va_list args;
    va_start(args, lpszFormat);
    // A message that does not fit is written as far as it was formatted.
    if (FAILED(StringCchVPrintfW(message, ARRAYSIZE(message), lpszFormat, args)))
        OutputDebugStringW(L"Fail to StringCchPrintf().");
    va_end(args);

    TraceBusyGuard busy;
    if (!busy.Owned())
        return;

    wchar_t path[MAX_PATH] = {};
    wchar_t stamp[64] = {};
    wchar_t line[LOG_LINE_CCH] = {};
    CreateLogFilePath(path, ARRAYSIZE(path), kRefreshLogName);
    GetLogTimeStamp(stamp, ARRAYSIZE(stamp));
    FormatLogLine(line, ARRAYSIZE(line), L"%s[%08X][%s][%d] %s\r\n", stamp, GetCurrentProcessId(),
                  lpszFunction, nLine, message);
    AppendLogFile(path, line);
}

void WriteProgressLog(DWORD dwBattNo, LPCWSTR lpszFormat, ...) {
    if (!lpszFormat)
        return;

    wchar_t message[LOG_MESSAGE_CCH] = {};
    va_list args;
    va_start(args, lpszFormat);
    if (FAILED(StringCchVPrintfW(message, ARRAYSIZE(message), lpszFormat, args)))
        OutputDebugStringW(L"Fail to StringCchVPrintf().");
    va_end(args);

    wchar_t path[MAX_PATH] = {};
    wchar_t stamp[64] = {};
    wchar_t line[LOG_LINE_CCH] = {};
    CreateLogFilePath(path, ARRAYSIZE(path), ProgressLogName(dwBattNo));
    GetLogTimeStamp(stamp, ARRAYSIZE(stamp));
    FormatLogLine(line, ARRAYSIZE(line), L"%s %s\r\n", stamp, message);
    AppendLogFile(path, line);
}

BOOL DeleteProgressLog(DWORD dwBattNo) {
    wchar_t path[MAX_PATH] = {};
    CreateLogFilePath(path, ARRAYSIZE(path), ProgressLogName(dwBattNo));
    if (DeleteFileW(path))
        return TRUE;
    // No log of this battery yet is the usual case, not a failure.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND)
        LogApiFailure(L"DeleteProgressLog", __LINE__, L"DeleteFile", error);
    SetLastError(error);
    return FALSE;
}

int WriteErrorLog(UINT uMessageId, UINT uCaptionId, UINT uFlags, DWORD dwCode,
                  HINSTANCE hInstance) {
    wchar_t text[LOG_RESOURCE_CCH] = {};
    LoadResourceText(hInstance, uMessageId, text, ARRAYSIZE(text));

    if (uFlags & ERRLOG_FILE) {
        wchar_t path[MAX_PATH] = {};
        wchar_t stamp[64] = {};
        wchar_t line[LOG_LINE_CCH] = {};
        CreateLogFilePath(path, ARRAYSIZE(path), kErrorLogName);
        GetLogTimeStamp(stamp, ARRAYSIZE(stamp));
        FormatLogLine(line, ARRAYSIZE(line), L"%s %s(0x%x)\r\n", stamp, text, dwCode);
        AppendLogFile(path, line);
    }

    if (!(uFlags & ERRLOG_MESSAGEBOX))
        return 0;
    wchar_t caption[LOG_RESOURCE_CCH] = {};
    wchar_t boxText[LOG_LINE_CCH] = {};
    LoadResourceText(hInstance, uCaptionId, caption, ARRAYSIZE(caption));
    StringCchPrintfW(boxText, ARRAYSIZE(boxText), L"%s(0x%x)", text, dwCode);
    return MessageBoxW(nullptr, boxText, caption, MB_ICONERROR);
}

void WriteConsoleMessage(HINSTANCE hInstance, UINT uStringId) {
    wchar_t text[LOG_RESOURCE_CCH] = {};
    LoadResourceText(hInstance, uStringId, text, ARRAYSIZE(text));
    if (text[0] == L'\0')
        return;
    // Standard error handed over as a file or a pipe (a script's "2>file", a
    // caller reading the output) gets the text itself, in UTF-8 with a line
    // end: that is where such a caller looks, and no console is opened.
    const HANDLE inherited = GetStdHandle(STD_ERROR_HANDLE);
    const DWORD type =
        inherited && inherited != INVALID_HANDLE_VALUE ? GetFileType(inherited) : FILE_TYPE_UNKNOWN;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
        char utf8[LOG_RESOURCE_CCH * 3 + 2] = {};
        const int cb =
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8) - 2, nullptr, nullptr);
        if (cb > 0) {
            StringCchCatA(utf8, ARRAYSIZE(utf8), "\r\n");
            size_t cbText = 0;
            StringCchLengthA(utf8, ARRAYSIZE(utf8), &cbText);
            DWORD written = 0;
            if (!WriteFile(inherited, utf8, static_cast<DWORD>(cbText), &written, nullptr))
                LogApiFailure(L"WriteConsoleMessage", __LINE__, L"WriteFile", GetLastError());
        }
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && !AllocConsole())
        return;

    // A program built for the Windows subsystem has no standard error of its
    // own, and one inherited from the parent may be a file or a pipe, which
    // WriteConsoleW cannot write: open the console's output directly then.
    zb::UniqueHandle owned;
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!out || out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) {
        owned.Reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
        out = owned.Get();
    }
    if (out && out != INVALID_HANDLE_VALUE) {
        size_t cch = 0;
        StringCchLengthW(text, ARRAYSIZE(text), &cch);
        DWORD written = 0;
        if (!WriteConsoleW(out, text, static_cast<DWORD>(cch), &written, nullptr))
            LogApiFailure(L"WriteConsoleMessage", __LINE__, L"WriteConsole", GetLastError());
    }
    owned.Reset();
    FreeConsole();
}

DWORD WriteEventLogInfo(LPCWSTR szLog, DWORD dwEventId) {
    return WriteEventLogEntry(szLog, dwEventId, EVENTLOG_INFORMATION_TYPE);
}

DWORD WriteEventLogEntry(LPCWSTR szLog, DWORD dwEventId, WORD wType) {
    if (IsNullArg(szLog, L"WriteEventLogInfo", __LINE__, L"szLog"))
        return ERROR_INVALID_PARAMETER;
    zb::UniqueEventSource source(RegisterEventSourceW(nullptr, kEventSourceName));
    if (!source) {
        const DWORD error = GetLastError();
        WriteLog(L"WriteEventLogInfo", __LINE__, L"RegisterEventSource failed, error: %d\n", error);
        return error;
    }
    LPCWSTR strings[] = {szLog};
    if (!ReportEventW(source.Get(), wType, 0, dwEventId, nullptr, 1, 0, strings, nullptr)) {
        const DWORD error = GetLastError();
        LogApiFailure(L"WriteEventLogInfo", __LINE__, L"ReportEvent", error);
        return error;
    }
    return ERROR_SUCCESS;
}

BOOL IsLogEnabled() {
    // The administrator's switch first. Every value means on or off, so
    // there is nothing to refuse (and a refusal could not be traced from
    // here without asking this function again).
    DWORD enabled = 0;
    if (SUCCEEDED(CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_POLICY_REFRESH, kLogSwitchValue,
                              &enabled)))
        return enabled != 0;
    if (FAILED(CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, kLogSwitchValue, &enabled)))
        return FALSE;
    return enabled != 0;
}

void LogNullArg(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszParameter) {
    WriteLog(lpszFunction, nLine, L"%s is NULL.\n", lpszParameter);
}

void LogApiFailure(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszApi, DWORD dwError) {
    WriteLog(lpszFunction, nLine, L"Fail to %s(). ErrorCode: %08x.\n", lpszApi, dwError);
}

bool IsNullArg(const void* pValue, LPCWSTR lpszFunction, int nLine, LPCWSTR lpszParameter) {
    if (pValue)
        return false;
    LogNullArg(lpszFunction, nLine, lpszParameter);
    return true;
}

bool IsAnyNullArg(std::initializer_list<NamedArg> args, LPCWSTR lpszFunction, int nLine) {
    for (const NamedArg& arg : args) {
        if (IsNullArg(arg.value, lpszFunction, nLine, arg.name))
            return true;
    }
    return false;
}
