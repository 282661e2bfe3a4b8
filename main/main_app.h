// The main screen: its state, start-up, the main window with
// its dialog and pages, and the small dialogs they open.
//
// All of it lives on the one user-interface thread. Other processes reach
// the main window only by window messages (WM_USER_SHOWREFRESH,
// WM_USER_SHOWCOMPLETE), found by its class name "zbMain".
#pragma once

#include <windows.h>

#include "battery/battery.h"
#include "common/startup_trace.h"
#include "common/util.h"
#include "common/window_base.h"

namespace zbmain {

// Commands of the main window (WM_COMMAND low word; the high word carries a
// battery number where one is needed).
constexpr WORD IDM_SHOW_COMPLETE = 0x8008;
constexpr WORD IDM_START_REFRESH = 0x8009;
constexpr WORD IDM_SHOW_README = 0x800B;
constexpr WORD IDM_CONFIRM_REFRESH = 0x800C;
constexpr WORD IDM_RESERVATION = 0x800E;
constexpr WORD IDM_CHARGEMODE = 0x800F;

// Window messages; the first and the fourth also come from other processes.
constexpr UINT WM_USER_SHOWREFRESH = 0x8402;
constexpr UINT WM_USER_UPDATERESULT = 0x8403;
constexpr UINT WM_USER_UPDATEBATTERY = 0x8404;
constexpr UINT WM_USER_SHOWCOMPLETE = 0x8405;
constexpr UINT WM_USER_CHARGEMODECHANGED = 0x8407;
constexpr UINT WM_USER_TOASTACTIVATED = 0x8801;
// Posted to the main dialog once the main window is first painted: the
// pages' reservation texts, filled from the Task Scheduler.
constexpr UINT WM_USER_FILLRESERVATION = WM_APP + 0x10;

// Timer of the battery query retry, and its bound (ticks of a second).
constexpr UINT_PTR TIMER_BATTERY_QUERY = 2;
constexpr int BATTERY_QUERY_MAX_TICKS = 120;

constexpr size_t TITLE_CCH = 100;

// Class names of the refresh and completion windows, which other code (and
// other instances) look for.
constexpr wchar_t REFRESH_WINDOW_CLASS[] = L"RefreshWnd";
constexpr wchar_t COMPLETE_WINDOW_CLASS[] = L"CompleteWnd";

// The main screen's state. wWinMain owns it for the life of the program
// and hands it to the main window; every window and dialog of the screen
// gets it from its creator (a reference in its own state), the message loop
// from wWinMain. Nothing reaches it any other way.
struct MainApp {
    HINSTANCE instance = nullptr;
    WCHAR title[TITLE_CCH] = L"";
    WCHAR className[TITLE_CCH] = L"";
    CBatteryArray* batteries = nullptr;
    BOOL sleepAfterCompletion = FALSE;
    BOOL windowShown = FALSE;

    HWND mainWindow = nullptr;
    HWND mainDialog = nullptr;
    HWND diagnosisPage = nullptr;
    HWND battery1Page = nullptr;
    HWND battery2Page = nullptr;
    // The windows the message loop offers the keyboard to besides the main
    // dialog and its pages; the small dialogs disable the main window while
    // they are open.
    zb::ModelessSlot readMe;
    zb::ModelessSlot refreshDialog;
    zb::ModelessSlot completeWindow;
    zb::ModelessSlot confirmDialog;
    zb::ModelessSlot reservationDialog;
    zb::ModelessSlot chargeModeDialog;
    // The history dialog (modal, its own message loop) while it is open,
    // so that a hand-over can end it.
    HWND historyDialog = nullptr;
    HWND keyboardOwner = nullptr;

    HBRUSH whiteBrush = nullptr;
    int queryRetryCount = 0;

