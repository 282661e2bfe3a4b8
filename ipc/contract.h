// What the suite's programs agree on between them: program files, window
// classes, named mutexes, pipe names and the window-message values that one
// program sends another. Each name is defined here only; a program's own
// names stay with the program. The values are fixed: installed programs of
// one version find each other by them.
//
//   zbMain.exe     the main screen
//   zbRefresh.exe  the refresh tool, started by the main screen and by the
//                  reservation's scheduled tasks
//   zbSched.exe    the resident scheduler, started by a scheduled task
//   instzb(w).exe  the install helpers, which at removal end a running
//                  refresh and the scheduler and put the charge modes back
#pragma once

#include <windows.h>

// ---------------------------------------------------------------------------
// Programs, started from the folder of the program that starts them

constexpr wchar_t MAIN_EXE_NAME[] = L"zbMain.exe";
constexpr wchar_t REFRESH_EXE_NAME[] = L"zbRefresh.exe";

// Top-level window classes that other programs look for with FindWindowW.
constexpr wchar_t MAIN_WINDOW_CLASS[] = L"zbMain";
constexpr wchar_t SCHED_WINDOW_CLASS[] = L"zbSched";

// ---------------------------------------------------------------------------
// Named mutexes

// Every refreshing zbRefresh.exe holds this mutex for its whole life, from
// before its pipes exist until after they are gone.
constexpr wchar_t REFRESH_TOOL_MUTEX_NAME[] = L"Global\\vadovurMUTEX3";

// A refreshing zbRefresh.exe runs, in this session or (access denied) another.
bool RefreshToolMutexExists();
// A refresh tool runs: it holds its mutex, or somebody serves pipe 2 (a
// tool of another session whose mutex this one cannot see).
bool IsRefreshToolRunning();

// ---------------------------------------------------------------------------
// Pipes (ipc/pipe.h has the records and who serves which)

constexpr wchar_t PIPE1_NAME[] = L"\\\\.\\pipe\\vadovur_pipe1";
constexpr wchar_t PIPE2_NAME[] = L"\\\\.\\pipe\\vadovur_pipe2";
constexpr wchar_t PIPE3_NAME[] = L"\\\\.\\pipe\\vadovur_pipe3";

// ---------------------------------------------------------------------------
// Message codes

// Pipe records. A receiver hands a message to its window under the same
// number, so these are window messages as well. WM_CLOSE (0x10) travels on
// pipe 2 as the platform's own code.
constexpr UINT WM_USER_REFMODE = 0x8301;      // battid, wparam = refresh mode
constexpr UINT WM_USER_REFQUERY = 0x8302;     // scheduler's progress query
constexpr UINT WM_USER_REFPROGRESS = 0x8303;  // battid, wparam = percent 0-100
constexpr UINT WM_USER_REFERROR = 0x8304;     // battid, wparam = status code
constexpr UINT WM_USER_REFPOWERPLAN = 0x8305; // the power plan was changed
constexpr UINT WM_USER_GETUSERNAME = 0x8306;  // answered with PIPE_USERNAME_BYTES
constexpr UINT WM_USER_RUNMAINDLG = 0x8501;   // wparam = RUNMAINDLG_* flags

// Start switches of zbMain carried by WM_USER_RUNMAINDLG.
constexpr UINT64 RUNMAINDLG_SLEEP = 1; // "/sleep"
constexpr UINT64 RUNMAINDLG_ICON = 2;  // "/icon"
constexpr UINT64 RUNMAINDLG_COMP = 4;  // "/comp"

// Window message to the scheduler's window: every battery back to full
// charging. Older install helpers sent it at removal; the scheduler still
// takes it from whoever can reach its window.
constexpr UINT WM_USER_RESETCHARGEMODE = 0x8603;
