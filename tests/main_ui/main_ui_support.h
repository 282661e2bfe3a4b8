// What the main screen's UI tests share: a simulated notebook set up before
// the program starts, and the running main screen with its main dialog.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "main/program_ids.h"
#include "sim/machine.h"
#include "support/suite_env.h"
#include "support/ui_driver.h"

namespace mainui {

constexpr wchar_t kTitle[] = L"バッテリ・リフレッシュ＆診断ツール";
constexpr UINT kShowRefresh = 0x8402;
constexpr UINT kUpdateBattery = 0x8404;

// A profile of the simulated notebook, then edits; time stands still.
void SetUpMachine(const wchar_t* profile, const std::function<void(sim::Machine&)>& edit = {});
sim::Battery ReadBattery(UINT battNo);
void EditMachine(const std::function<void(sim::Machine&)>& edit);

// HKLM ...\Refresh and HKCU ... values.
void SetRefreshSetting(const wchar_t* name, DWORD value);
void SetUserSetting(const wchar_t* name, DWORD value);
DWORD UserSetting(const wchar_t* name, DWORD fallback);

// A running main screen.
class MainScreen {
public:
    explicit MainScreen(const std::wstring& args = L"");
    ~MainScreen();

    ui::Program& Process() { return *program_; }
    DWORD Pid() const { return program_->Id(); }
    HWND Window() const { return window_; }
    HWND Dialog() const { return dialog_; }
    bool Ready() const { return dialog_ != nullptr; }
    // Opens the charge mode dialog of a battery page; null when none came.
    HWND OpenChargeMode(UINT battNo);
    // Ends it with the Exit button; its exit code.
    int Exit();

private:
    std::unique_ptr<ui::Program> program_;
    HWND window_ = nullptr;
    HWND dialog_ = nullptr;
};

// A suite state with the read-me already dismissed (the test that shows it
// clears that), and time standing still.
class MainScreenTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override;
};

// The program's front dialog that has the control; null when none came.
HWND WaitForDialogWith(DWORD pid, int controlId);
// Opens the confirmation of a battery page's Start button; null when none came.
HWND OpenConfirmation(MainScreen& main, UINT battNo);
// Starts a refresh of battery 1 from its page; the refresh dialog, or null.
HWND StartRefresh(MainScreen& main);
// The refresh window's dialog, shown or in the notification area, once the
// window has created it; null after timeoutMs.
HWND WaitForRefreshDialog(DWORD pid, DWORD timeoutMs);
// The completion window's dialog once it is visible; null after timeoutMs.
HWND WaitForCompletion(MainScreen& main, DWORD timeoutMs);
HWND WaitForCompletion(DWORD pid, DWORD timeoutMs);
// Opens the reservation dialog of a battery page; null when none came.
HWND OpenReservation(MainScreen& main, UINT battNo);

// The percentage a refresh dialog shows; -1 while empty.
int PercentOf(const std::wstring& text);
// How often the simulated notebook went to sleep.
uint32_t SuspendCount();
// A task name the program builds from one of its strings and this user.
std::wstring TaskNameOf(UINT stringId);
// Two days ahead at 05:06:00 local time.
SYSTEMTIME InTwoDays();

// The longest a whole simulated refresh may take at the tests' time scales.
constexpr DWORD kRunWaitMs = 180000;

struct ComScope {
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

// A copy of the program in a folder of its own, with the libraries it loads
// and, when given, a stand-in for the refresh tool.
class InstalledCopy {
public:
    explicit InstalledCopy(const wchar_t* toolStandIn);
    ~InstalledCopy();

private:
    std::wstring folder_;
};

// Starts the battery 1 refresh of a main screen (a copy's, or the bench's)
// and presses Yes on the confirmation; the confirmation, or null.
HWND ConfirmInCopy(ui::Program& program);

// A main screen test whose refresh tool logs and has no cool-downs.
class RefreshRunTest : public MainScreenTest {
protected:
    void SetUp() override;
};

} // namespace mainui