    // Time marks of the start-up's steps, written out only for the bench.
    zb::StartupTrace startupTrace;
};

// ---- Start-up and command line (plain decisions) ---------------------------

// True when the map holds more keys than the program path.
bool HasArguments(const CommandLineMap& args);

// What a first instance does with its command line.
enum class FirstInstanceAction { Import, Export, Report, StartNormally, StartAfterInvalidOption };
FirstInstanceAction DecideFirstInstance(const CommandLineMap& args);

// What a second instance does before it exits.
enum class SecondInstanceAction {
    Nothing,
    ShowRefresh,
    ShowComplete,
    ScreenOpen,
    InvalidOption,
    Report
};
SecondInstanceAction DecideSecondInstance(const CommandLineMap& args);

// 0 when the path of "/import" or "/export" may be handed on, else
// ERROR_BAD_PATHNAME (empty, too long, or long but not a UNC path).
DWORD CheckConfigPath(LPCWSTR lpszPath);

// Console message for an import's or export's result; 0 for none.
UINT ConsoleMessageForResult(DWORD dwResult, bool bImport, bool bEmptyPath);

// "/report <path>": the battery history as a file, by the path's extension:
// ".csv" copies every row under the same header, ".html" is the page of
// WriteHistoryHtmlReport. Reads the history at lpszHistoryPath. 0, or
//   ERROR_BAD_PATHNAME   as CheckConfigPath
//   ERROR_BAD_FORMAT     any other extension (nothing is written)
//   ERROR_READ_FAULT     the history could not be read
//   else the error of writing the report.
DWORD WriteHistoryReport(LPCWSTR lpszPath, LPCWSTR lpszHistoryPath);

// Console message for a report's result; 0 for none.
UINT ConsoleMessageForReport(DWORD dwResult, bool bEmptyPath);

// 1 unless "/icon" was given and the main window has never been shown.
int IsWindowShowMode(const MainApp& app);

// ---- Battery pages (plain decisions) ----------------------------------------

// Text of a charge mode value on a battery page; NotChargeLimit is handled
// by the caller (it is rewritten to full charge first).
UINT ChargeModeTextId(DWORD dwMode);

// The charge mode dialog's ticked button: 0 full, 80, 50; false when none
// is ticked, so that nothing is written.
bool ChosenChargeMode(bool bFull, bool b80, bool b50, DWORD* pdwMode);

// ---- Refresh run (plain decisions) ------------------------------------------

// The message that refuses a refresh start for this power state (168 no
// battery, 160 not on mains, 186 the refresh tool is missing), or 0.
UINT RefusalForPowerStatus(const SYSTEM_POWER_STATUS& status, bool bRefreshToolPresent);

// The step picture (table index 0 to 11) the refresh dialog shows next for
// a mode of the refresh tool, advancing the shared animation frame: the
// charge steps count their three pictures up, the discharge down; -1 for a
// mode without an animated step.
int NextStepPicture(int nMode, int* pFrame);

// The ten-percent mark a progress report reaches beyond the last one (the
// toast's figure), or -1 when it stays within the same ten.
int NewToastTens(int nLastProgress, int nProgress);

// Text of a not-completed run's reason; 0 keeps the dialog's default text.
UINT ReasonTextId(DWORD dwReason);
// Advice after a run that did not complete, by the battery's charge mode.
UINT AdviceTextId(DWORD dwChargeMode, DWORD dwReason);

// ---- Reservation (plain decisions) --------------------------------------------

// The reserved refresh task's arguments: "/sleep" or nothing, " /resv", and
// " /b1" or " /b2" when only that battery is reserved.
void BuildReservationArguments(bool bSleep, bool bBattery1, bool bBattery2, LPWSTR lpszArgs,
                               size_t cchArgs);
// The batteries a reserved task's arguments name (bit 1, bit 2; both when
// neither is named); 0 for empty arguments (a failed read).
DWORD ReservedBatteriesOf(LPCWSTR lpszArgs);
// The latest date a reservation may take: three months ahead, the day
// clamped to that month's length.
SYSTEMTIME ReservationLatestDate(const SYSTEMTIME& now);
// The wake-up task's time: dwDelayMinutes before the start.
SYSTEMTIME WakeUpTime(const SYSTEMTIME& start, DWORD dwDelayMinutes);

// What the reservation dialog shows for a system and user: the items made
// visible (the caution item last), the note's strings (joined by "\r"; 0
// for none) and whether nothing can be set (Windows XP without the rights a
// Task Scheduler 1.0 account needs).
struct ReservationNotes {
    int shown[6];
    size_t shownCount;
    UINT noteText[2];
    bool disabled;
};
ReservationNotes ReservationNotesFor(bool bWindowsXP, bool bWindows7, bool bWindows8, bool bAdmin,
                                     bool bLimited);

// ---- Windows ----------------------------------------------------------------

BOOL RegisterMainWindowClass(const MainApp& app);
// Creates the main window, which works with app until it is destroyed.
BOOL InitInstance(MainApp& app, int nCmdShow);
int RunMessageLoop(MainApp& app, HACCEL hAccel);

// What the main window holds: the screen's state, which wWinMain owns.
struct MainWindowState {
    MainApp& app;
};
LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

HWND CreateMainDialog(MainApp& app, HWND hParent);
// Page of tab index nTab: 0 diagnosis, 1 battery 1 (battery 2 when there is
// no battery 1), 2 battery 2.
HWND PageOfTab(const MainApp& app, int nTab);
void SetDlgInfo(HWND hWnd, const CBatteryArray* pBatteryArray);
// WM_CTLCOLORSTATIC of a dialog with the result message: that one on white.
INT_PTR WhiteResultMessage(const MainApp& app, WPARAM wParam, LPARAM lParam);
// The reserved refresh's start time, when one lies ahead.
bool GetReservationDisplay(HINSTANCE hInstance, SYSTEMTIME* pStart);

HWND CreateReadMeDialog(MainApp& app, HWND hParent);
HWND CreateChargeModeDialog(MainApp& app, HWND hParent, CBattery* pBattery);
void ShowAboutBox(HINSTANCE hInstance, HWND hParent);
// The battery history dialog, modal over hOwner.
void ShowHistoryDialog(MainApp& app, HWND hOwner);

// ---- Windows of the refresh run ----------------------------------------------

// The refresh and completion windows' classes (registered on first use).
BOOL RegisterRunWindowClass(HINSTANCE hInstance, LPCWSTR lpszClass, WNDPROC proc);
HWND CreateRefreshWindow(MainApp& app, UINT uBattNo);
HWND CreateCompleteWindow(MainApp& app);
HWND CreateConfirmDialog(MainApp& app, HWND hParent, CBattery* pBattery);
HWND CreateReservationDialog(MainApp& app, HWND hParent, CBatteryArray* pBatteries);

} // namespace zbmain
