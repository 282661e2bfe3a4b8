#include "common/startup_trace.h"

#include <strsafe.h>

#include "common/handles.h"
#include "common/log.h"

namespace zb {

void StartupTrace::Mark(LPCWSTR name) {
    if (m_count >= kMaxMarks)
        return;
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    m_marks[m_count].name = name;
    m_marks[m_count].counter = now.QuadPart;
    ++m_count;
}

void StartupTrace::WriteIfAsked() const {
    WCHAR path[MAX_PATH] = L"";
    const DWORD cch = GetEnvironmentVariableW(L"ZB_STARTUP_TRACE", path, ARRAYSIZE(path));
    if (cch == 0 || cch >= ARRAYSIZE(path))
        return;
    WCHAR temporary[MAX_PATH + 4] = L"";
    if (FAILED(StringCchPrintfW(temporary, ARRAYSIZE(temporary), L"%s.tmp", path)))
        return;

    // The names are ASCII: 8-bit text, which the bench reads line by line.
    char text[kMaxMarks * 96 + 64] = "";
    LARGE_INTEGER frequency = {};
    QueryPerformanceFrequency(&frequency);
    StringCchPrintfA(text, ARRAYSIZE(text), "frequency\t%lld\n", frequency.QuadPart);
    for (size_t i = 0; i < m_count; ++i) {
        char line[96] = "";
        StringCchPrintfA(line, ARRAYSIZE(line), "%ls\t%lld\n", m_marks[i].name, m_marks[i].counter);
        StringCchCatA(text, ARRAYSIZE(text), line);
    }
    StringCchCatA(text, ARRAYSIZE(text), "end\n");

    {
        UniqueHandle file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            LogApiFailure(L"StartupTrace::WriteIfAsked", __LINE__, L"CreateFile", GetLastError());
            return;
        }
        size_t length = 0;
        StringCchLengthA(text, ARRAYSIZE(text), &length);
        DWORD written = 0;
        if (!WriteFile(file.Get(), text, static_cast<DWORD>(length), &written, nullptr)) {
            LogApiFailure(L"StartupTrace::WriteIfAsked", __LINE__, L"WriteFile", GetLastError());
            return;
        }
    }
    if (!MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING))
        LogApiFailure(L"StartupTrace::WriteIfAsked", __LINE__, L"MoveFileEx", GetLastError());
}

} // namespace zb
