// What the main screen's UI tests share: a simulated notebook set up before
// the program starts, and the running main screen with its main dialog.
#pragma once

#include <windows.h>

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

} // namespace mainui
