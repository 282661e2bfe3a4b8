// What the refresh scenarios share: the real zbRefresh.exe on the simulated
// notebook, a main screen's view of pipe 1 (every notice the tool
// broadcasts), the pipe-2 requests a main screen sends, and readers for the
// machine, the registry and the logs the tool leaves behind.
#pragma once

#include <windows.h>

#include "battery/history.h"
#include "common/handles.h"
#include "sim/machine.h"
#include "support/suite_env.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scenario {

// Message codes of the notices (as the pipes carry them).
constexpr UINT32 kModeNotice = 0x8301;
constexpr UINT32 kProgressNotice = 0x8303;
constexpr UINT32 kErrorNotice = 0x8304;

// Bounds of the waits: generous, since they only matter when something hangs.
constexpr DWORD kStepWaitMs = 60000;
constexpr DWORD kRunWaitMs = 120000;

struct Notice {
    UINT32 message;
    UINT32 battery;
    UINT64 wparam;
    INT64 lparam;
};

// A main screen's connection to pipe 1, on a thread of its own: connects as
// soon as the tool listens and keeps every notice until the tool closes it.
class NoticeRecorder {
public:
    NoticeRecorder();
    ~NoticeRecorder();
    NoticeRecorder(const NoticeRecorder&) = delete;
    NoticeRecorder& operator=(const NoticeRecorder&) = delete;

    std::vector<Notice> Notices() const;
    bool Connected() const { return connected_.load(); }
    // True once the tool closed its end (after its clean-up).
    bool Closed() const { return closed_.load(); }
    // Waits until a notice satisfies pred; false after timeoutMs.
    bool WaitFor(const std::function<bool(const Notice&)>& pred, DWORD timeoutMs = kStepWaitMs);
    bool WaitForMode(UINT32 battery, INT64 mode, DWORD timeoutMs = kStepWaitMs);

private:
    void Run();

    zb::UniqueHandle stop_;
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<Notice> notices_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> closed_{false};
};

// The refresh modes carried by the mode notices of one battery, in order.
std::vector<INT64> ModesOf(const std::vector<Notice>& notices, UINT32 battery);
// The progress figures of one battery, in order.
std::vector<INT64> ProgressOf(const std::vector<Notice>& notices, UINT32 battery);
// The reasons of the error notices, in order.
std::vector<INT64> ErrorsOf(const std::vector<Notice>& notices);

// Sends one pipe-2 record, as the main screen does; true when written.
bool SendRequest(UINT32 message, UINT64 wparam);

// zbRefresh.exe started with the given switches; ends it if a test leaves it
// running (a failed test must not leave the next one a busy machine).
class ToolProcess {
public:
    explicit ToolProcess(const std::wstring& args);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    bool Started() const { return process_.IsValid(); }
    // Waits for the end; its exit code, or -1 when it did not end in time.
    int Wait(DWORD timeoutMs = kRunWaitMs);
    bool Running() const;
    DWORD Id() const { return id_; }

private:
    zb::UniqueHandle process_;
    DWORD id_ = 0;
};

// ---- The simulated machine --------------------------------------------------

sim::Machine ReadMachine();
sim::Battery ReadBattery(UINT battNo);
// Loads a profile and then edits the machine; fails the test on an error.
void SetUpMachine(const wchar_t* profile, const std::function<void(sim::Machine&)>& edit);
void SetSpeed(double speed);
// Sets a battery's charge to a percentage of its full charge.
void SetPercent(sim::Battery& b, double percent);

// ---- Settings and records ---------------------------------------------------

// The Windows version Wine reports to a program (its AppDefaults "Version":
// "winxp64", "win7", "win10"), for the life of the object; the earlier
// setting comes back afterwards. Read by Wine when the program starts.
class WineVersionFor {
public:
    WineVersionFor(const wchar_t* exe, const wchar_t* version);
    ~WineVersionFor();
    WineVersionFor(const WineVersionFor&) = delete;
    WineVersionFor& operator=(const WineVersionFor&) = delete;

private:
    std::wstring key_;
    std::wstring old_;
    bool had_ = false;
};

// HKLM SOFTWARE\ZEL\VADOvur\Refresh value.
void SetRefreshSetting(const wchar_t* name, DWORD value);
void SetUserRefreshSetting(const wchar_t* name, DWORD value); // HKCU ...\Refresh
// HKCU "LastRefreshStatus"; -1 when absent.
LONG LastRefreshStatus();
std::wstring LastRefreshUser();
// HKLM ...\BatteryInfo\<OWNID> "LastRefreshDate"; empty when absent.
std::wstring LastRefreshDate(const std::wstring& ownId);
// Today as the tool stores dates, "yyyy/mm/dd".
std::wstring Today();

// The battery history's rows; none (and a test failure) when it cannot be
// read.
std::vector<zbhistory::HistoryRow> HistoryRows();

// Progress-log lines of a battery without their time stamps.
std::vector<std::wstring> ProgressLines(UINT battNo);
// The same with the progress and capacity figures written as N and the
// temperature as HHHH, and runs of equal lines kept once: the shape of a
// refresh.
std::vector<std::wstring> ProgressShape(UINT battNo);
// Trace lines that contain the text.
size_t TraceCount(const wchar_t* text);
bool TraceContains(const wchar_t* text);

// ---- Power plans ------------------------------------------------------------

// The power manager's plans (Vista and later) and XP schemes as a test sees
// them; the same before and after a refresh means the user's are back.
struct PowerState {
    GUID activePlan = {};
    std::vector<GUID> plans;
    UINT activeXpScheme = 0;
    std::vector<UINT> xpSchemes;
};
PowerState ReadPowerState();
void ExpectSamePowerState(const PowerState& before, const PowerState& after);
// The friendly name of the active plan.
std::wstring ActivePlanName();

// ---- The fixture ------------------------------------------------------------

// A clean suite state and power store, the trace on, cool-downs of 0
// minutes and no pause between the firmware switches (each test changes
// what it needs), and a main screen listening on pipe 1.
class RefreshScenarioTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Every refresh ends with the firmware's refresh switched off.
    void ExpectRefreshSwitchedOff(UINT battNo);
    // Copies the logs of a failed scenario to the temporary folder.
    void KeepLogs();

    std::unique_ptr<NoticeRecorder> recorder_;
};

} // namespace scenario
