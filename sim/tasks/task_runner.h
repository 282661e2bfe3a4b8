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
    // Skipped: the start was missed and the task may not start late.
    enum Outcome { Ran, Woke, Held, Skipped, Failed } outcome;
    DWORD error; // for Failed
};

// Every enabled task whose time trigger falls at or before "at" and has
// not fired yet. The clock looks once a minute: a start within the minute
// up to "at" is on time; an earlier one was missed (the notebook was off,
// or the service not running, when it fell due). On time, on an awake
// notebook, the task runs; on a sleeping one a task with the wake flag
// wakes the notebook first (SimResume). A missed start, or one that falls
// while the notebook sleeps without the wake flag, runs late only when the
// task's StartWhenAvailable is set, as on Windows: it runs now (or waits
// for the notebook to wake); otherwise it is skipped, so a one-time trigger
// never runs. Tasks held earlier run first when the notebook is awake.
DWORD RunDueTasks(const SYSTEMTIME& at, std::vector<DueRun>* runs);

// Runs the held tasks when the notebook is awake (after "simctl resume").
DWORD RunHeldTasks(std::vector<DueRun>* runs);

} // namespace simtasks
