// The task scheduling layer: the one-time tasks of a reserved refresh (the
// refresh itself and the wake-up before it), created, read, enabled and
// disabled through the Windows Task Scheduler.
//
// Two implementations with the same operations: CTaskSchedulerXP for
// Windows XP (Task Scheduler 1.0) and the free TASKHLPER_* functions for
// every later Windows (Task Scheduler 2.0). The caller chooses with
// IsWindowsXP(). COM must already be initialised on the calling thread.
//
// Every operation returns an HRESULT: S_OK, the failing call's error, or
// E_POINTER after writing "<name> is NULL." to the trace log for a null
// argument.
#pragma once

#include <windows.h>

#include <mstask.h>
#include <wrl/client.h>

// String resources that name the tasks (the program's resources).
constexpr UINT IDS_TASKNAME_REFRESH = 106; // "Battery Refresh"
constexpr UINT IDS_TASKFOLDER = 142;       // "\" (Task Scheduler 2.0 only)
constexpr UINT IDS_TASKNAME_WAKEUP = 181;  // "Battery Refresh Wake-up"

// The trigger id and idle wait this layer gives its tasks.
extern const wchar_t TASK_TRIGGER_ID[];   // "Trigger1"
extern const wchar_t TASK_IDLE_TIMEOUT[]; // "PT5M"

// "<string> <user> <domain>": the string resource uStringId of hInstance, the
// user name and the domain part of the SAM-compatible name (empty when it
// cannot be read), cut to a 256-character buffer. E_POINTER for a null buffer,
// E_FAIL when the string or the user name cannot be read.
HRESULT GetSchedulerName(HINSTANCE hInstance, UINT uStringId, LPWSTR lpszTaskName,
                         size_t cchTaskName);

// ---- Task Scheduler 2.0 (Windows Vista and later) ---------------------------------

// Creates the task, or updates it in place: its "Trigger1" time trigger
// (created when missing) starts at lpSysTimeStart (local time) and is
// enabled again; its program action for lpstrModulePath (created when
// missing) gets the arguments and the program directory as working
// directory. lpSysTimeEnd may be null (no end); lpstrDelExpired may be
// empty (expired tasks are kept).
HRESULT TASKHLPER_Add(LPCWSTR lpstrModulePath, LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder,
                      LPCWSTR lpstrAuthor, LPCWSTR lpstrDescription,
                      const SYSTEMTIME* lpSysTimeStart, BOOL bWakeToRun, LPCWSTR lpstrArgument,
                      LPCWSTR lpstrUserid, LPCWSTR lpstrPasswd, BOOL bStartWhenAvailable,
                      const SYSTEMTIME* lpSysTimeEnd, LPCWSTR lpstrDelExpired);

// The start boundary of the enabled "Trigger1"; E_FAIL when it is disabled.
HRESULT TASKHLPER_GetStartDay(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder,
                              SYSTEMTIME* lpSystimeStart);

// The arguments of the task's program action for lpstrModulePath,
// truncated to cchArg characters.
HRESULT TASKHLPER_GetActionArg(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder,
                               LPCWSTR lpstrModulePath, LPWSTR lpstrArg, size_t cchArg);

// Enables or disables "Trigger1"; the task stays registered.
HRESULT TASKHLPER_Enable(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder, BOOL bEnable);

// ---- Task Scheduler 1.0 (Windows XP) ----------------------------------------------

class CTaskSchedulerXP {
public:
    CTaskSchedulerXP() = default;
    CTaskSchedulerXP(const CTaskSchedulerXP&) = delete;
    CTaskSchedulerXP& operator=(const CTaskSchedulerXP&) = delete;

    // Creates or updates the task (trigger 0: once at lpSysTimeStart) and
    // saves it with the account; without a user id and password nothing is
    // saved and the result is E_FAIL.
    HRESULT TASKHLPER_Add(LPCWSTR lpstrModulePath, LPCWSTR lpstrTaskName, LPCWSTR lpstrAuthor,
                          LPCWSTR lpstrDescription, const SYSTEMTIME* lpSysTimeStart,
                          BOOL bWakeToRun, LPCWSTR lpstrArgument, LPCWSTR lpstrUserid,
                          LPCWSTR lpstrPasswd, BOOL bIdleOnly);
    // The next run time; E_FAIL for a disabled task and for one the
    // scheduler gives no next run time.
    HRESULT TASKHLPER_GetStartDay(LPCWSTR lpstrTaskName, SYSTEMTIME* lpSystimeStart);
    HRESULT TASKHLPER_GetActionArg(LPCWSTR lpstrTaskName, LPWSTR lpstrArg, size_t cchArg);
    HRESULT TASKHLPER_Enable(LPCWSTR lpstrTaskName, BOOL bEnable);

private:
    // Starts the "Schedule" service when it is not running, then connects.
    HRESULT Connect();
    HRESULT GetTask(LPCWSTR lpstrTaskName, Microsoft::WRL::ComPtr<ITask>& task);
    // Connect, then GetTask.
    HRESULT OpenTask(LPCWSTR lpstrTaskName, Microsoft::WRL::ComPtr<ITask>& task);
    HRESULT SetNewTask(LPCWSTR lpstrTaskName, Microsoft::WRL::ComPtr<ITask>& task);
    HRESULT GetTaskTrriger(ITask* pTask, Microsoft::WRL::ComPtr<ITaskTrigger>& trigger);
    HRESULT SetNewTaskTrriger(ITask* pTask, Microsoft::WRL::ComPtr<ITaskTrigger>& trigger);
    HRESULT SaveTask(ITask* pTask);

    Microsoft::WRL::ComPtr<ITaskScheduler> m_pScheduler;
};
