// The refresh tool's hidden window (class "ZBREFRESH"). It owns a refresh
// from its first to its last moment: its creation prepares the first
// battery and the machine, its timers and power events drive the phase
// machine (phases.h) and turn unplugging, removal, unreadable status and
// sleep into aborts, and its destruction gives everything back.
//
// Contract with the start-up code:
//   RegisterRefreshWindowClass(hInstance, L"ZBREFRESH");
//   CreateRefreshWindow(hInstance, L"ZBREFRESH", title, &queue); // queue kept alive
// WM_CREATE starts the refresh. A missing or empty queue, or a charge mode
// that cannot be released, closes the window during creation, so
// CreateRefreshWindow then returns null. GetRefreshStartup() must be filled
// before the window is created (instance, "/sleep", "/resv"). The window
// owns its state and frees it after WM_NCDESTROY, once its clean-up has
// closed the pipes and joined their threads.
#pragma once

#include <windows.h>

#include "refresh/refresh_tool.h"

namespace zbrefresh {

// Registers the refresh window class: CS_HREDRAW | CS_VREDRAW, icons 107
// (large) and 129 (small), menu 109, arrow cursor, window background.
ATOM RegisterRefreshWindowClass(HINSTANCE hInstance, const wchar_t* className);

// Creates the hidden refresh window for the batteries of the queue.
HWND CreateRefreshWindow(HINSTANCE hInstance, LPCWSTR className, LPCWSTR title,
                         RefreshQueue* pQueue);

} // namespace zbrefresh
