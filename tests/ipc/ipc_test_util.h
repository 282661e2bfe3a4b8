// What the pipe tests share: counting this process's threads and handles,
// running a call that might hang under a bound, and the peer process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ipc/pipe.h"

namespace ipctest {

// Threads of this process (Toolhelp snapshot).
int CountThreads();

// Open handles of this process. Wine answers GetProcessHandleCount with 0,
// so the handle table is probed there instead.
int CountHandles();

// Bounds whatever runs during its life: if it is not destroyed within
// timeoutMs, the call in progress hangs, and the test program ends at once
// with a message (a hung Close cannot be failed and carried on from).
class Watchdog {
public:
    Watchdog(const char* what, DWORD timeoutMs);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Watch(LPVOID param);
    const char* what_;
    DWORD timeoutMs_;
    HANDLE done_;
    HANDLE thread_;
};

// A message-only window of this thread with its own class.
HWND CreateMessageWindow(const wchar_t* className, WNDPROC wndProc);

// A name no other test uses: \\.\pipe\vadovur_test_<pid>_<n>.
std::wstring UniquePipeName();

// A fresh temporary file path (the file does not exist yet).
std::wstring TempFilePath();

// The lines an ipc_peer process wrote.
std::vector<std::string> ReadPeerLines(const std::wstring& path);

// Waits (bounded) until a server instance of the pipe is available.
bool WaitForServer(const wchar_t* pipeName, DWORD timeoutMs);

// Connects a plain client, sends one record and reads up to cbAnswer bytes.
// The bytes read, or -1.
int Exchange(const wchar_t* pipeName, const PipeRecord& request, void* answer, DWORD cbAnswer);

// Connects a plain client and sends raw bytes, then closes.
bool SendRaw(const wchar_t* pipeName, const void* bytes, DWORD cb);

} // namespace ipctest
