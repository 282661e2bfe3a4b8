// The command-line map every program builds at start.
#include "common/util.h"

#include "common/handles.h"
#include "common/log.h"

#include <shellapi.h>

#include <new>

namespace {

bool IsSwitch(LPCWSTR arg) {
    return arg[0] == L'/';
}

// Failing to store one entry loses that entry only; parsing goes on.
void StoreEntry(CommandLineMap& mapArgs, LPCWSTR key, LPCWSTR value) {
    try {
        mapArgs[key] = value;
    } catch (const std::bad_alloc&) {
        OutputDebugStringW(L"Fail to ParseCommandLine().");
    }
}

} // namespace

BOOL ParseCommandLineText(LPCWSTR lpszCommandLine, CommandLineMap& mapArgs) {
    if (!lpszCommandLine) {
        LogNullArg(L"ParseCommandLine", __LINE__, L"lpszCommandLine");
        return FALSE;
    }
    int argc = 0;
    zb::UniqueLocalMemory<LPWSTR*> argv(CommandLineToArgvW(lpszCommandLine, &argc));
    if (!argv) {
        LogApiFailure(L"ParseCommandLine", __LINE__, L"CommandLineToArgvW", GetLastError());
        return FALSE;
    }
    LPWSTR* args = argv.Get();
    for (int i = 0; i < argc; ++i) {
        // "/b1 /nomain": both are switches. "/import file.cfg": the file is
        // the value of "/import", not an argument of its own.
        if (IsSwitch(args[i]) && i + 1 < argc && !IsSwitch(args[i + 1])) {
            StoreEntry(mapArgs, args[i], args[i + 1]);
            ++i;
        } else {
            StoreEntry(mapArgs, args[i], L"");
        }
    }
    return TRUE;
}

BOOL ParseCommandLine(CommandLineMap& mapArgs) {
    return ParseCommandLineText(GetCommandLineW(), mapArgs);
}

bool HasSwitch(const CommandLineMap& mapArgs, LPCWSTR lpszSwitch) {
    return mapArgs.find(lpszSwitch) != mapArgs.end();
}
