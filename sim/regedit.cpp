// regedit.exe for the test prefix: records its command line (as the
// simulated schtasks does) and imports a file given with "/s" through the
// system's "reg import", which Wine has. Wine's own regedit.exe sits in the
// Windows folder; this one goes to system32, which WinExec searches first.
//
//   regedit /s FILE     import FILE silently; exit code of reg import
// Anything else is recorded and refused with exit code 1.
#include "common/handles.h"
#include "sim/text_io.h"

#include <shellapi.h>
#include <strsafe.h>

namespace {

constexpr DWORD kImportWaitMs = 30000;

int ImportSilently(const wchar_t* file) {
    wchar_t system[MAX_PATH] = {};
    wchar_t command[2 * MAX_PATH] = {};
    if (!GetSystemDirectoryW(system, ARRAYSIZE(system)) ||
        FAILED(StringCchPrintfW(command, ARRAYSIZE(command), L"\"%s\\reg.exe\" import \"%s\"",
                                system, file)))
        return 1;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
        return 1;
    zb::UniqueHandle process(pi.hProcess);
    zb::UniqueHandle thread(pi.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.Get(), kImportWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        return 1;
    }
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    sim::RecordCommandLine(L"regedit");
    int argc = 0;
    zb::UniqueLocalMemory<LPWSTR*> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    if (!argv || argc != 3 || lstrcmpiW(argv.Get()[1], L"/s") != 0)
        return 1;
    return ImportSilently(argv.Get()[2]);
}
