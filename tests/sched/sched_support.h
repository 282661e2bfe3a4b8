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

// Texts of the scheduler's toasts: a worn battery (kind 3), a badly
// deteriorated one (kind 2), a refresh reminder (kinds 4 to 6), a battery
// that needs a refresh before it charges in its mode again (kind 9).
constexpr wchar_t kWarningToast[] = L"バッテリ性能が低下していますので、お早めに交換してください。";
constexpr wchar_t kCautionToast[] =
    L"著しい劣化のため、バッテリのリフレッシュは行わず、バッテリを交換してください。";
constexpr wchar_t kReminderToast[] =
    L"バッテリリフレッシュが長期間実施されていません。バッテリリフレッシュを実行してください。";
constexpr wchar_t kChargeModeToast[] =
    L"バッテリリフレッシュが必要です。"
    L"バッテリリフレッシュが完了するまではフル充電モードで動作します。";

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
    // Their whole command lines (program path and arguments as formed).
    std::vector<std::string> MainCommandLines() const;
    bool WaitForMainStarts(size_t count, DWORD timeoutMs = kWaitMs) const;

private:
    std::vector<std::string> LinesOf(const wchar_t* file) const;
    std::wstring dir_;
};

// One zbSched.exe from the folder; ends it with "/end" (or, failing that,
// TerminateProcess) when it goes.
class SchedProcess {
public:
    // injectDll: a DLL of the bin folder loaded into the process before its
    // own code runs (it starts suspended until then).
    SchedProcess(const SchedFolder& folder, const std::wstring& args = L"",
                 const std::wstring& injectDll = L"");
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

// Sends a message to the scheduler's window and returns once it has been
// handled (what it posted on the way may still wait).
void Deliver(HWND hWnd, UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);

// Top-level windows of the process with the given caption and class "#32770".
std::vector<HWND> DialogsOf(DWORD processId);

// The date the given number of days before today (after it when negative).
SYSTEMTIME DaysAgo(int days);
// The OWNID of a simulated battery, as the battery object forms it.
std::wstring OwnIdOf(UINT battNo);
// Health from the full-charge capacity: of 90 % of the design capacity, 31
// to 50 % is worn (10), 30 % or less badly deteriorated (20).
void Wear(sim::Battery& b, unsigned percentOfDesign);
// Battery 1 of the profile, first used 800 days ago and past its first
// check point (400 days ago), so that reminders are due by its last
// refresh; chargeMode is ignored by profiles without charge modes. Its
// OWNID.
std::wstring SetUpAgedBattery(const wchar_t* profile, DWORD chargeMode);
void SetLastRefresh(const std::wstring& ownId, int daysAgo);

// The toast library's popups now showing with that text, in any process.
std::vector<HWND> Toasts(const wchar_t* text);
// Waits for exactly count such popups; false after kWaitMs.
bool WaitForToasts(const wchar_t* text, size_t count);
// A click on a popup's body, as the user acts on the toast.
void ClickToast(HWND popup);

// HKCU SOFTWARE\ZEL\VADOvur values of the routine check.
void SetUserValue(const wchar_t* name, DWORD value);
DWORD UserValue(const wchar_t* name, DWORD fallback = 0xFFFFFFFF);
void SetUserText(const wchar_t* name, const std::wstring& text);
bool HasUserValue(const wchar_t* name);

// Lines of the error log with the entry's text.
size_t ErrorLogCount(const wchar_t* text);

} // namespace schedtest
