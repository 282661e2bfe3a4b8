// The suite's three log files and its one event-log entry.
//
//   vadovur_refresh.log        trace, only while HKLM ...\Refresh "Log" != 0
//   vadovur_progress_0N.log    refresh progress per battery, always
//   vadovur_error.log          errors the user should know about, always
//
// All files live in the common application data folder, are UTF-16LE with a
// byte-order mark, and are opened for each single line so that every
// program of the suite can append to them at once.
#pragma once

#include <windows.h>

#include <stddef.h>

#include <initializer_list>

// Flags of WriteErrorLog.
constexpr UINT ERRLOG_FILE = 1;       // append the line to vadovur_error.log
constexpr UINT ERRLOG_MESSAGEBOX = 2; // also show the text in a message box

// Caption string id that every caller of WriteErrorLog passes.
constexpr UINT ERRLOG_CAPTION_ID = 103;

// Buffer sizes, in UTF-16 units.
constexpr size_t LOG_MESSAGE_CCH = 5120;
constexpr size_t LOG_LINE_CCH = 4096;
constexpr size_t LOG_RESOURCE_CCH = 260;

// "[yyyy/mm/dd hh:mm:ss.mmm]" for the current local time.
void GetLogTimeStamp(LPWSTR lpszBuffer, size_t cchBuffer);

// "<common app data>\<file>", or ".\<file>" when the shell has no such folder.
void CreateLogFilePath(LPWSTR lpszPath, size_t cchPath, LPCWSTR szFilename);

// Appends one line; retries 10 x 100 ms while another process holds the file.
void AppendLogFile(LPCWSTR lpszPath, LPCWSTR lpszText);

// Trace line "<stamp>[<pid>][<function>][<line>] <message>\r\n".
void WriteLog(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszFormat, ...);

// Progress line for a battery: 1 writes _01, any other number _02.
void WriteProgressLog(DWORD dwBattNo, LPCWSTR lpszFormat, ...);

// Deletes a battery's progress log (same file choice as WriteProgressLog).
BOOL DeleteProgressLog(DWORD dwBattNo);

// Error line "<stamp> <text of uMessageId>(0x<code>)\r\n" (ERRLOG_FILE) and/or
// a message box (ERRLOG_MESSAGEBOX, whose result is returned; else 0).
int WriteErrorLog(UINT uMessageId, UINT uCaptionId, UINT uFlags, DWORD dwCode, HINSTANCE hInstance);

// Writes a string resource to the console of the parent process (or a new one).
void WriteConsoleMessage(HINSTANCE hInstance, UINT uStringId);

// Information entry from source "VADOVUR"; 0 or a Win32 error code.
DWORD WriteEventLogInfo(LPCWSTR szLog, DWORD dwEventId);
// The same with the entry's type (EVENTLOG_INFORMATION_TYPE,
// EVENTLOG_WARNING_TYPE, ...).
DWORD WriteEventLogEntry(LPCWSTR szLog, DWORD dwEventId, WORD wType);

// "Log" != 0 under HKLM SOFTWARE\Policies\ZEL\VADOvur\Refresh, or when no
// policy is set under HKLM SOFTWARE\ZEL\VADOvur\Refresh; read on every call.
BOOL IsLogEnabled();

// The two trace lines every function writes the same way.
//   LogNullArg:     "<name> is NULL.\n"
//   LogApiFailure:  "Fail to <api>(). ErrorCode: %08x.\n"
void LogNullArg(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszParameter);
void LogApiFailure(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszApi, DWORD dwError);

// The pointer check at the top of a function: true (and LogNullArg written)
// when pValue is null.
bool IsNullArg(const void* pValue, LPCWSTR lpszFunction, int nLine, LPCWSTR lpszParameter);

// IsNullArg for several pointers in turn: true at the first null one, which
// alone is logged.
struct NamedArg {
    const void* value;
    LPCWSTR name;
};
bool IsAnyNullArg(std::initializer_list<NamedArg> args, LPCWSTR lpszFunction, int nLine);
