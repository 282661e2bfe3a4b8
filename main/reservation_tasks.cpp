// The two task-scheduling implementations the reservation works through,
// both thin adapters over the task scheduling layer of task_scheduler.h.
#include "main/reservation.h"

#include "common/log.h"
#include "common/util.h"
#include "common/wrappers.h"
#include "ipc/contract.h"
#include "main/program_ids.h"
#include "main/task_scheduler.h"

#include <strsafe.h>

namespace zbmain {

namespace {

// Task Scheduler 1.0: no folders, one action per task. Each operation takes a
// scheduler of its own, as each checks the "Schedule" service first.
class TaskSchedulingXP : public TaskScheduling {
public:
    HRESULT Add(const ScheduledTask& task) override {
        CTaskSchedulerXP scheduler;
        return scheduler.TASKHLPER_Add(task.modulePath, task.name, task.author, task.description,
                                       &task.start, task.wakeToRun, task.arguments, task.user,
                                       task.password, FALSE);
    }
    HRESULT GetStartDay(LPCWSTR lpszName, SYSTEMTIME* pStart) override {
        CTaskSchedulerXP scheduler;
        return scheduler.TASKHLPER_GetStartDay(lpszName, pStart);
    }
    HRESULT GetActionArg(LPCWSTR lpszName, LPWSTR lpszArgs, size_t cchArgs) override {
        CTaskSchedulerXP scheduler;
        return scheduler.TASKHLPER_GetActionArg(lpszName, lpszArgs, cchArgs);
    }
    HRESULT Enable(LPCWSTR lpszName, BOOL bEnable) override {
        CTaskSchedulerXP scheduler;
        return scheduler.TASKHLPER_Enable(lpszName, bEnable);
    }
};

// Task Scheduler 2.0: the tasks live in the folder of string 142, and a
// task's action is found by the refresh tool's path.
class TaskScheduling2 : public TaskScheduling {
public:
    explicit TaskScheduling2(HINSTANCE hInstance) : m_hInstance(hInstance) {}

    HRESULT Add(const ScheduledTask& task) override {
        WCHAR folder[16] = L"";
        Folder(folder, ARRAYSIZE(folder));
        return TASKHLPER_Add(task.modulePath, task.name, folder, task.author, task.description,
                             &task.start, task.wakeToRun, task.arguments, task.user, task.password,
                             FALSE, nullptr, L"");
    }
    HRESULT GetStartDay(LPCWSTR lpszName, SYSTEMTIME* pStart) override {
        WCHAR folder[16] = L"";
        Folder(folder, ARRAYSIZE(folder));
        return TASKHLPER_GetStartDay(lpszName, folder, pStart);
    }
    HRESULT GetActionArg(LPCWSTR lpszName, LPWSTR lpszArgs, size_t cchArgs) override {
        WCHAR folder[16] = L"";
        WCHAR path[MAX_PATH] = L"";
        Folder(folder, ARRAYSIZE(folder));
        RefreshToolPath(m_hInstance, path, ARRAYSIZE(path));
        return TASKHLPER_GetActionArg(lpszName, folder, path, lpszArgs, cchArgs);
    }
    HRESULT Enable(LPCWSTR lpszName, BOOL bEnable) override {
        WCHAR folder[16] = L"";
        Folder(folder, ARRAYSIZE(folder));
        return TASKHLPER_Enable(lpszName, folder, bEnable);
    }

private:
    void Folder(LPWSTR lpszFolder, size_t cchFolder) const {
        lpszFolder[0] = L'\0';
        LoadStringW(m_hInstance, IDS_TASK_FOLDER, lpszFolder, static_cast<int>(cchFolder));
    }

    HINSTANCE m_hInstance;
};

} // namespace

std::unique_ptr<TaskScheduling> CreateTaskScheduling(HINSTANCE hInstance) {
    if (IsWindowsXP())
        return std::unique_ptr<TaskScheduling>(new TaskSchedulingXP());
    return std::unique_ptr<TaskScheduling>(new TaskScheduling2(hInstance));
}

void RefreshToolPath(HINSTANCE hInstance, LPWSTR lpszPath, size_t cchPath) {
    lpszPath[0] = L'\0';
    if (GetCurrentPath(lpszPath, cchPath) != 0) {
        WriteErrorLog(IDS_ERR_EXE_PATH, ERRLOG_CAPTION_ID, ERRLOG_FILE, GetLastError(), hInstance);
        lpszPath[0] = L'\0';
    }
    StringCchCatW(lpszPath, cchPath, REFRESH_EXE_NAME);
}

} // namespace zbmain
