// Holds a file open exclusively, as another program of the suite does while
// it appends a log line, so that tests can see how a writer copes.
//
//   log_file_holder <ready event> <release event> <max ms> <path>
//
// Opens (or creates) <path> with share mode 0, signals <ready event>, then
// keeps the file until <release event> is signalled or <max ms> pass.
#include <windows.h>

#include <stdlib.h>

#include "common/handles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 5)
        return 2;
    zb::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]));
    zb::UniqueHandle release(OpenEventW(SYNCHRONIZE, FALSE, argv[2]));
    const DWORD maxMs = static_cast<DWORD>(wcstoul(argv[3], nullptr, 10));
    if (!ready || !release)
        return 3;
    zb::UniqueHandle file(CreateFileW(argv[4], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 4;
    SetEvent(ready.Get());
    WaitForSingleObject(release.Get(), maxMs);
    return 0;
}
