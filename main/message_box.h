// The main screen's one message box and its sleep countdown.
//
// From Windows Vista on both are task dialogs (through the comctl32
// wrapper, since Windows XP has none); on Windows XP the message box is a
// classic one and the countdown a dialog of the program's own
// (IDD_SLEEP_COUNTDOWN), with the same texts and behaviour.
#pragma once

#include <windows.h>

namespace zbmain {

// Shows lpstrMsg under lpstrCaption. uType holds the buttons (MB_OK,
// MB_OKCANCEL, MB_YESNO) and the icon (MB_ICONERROR, MB_ICONQUESTION,
// MB_ICONWARNING, MB_ICONINFORMATION). A button text replaces the buttons
// by one button with that text, which answers 0 (IDOK on Windows XP).
// Returns the id of the button pressed; 0 for a null text or caption.
int TaskDlgMessageBox(HWND hWnd, LPCWSTR lpstrMsg, LPCWSTR lpstrCaption, UINT uType,
                      LPCWSTR lpstrButton = nullptr);

// The same with string resources of the owner's module (of the program
// when there is no owner).
int TaskDlgMessageBox(HWND hWnd, UINT uMsgId, UINT uCaptionId, UINT uType);
int TaskDlgMessageBox(HWND hWnd, UINT uMsgId, UINT uCaptionId, UINT uType, UINT uButtonId);

// Counts "PCSleep" seconds down and then puts the computer to sleep, unless
// the user presses the Abort button first. S_OK when the countdown ran (to
// either end), else the error of the dialog.
HRESULT SleepTaskDlg(HWND hWnd);

// The countdown's seconds left after dwElapsedMs of dwTotalSeconds, never
// below 0.
int SleepSecondsLeft(DWORD dwTotalSeconds, DWORD dwElapsedMs);

} // namespace zbmain
