// Failure reports of the simulation. The simulated machine stands in for
// hardware and a closed library, so it keeps out of the suite's own logs:
// a failed system call goes to the debugger output (WINEDEBUG=+debugstr
// shows it) and its code is handed back to the caller.
#pragma once

#include <windows.h>

#include <strsafe.h>

namespace sim {

inline DWORD LogFailure(const wchar_t* api, DWORD code) {
    wchar_t line[160];
    StringCchPrintfW(line, ARRAYSIZE(line), L"zbsim: Fail to %s(). ErrorCode: %08x.\n", api, code);
    OutputDebugStringW(line);
    return code;
}

} // namespace sim
