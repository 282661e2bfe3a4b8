// The suite's HTML help: "VADOvur.chm" in the program directory.
#pragma once

#include <windows.h>

// Shows topic dwTopicId of the help file, owned by hWndOwner (the programs
// pass the desktop window), and brings the help window to the foreground.
// Returns the help window; null when the file is missing (nothing happens)
// or HTML Help showed nothing.
HWND OpenHelp(HWND hWndOwner, DWORD dwTopicId);

// HH_INITIALIZE once at start-up; the cookie goes to UninitializeHelp at exit.
DWORD_PTR InitializeHelp();
void UninitializeHelp(DWORD_PTR dwCookie);
