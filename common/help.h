// The suite's HTML help: "VADOvur.chm" in the program directory.
#pragma once

#include <windows.h>

// Shows topic dwTopicId of the help file, owned by hWndOwner (the programs
// pass the desktop window), and brings the help window to the foreground.
// Returns the help window; null when the file is missing (nothing happens)
// or HTML Help showed nothing.
HWND OpenHelp(HWND hWndOwner, DWORD dwTopicId);

// The HTML Help library (hhctrl.ocx, and with it the common controls) is
// loaded when the first topic is opened, not at start-up: most runs open
// none, and a resident program would hold it all day. InitializeHelp asks
// for HH_INITIALIZE at that load; UninitializeHelp, at exit, ends what was
// started and frees the library.
void InitializeHelp();
void UninitializeHelp();
