// Time marks of a program's start-up, for the start-up bench.
//
// Marking costs one QueryPerformanceCounter call and a store into a small
// fixed array; nothing is written anywhere unless the environment variable
// ZB_STARTUP_TRACE names a file, which the bench sets for the programs it
// starts. The marks are raw performance-counter readings, which on Windows
// (and Wine) are one clock for every process, so the bench can set them
// against its own reading taken just before it started the program.
#pragma once

#include <windows.h>

namespace zb {

class StartupTrace {
public:
    static constexpr size_t kMaxMarks = 32;

    // Notes the time now under name, a string literal. Marks beyond the
    // array's room are dropped.
    void Mark(LPCWSTR name);

    // When ZB_STARTUP_TRACE names a file, writes the counter's frequency
    // and every mark to it, one "name<TAB>count" a line, then the line
    // "end". Written under a temporary name and then renamed, so that a
    // reader never sees half of it.
    void WriteIfAsked() const;

    size_t Count() const { return m_count; }

private:
    struct Entry {
        LPCWSTR name;
        LONGLONG counter;
    };
    Entry m_marks[kMaxMarks] = {};
    size_t m_count = 0;
};

} // namespace zb
