// The refresh tool's hidden window (class "ZBREFRESH"). It owns a refresh
// from its first to its last moment: its creation prepares the first
// battery and the machine, its timers and power events drive the phase
// machine (phases.h) and turn unplugging, removal, unreadable status and
// sleep into aborts, and its destruction gives everything back.
//
// Contract with the start-up code:
//   RegisterRefreshWindowClass(hInstance, L"ZBREFRESH");
//   CreateWindowExW(0, L"ZBREFRESH", title, WS_OVERLAPPEDWINDOW, ...,
//                   hInstance, &queue);   // lpParam: RefreshQueue*, kept alive
// WM_CREATE starts the refresh. A missing or empty queue, or a charge mode
// that cannot be released, closes the window during creation, so
// CreateWindowExW then returns null. GetRefreshStartup() must be filled
// before the window is created (instance, "/sleep", "/resv").
#pragma once

#include <windows.h>

// Registers the refresh window class: CS_HREDRAW | CS_VREDRAW, icons 107
// (large) and 129 (small), menu 109, arrow cursor, window background.
ATOM RegisterRefreshWindowClass(HINSTANCE hInstance, const wchar_t* className);

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
