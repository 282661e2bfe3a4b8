// Drives a real program's windows from a test as a person would: start it,
// wait for its windows, read what they show, click, switch tabs, type, and
// answer its message boxes. Every wait is bounded.
//
// Everything goes through window messages across processes: texts by
// WM_GETTEXT/WM_SETTEXT, states by the window's style, buttons by BM_CLICK
// (posted, so that a message box the click opens does not hold the test).
#pragma once

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace ui {

constexpr DWORD kWaitMs = 20000;
// A program's first window: its start-up is the slowest step on a loaded machine.
constexpr DWORD kStartWaitMs = 60000;

// A program of the bin folder with its standard error read by the test.
class Program {
public:
    Program(const wchar_t* exeName, const std::wstring& args);
    ~Program(); // ends the program if it still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return process_.IsValid(); }
    DWORD Id() const { return id_; }
    bool Running() const;
    // The exit code, or -1 when it did not end within timeoutMs.
    int Wait(DWORD timeoutMs = kWaitMs);
    // What it wrote to standard error so far (UTF-8 read as such).
    std::wstring StdErr();

private:
    zb::UniqueHandle process_;
    zb::UniqueHandle stderrRead_;
    std::string stderrBytes_;
    DWORD id_ = 0;
};

// A top-level window of the process (any process for pid 0) with that class
// and/or title (null matches any); visible ones only when asked.
HWND FindTopWindow(DWORD pid, const wchar_t* className, const wchar_t* title,
                   bool visibleOnly = false, HWND hExcept = nullptr);
HWND WaitForWindow(DWORD pid, const wchar_t* className, const wchar_t* title,
                   DWORD timeoutMs = kWaitMs, bool visibleOnly = true);
// Waits until no such window is left.
bool WaitForNoWindow(DWORD pid, const wchar_t* className, const wchar_t* title,
                     DWORD timeoutMs = kWaitMs);

// A control by id anywhere below hParent (pages inside tab controls too).
HWND Control(HWND hParent, int id);

std::wstring Text(HWND hWnd);
std::wstring Text(HWND hParent, int id);
bool IsEnabled(HWND hParent, int id);
bool IsVisible(HWND hParent, int id);
bool IsChecked(HWND hParent, int id);

// Presses a button.
void Click(HWND hParent, int id);
// Clicks a text control that reports clicks (SS_NOTIFY).
void ClickText(HWND hParent, int id);
// Selects a tab the way a click on it does: the owner gets TCN_SELCHANGE.
bool SelectTab(HWND hParent, int tabId, int index);
int TabCount(HWND hParent, int tabId);
void TypeText(HWND hParent, int id, const std::wstring& text);
// A date-time picker: sets the value a person would pick, reads its range.
bool SetDateTime(HWND hParent, int id, const SYSTEMTIME& time);
bool DateTimeRange(HWND hParent, int id, SYSTEMTIME* pMin, SYSTEMTIME* pMax);

// A message box or task dialog of the process: the text it shows (all its
// texts joined by newlines), and answering it with a button id (task
// dialogs' own buttons count too).
// hExcept: a dialog of the same caption that is not the box.
HWND WaitForMessageBox(DWORD pid, const wchar_t* caption, DWORD timeoutMs = kWaitMs,
                       HWND hExcept = nullptr);
std::wstring MessageBoxText(HWND hBox);
void Answer(HWND hBox, int buttonId);

// Waits until the window has handled everything sent to it before.
bool Settle(HWND hWnd);

} // namespace ui
