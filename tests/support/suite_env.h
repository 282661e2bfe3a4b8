// Helpers shared by the tests: a clean suite state (registry and logs),
// reading log files, and starting the suite's programs as real processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testenv {

// Deletes SOFTWARE\ZEL\VADOvur from both hives, the policies under
// HKLM SOFTWARE\Policies\ZEL\VADOvur and the suite's log files (the battery
// history among them).
void CleanSuiteState();

// Fixture for every test that touches the registry or the log folder: it
// starts from a clean suite state and leaves one behind.
class SuiteStateTest : public ::testing::Test {
protected:
    void SetUp() override { CleanSuiteState(); }
    void TearDown() override { CleanSuiteState(); }
};

// The folder of the running test program (the build's bin folder), with a
// trailing backslash; the suite's programs and DLLs are built there too.
std::wstring BinDir();

// Full path of a log file in the suite's log folder.
std::wstring LogPath(const wchar_t* fileName);

// Raw bytes of a file; empty when it cannot be read.
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);

// A UTF-16 log file as text, without its byte-order mark.
std::wstring ReadLogText(const wchar_t* fileName);

// Lines of a log file, split at "\r\n".
std::vector<std::wstring> ReadLogLines(const wchar_t* fileName);

// Starts a program from the bin folder with the given argument text.
// Returns a process handle the caller closes, or nullptr.
HANDLE StartProgram(const wchar_t* exeName, const std::wstring& args);

// Starts a program from the bin folder with Wine's debug channels set to
// `channels` (a WINEDEBUG text, "+eventlog" say) and its Wine debug output
// appended to the file outputPath; no process handle is kept (find the
// program by its windows, pipes or mutexes). False when it could not start.
bool StartProgramWithWineDebug(const wchar_t* exeName, const std::wstring& args,
                               const char* channels, const std::wstring& outputPath);

// Runs a program from the bin folder and waits at most timeoutMs for it.
// Returns its exit code, or -1 when it could not start or did not end in time
// (it is then terminated).
int RunProgram(const wchar_t* exeName, const std::wstring& args, DWORD timeoutMs = 30000);

// Writes text as a UTF-16 file with its byte-order mark (as Windows' own
// tools write task and registry files). False when it cannot be written.
bool WriteUtf16File(const std::wstring& path, const std::wstring& text);

// Replaces the simulated notebook: a profile line, then field lines
// ("battery1.percent=40", "platform=1"); time stands still ("speed=0") so
// that what was put stays. simctl's exit code, or -1.
int SetUpMachine(const std::wstring& lines);

// Icons in Wine's notification area (X11 driver): child windows of class
// "__winex11_tray_icon" inside the top-level "__winex11_standalone_tray".
int CountTrayIcons();

// Polls pred every pollMs until it holds or timeoutMs passes.
template <typename Pred> bool WaitUntil(Pred pred, DWORD timeoutMs, DWORD pollMs = 20) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (pred())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(pollMs);
    }
}

// Dispatches this thread's messages until pred holds or timeoutMs passes
// (a window's test waits for what is sent or posted to it).
template <typename Pred> bool PumpUntil(Pred pred, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (pred())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        const ULONGLONG left = deadline - now;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left < 50 ? left : 50),
                                  QS_ALLINPUT);
    }
}

// A local time of the calendar, to the second; the rest zero.
SYSTEMTIME MakeTime(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0,
                    WORD second = 0);

} // namespace testenv
