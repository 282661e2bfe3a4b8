// Helpers the two task scheduler implementations share.
#pragma once

#include <windows.h>

// Logs "Fail to <api>(). ErrorCode: %08x." and hands hr back.
HRESULT LogFailedCall(LPCWSTR lpszFunction, int nLine, LPCWSTR lpszApi, HRESULT hr);

// The running program's directory with its trailing backslash; empty (and
// logged) when it cannot be read.
void GetProgramDirectory(LPWSTR lpszDir, size_t cchDir, LPCWSTR lpszFunction);
