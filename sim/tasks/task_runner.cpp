#include "sim/tasks/task_runner.h"

#include "sim/machine.h"
#include "sim/tasks/task_model.h"
#include "sim/tasks/task_store.h"

namespace simtasks {
namespace {

std::wstring NowText() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatBoundary(now);
}

bool MachineAsleep() {
    sim::Machine m;
    return sim::ReadMachine(&m) == 0 && m.suspended;
}

// A start more than a minute before the clock's look was missed.
bool IsMissed(const SYSTEMTIME& when, const SYSTEMTIME& at) {
    FILETIME whenFile = {};
    FILETIME atFile = {};
    if (!SystemTimeToFileTime(&when, &whenFile) || !SystemTimeToFileTime(&at, &atFile))
        return true;
    const ULONGLONG kMinute = 60ULL * 10000000ULL;
    const ULONGLONG whenValue =
        (static_cast<ULONGLONG>(whenFile.dwHighDateTime) << 32) | whenFile.dwLowDateTime;
    const ULONGLONG atValue =
        (static_cast<ULONGLONG>(atFile.dwHighDateTime) << 32) | atFile.dwLowDateTime;
    return atValue >= whenValue + kMinute;
}

DueRun Run(const std::wstring& path, const std::wstring& boundary, DueRun::Outcome success) {
    const DWORD rc = FireTask(path);
    return DueRun{path, boundary, rc ? DueRun::Failed : success, rc};
}

} // namespace

DWORD FireTask(const std::wstring& taskPath, DWORD* processId) {
    XmlPtr task;
    ExecInfo exec;
    {
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return rc;
        if (DWORD rc = ReadTask(taskPath, &task))
            return rc;
        if (!FirstExec(*task, &exec) || exec.command.empty())
            return ERROR_NOT_SUPPORTED;
        SetLastRunTime(taskPath, NowText());
    }
    return RunExec(exec, processId);
}

DWORD RunHeldTasks(std::vector<DueRun>* runs) {
    if (MachineAsleep())
        return 0;
    std::vector<std::wstring> paths;
    {
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return rc;
        if (DWORD rc = ListAllTasks(&paths))
            return rc;
    }
    for (const std::wstring& path : paths) {
        if (!IsHeld(path))
            continue;
        SetHeld(path, false);
        runs->push_back(Run(path, FiredBoundary(path), DueRun::Ran));
    }
    return 0;
}

DWORD RunDueTasks(const SYSTEMTIME& at, std::vector<DueRun>* runs) {
    if (DWORD rc = RunHeldTasks(runs))
        return rc;
    struct Due {
        std::wstring path, boundary;
        bool wake;
        bool missed;        // not started at its time
        bool whenAvailable; // StartWhenAvailable
    };
    std::vector<Due> due;
    {
        StoreLock lock;
        if (DWORD rc = lock.Error())
            return rc;
        std::vector<std::wstring> paths;
        if (DWORD rc = ListAllTasks(&paths))
            return rc;
        for (const std::wstring& path : paths) {
            XmlPtr task;
            SYSTEMTIME when;
            std::wstring boundary;
            if (ReadTask(path, &task) || task->name != L"Task" ||
                !NextRun(*task, FiredBoundary(path), &when, &boundary) ||
                CompareTimes(when, at) > 0)
                continue;
            // Marked as fired at once: a second "due" does not run it again,
            // whatever happens to this run.
            SetFiredBoundary(path, boundary);
            due.push_back(Due{path, boundary, TaskWakeToRun(*task), IsMissed(when, at),
                              TaskStartWhenAvailable(*task)});
        }
    }
    for (const Due& d : due) {
        const bool asleep = MachineAsleep();
        if ((d.missed || (asleep && !d.wake)) && !d.whenAvailable) {
            runs->push_back(DueRun{d.path, d.boundary, DueRun::Skipped, 0});
        } else if (!asleep) {
            runs->push_back(Run(d.path, d.boundary, DueRun::Ran));
        } else if (d.wake && !d.missed) {
            if (DWORD rc = SimResume()) {
                runs->push_back(DueRun{d.path, d.boundary, DueRun::Failed, rc});
                continue;
            }
            runs->push_back(Run(d.path, d.boundary, DueRun::Woke));
        } else {
            SetHeld(d.path, true);
            runs->push_back(DueRun{d.path, d.boundary, DueRun::Held, 0});
        }
    }
    // A wake task later in the list may have woken the notebook for the
    // ones held before it.
    return RunHeldTasks(runs);
}

} // namespace simtasks
