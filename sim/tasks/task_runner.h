// The simulated service's clock: running a task's action now, and running
// what is due at a given moment on the simulated notebook.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace simtasks {

// Runs a task's program action now and records the run. Win32 code
// (ERROR_FILE_NOT_FOUND for an unknown task, ERROR_NOT_SUPPORTED for a task
// without a program action).
DWORD FireTask(const std::wstring& taskPath, DWORD* processId = nullptr);

struct DueRun {
    std::wstring path;
    std::wstring boundary; // the start boundary that fell due
    enum Outcome { Ran, Woke, Held, Failed } outcome;
    DWORD error; // for Failed
};

// Every enabled task whose time trigger falls at or before "at" and has
// not fired yet. On an awake notebook it runs; on a sleeping one a task
// with the wake flag wakes the notebook first (SimResume), one without it
// is held until the notebook is awake again. Tasks held earlier run first
// when the notebook is awake.
DWORD RunDueTasks(const SYSTEMTIME& at, std::vector<DueRun>* runs);

// Runs the held tasks when the notebook is awake (after "simctl resume").
DWORD RunHeldTasks(std::vector<DueRun>* runs);

} // namespace simtasks
