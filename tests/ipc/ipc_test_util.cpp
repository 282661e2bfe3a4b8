#include "ipc_test_util.h"

#include "support/suite_env.h"

#include <tlhelp32.h>

#include <stdio.h>

namespace ipctest {

int CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry = {sizeof(entry)};
    const DWORD pid = GetCurrentProcessId();
    int count = 0;
    if (Thread32First(snapshot, &entry)) {
        do {
            if (entry.th32OwnerProcessID == pid)
                ++count;
        } while (Thread32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return count;
}

int CountHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return static_cast<int>(count);
    int probed = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++probed;
    }
    return probed;
}

Watchdog::Watchdog(const char* what, DWORD timeoutMs)
    : what_(what), timeoutMs_(timeoutMs), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      thread_(CreateThread(nullptr, 0, Watch, this, 0, nullptr)) {}

Watchdog::~Watchdog() {
    SetEvent(done_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(done_);
}

DWORD WINAPI Watchdog::Watch(LPVOID param) {
    Watchdog* self = static_cast<Watchdog*>(param);
    if (WaitForSingleObject(self->done_, self->timeoutMs_) != WAIT_OBJECT_0) {
        fprintf(stderr, "HANG: %s did not finish within %lu ms\n", self->what_, self->timeoutMs_);
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    return 0;
}

HWND CreateMessageWindow(const wchar_t* className, WNDPROC wndProc) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = wndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                           nullptr);
}

std::wstring UniquePipeName() {
    static LONG counter = 0;
    return L"\\\\.\\pipe\\vadovur_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(InterlockedIncrement(&counter));
}

std::wstring TempFilePath() {
    wchar_t dir[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"ipc", 0, path);
    DeleteFileW(path);
    return path;
}

std::vector<std::string> ReadPeerLines(const std::wstring& path) {
    const std::vector<unsigned char> bytes = testenv::ReadFileBytes(path);
    std::vector<std::string> lines;
    std::string line;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line.push_back(static_cast<char>(c));
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

bool WaitForServer(const wchar_t* pipeName, DWORD timeoutMs) {
    return testenv::WaitUntil([&] { return WaitNamedPipeW(pipeName, 50) != FALSE; }, timeoutMs);
}

int Exchange(const wchar_t* pipeName, const PipeRecord& request, void* answer, DWORD cbAnswer) {
    CPipe client;
    if (!client.PipeRetry(pipeName, 50, 5))
        return -1;
    if (client.Send(&request, sizeof(request)) != static_cast<int>(sizeof(request)))
        return -1;
    return client.Receive(answer, cbAnswer);
}

bool SendRaw(const wchar_t* pipeName, const void* bytes, DWORD cb) {
    CPipe client;
    if (!client.PipeRetry(pipeName, 50, 5))
        return false;
    const bool sent = client.Send(bytes, cb) == static_cast<int>(cb);
    client.Close(); // flushes: returns once the server has read the bytes
    return sent;
}

} // namespace ipctest
