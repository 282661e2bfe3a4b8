// The scheduler under test: zbSched.exe copied with the device library into
// a folder of its own, with a stand-in zbMain.exe that records how it was
// started, so that the folder's main screen is the stand-in.
#pragma once

#include <windows.h>

#include "common/handles.h"
#include "scenario_support.h"

#include <string>
#include <vector>

namespace schedtest {

constexpr DWORD kWaitMs = 30000;

class SchedFolder {
public:
    // withMain: put the stand-in zbMain.exe beside the scheduler (without
    // one the routine check does nothing).
    // withToasts: the toast library too (Windows 8 and later show toasts
    // then, instead of balloons).
    explicit SchedFolder(bool withMain = true, bool withToasts = false);
    const std::wstring& Dir() const { return dir_; }
    // The argument lines of every stand-in start so far.
    std::vector<std::string> MainStarts() const;
    bool WaitForMainStarts(size_t count, DWORD timeoutMs = kWaitMs) const;

private:
    std::wstring dir_;
};

// One zbSched.exe from the folder; ends it with "/end" (or, failing that,
// TerminateProcess) when it goes.
class SchedProcess {
public:
    SchedProcess(const SchedFolder& folder, const std::wstring& args = L"");
    ~SchedProcess();
    SchedProcess(const SchedProcess&) = delete;
    SchedProcess& operator=(const SchedProcess&) = delete;

    bool Running() const;
    // Its hidden window, once created (null after kWaitMs).
    HWND Window() const;
    // Waits for its end; the exit code or -1.
    int Wait(DWORD timeoutMs = kWaitMs);
    DWORD Id() const { return id_; }

private:
    const SchedFolder& folder_;
    zb::UniqueHandle process_;
    DWORD id_ = 0;
};

// Runs another zbSched.exe of the folder with args; its exit code or -1.
int RunSched(const SchedFolder& folder, const std::wstring& args);

// Top-level windows of the process with the given caption and class "#32770".
std::vector<HWND> DialogsOf(DWORD processId);

// HKCU SOFTWARE\ZEL\VADOvur values of the routine check.
void SetUserValue(const wchar_t* name, DWORD value);
DWORD UserValue(const wchar_t* name, DWORD fallback = 0xFFFFFFFF);
void SetUserText(const wchar_t* name, const std::wstring& text);
bool HasUserValue(const wchar_t* name);

// Lines of the error log with the entry's text.
size_t ErrorLogCount(const wchar_t* text);

} // namespace schedtest
