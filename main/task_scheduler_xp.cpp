// Task Scheduler 1.0 (Windows XP): CTaskSchedulerXP.
#include <windows.h>

#include <initguid.h>

#include <mstask.h>

#include "main/task_scheduler.h"
#include "main/task_scheduler_common.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/util.h"

#include <strsafe.h>

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kScheduleService[] = L"Schedule";
// The idle deadline every task of this layer gets, in minutes.
constexpr WORD kIdleDeadlineMinutes = 5;

// The "Schedule" service must run before Task Scheduler 1.0 can be used:
// started here when it is not (an administrator may start it).
HRESULT EnsureScheduleService() {
    zb::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        LogApiFailure(L"CTaskSchedulerXP::Connect", __LINE__, L"OpenSCManager", GetLastError());
        return E_FAIL;
    }
    const DWORD access = SERVICE_QUERY_STATUS | (IsUserAdministrator() ? SERVICE_START : 0);
    zb::UniqueServiceHandle service(OpenServiceW(manager.Get(), kScheduleService, access));
    if (!service) {
        LogApiFailure(L"CTaskSchedulerXP::Connect", __LINE__, L"OpenService", GetLastError());
        return E_FAIL;
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.Get(), &status)) {
        LogApiFailure(L"CTaskSchedulerXP::Connect", __LINE__, L"QueryServiceStatus",
                      GetLastError());
        return E_FAIL;
    }
    if (status.dwCurrentState == SERVICE_RUNNING)
        return S_OK;
    if (!StartServiceW(service.Get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        LogApiFailure(L"CTaskSchedulerXP::Connect", __LINE__, L"StartService", GetLastError());
        return E_FAIL;
    }
    return S_OK;
}

} // namespace

HRESULT CTaskSchedulerXP::Connect() {
    const HRESULT hr = EnsureScheduleService();
    if (FAILED(hr))
        return hr;
    if (m_pScheduler)
        return S_OK;
    const HRESULT hrCreate =
        CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                         reinterpret_cast<void**>(m_pScheduler.ReleaseAndGetAddressOf()));
    if (FAILED(hrCreate))
        return LogFailedCall(L"CTaskSchedulerXP::Connect", __LINE__, L"CoCreateInstance", hrCreate);
    return S_OK;
}

HRESULT CTaskSchedulerXP::GetTask(LPCWSTR lpstrTaskName, ComPtr<ITask>& task) {
    const HRESULT hr = m_pScheduler->Activate(
        lpstrTaskName, IID_ITask, reinterpret_cast<IUnknown**>(task.ReleaseAndGetAddressOf()));
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::GetTask", __LINE__, L"ITaskScheduler::Activate",
                             hr);
    return S_OK;
}

HRESULT CTaskSchedulerXP::OpenTask(LPCWSTR lpstrTaskName, ComPtr<ITask>& task) {
    const HRESULT hr = Connect();
    if (FAILED(hr))
        return hr;
    return GetTask(lpstrTaskName, task);
}

HRESULT CTaskSchedulerXP::SetNewTask(LPCWSTR lpstrTaskName, ComPtr<ITask>& task) {
    const HRESULT hr =
        m_pScheduler->NewWorkItem(lpstrTaskName, CLSID_CTask, IID_ITask,
                                  reinterpret_cast<IUnknown**>(task.ReleaseAndGetAddressOf()));
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::SetNewTask", __LINE__,
                             L"ITaskScheduler::NewWorkItem", hr);
    return S_OK;
}

HRESULT CTaskSchedulerXP::GetTaskTrriger(ITask* pTask, ComPtr<ITaskTrigger>& trigger) {
    WORD count = 0;
    HRESULT hr = pTask->GetTriggerCount(&count);
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::GetTaskTrriger", __LINE__,
                             L"ITask::GetTriggerCount", hr);
    if (count == 0)
        return E_FAIL;
    hr = pTask->GetTrigger(0, trigger.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::GetTaskTrriger", __LINE__, L"ITask::GetTrigger",
                             hr);
    return S_OK;
}

HRESULT CTaskSchedulerXP::SetNewTaskTrriger(ITask* pTask, ComPtr<ITaskTrigger>& trigger) {
    WORD index = 0;
    const HRESULT hr = pTask->CreateTrigger(&index, trigger.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::SetNewTaskTrriger", __LINE__,
                             L"ITask::CreateTrigger", hr);
    return S_OK;
}

HRESULT CTaskSchedulerXP::SaveTask(ITask* pTask) {
    ComPtr<IPersistFile> file;
    HRESULT hr =
        pTask->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.GetAddressOf()));
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::SaveTask", __LINE__, L"QueryInterface", hr);
    hr = file->Save(nullptr, TRUE);
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::SaveTask", __LINE__, L"IPersistFile::Save", hr);
    return S_OK;
}

HRESULT CTaskSchedulerXP::TASKHLPER_Add(LPCWSTR lpstrModulePath, LPCWSTR lpstrTaskName,
                                        LPCWSTR lpstrAuthor, LPCWSTR lpstrDescription,
                                        const SYSTEMTIME* lpSysTimeStart, BOOL bWakeToRun,
                                        LPCWSTR lpstrArgument, LPCWSTR lpstrUserid,
                                        LPCWSTR lpstrPasswd, BOOL bIdleOnly) {
    if (IsAnyNullArg({{lpstrModulePath, L"lpstrModulePath"},
                      {lpstrTaskName, L"lpstrTaskName"},
                      {lpstrAuthor, L"lpstrAuthor"},
                      {lpstrDescription, L"lpstrDescription"},
                      {lpSysTimeStart, L"lpSysTimeStart"},
                      {lpstrArgument, L"lpstrArgument"},
                      {lpstrUserid, L"lpstrUserid"},
                      {lpstrPasswd, L"lpstrPasswd"}},
                     L"CTaskSchedulerXP::TASKHLPER_Add", __LINE__))
        return E_POINTER;
    HRESULT hr = Connect();
    if (FAILED(hr))
        return hr;
    ComPtr<ITask> task;
    if (FAILED(GetTask(lpstrTaskName, task))) {
        hr = SetNewTask(lpstrTaskName, task);
        if (FAILED(hr))
            return hr;
    }

    const wchar_t* const szFunction = L"CTaskSchedulerXP::TASKHLPER_Add";
    hr = task->SetComment(lpstrDescription);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetComment", hr);
    hr = task->SetCreator(lpstrAuthor);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetCreator", hr);
    hr = task->SetApplicationName(lpstrModulePath);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetApplicationName", hr);
    wchar_t szDir[MAX_PATH];
    GetProgramDirectory(szDir, ARRAYSIZE(szDir), szFunction);
    hr = task->SetWorkingDirectory(szDir);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetWorkingDirectory", hr);
    hr = task->SetParameters(lpstrArgument);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetParameters", hr);

    ComPtr<ITaskTrigger> trigger;
    if (FAILED(GetTaskTrriger(task.Get(), trigger))) {
        hr = SetNewTaskTrriger(task.Get(), trigger);
        if (FAILED(hr))
            return hr;
    }
    TASK_TRIGGER setting = {};
    hr = trigger->GetTrigger(&setting);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITaskTrigger::GetTrigger", hr);
    setting.cbTriggerSize = sizeof(TASK_TRIGGER);
    setting.TriggerType = TASK_TIME_TRIGGER_ONCE;
    setting.wBeginYear = lpSysTimeStart->wYear;
    setting.wBeginMonth = lpSysTimeStart->wMonth;
    setting.wBeginDay = lpSysTimeStart->wDay;
    setting.wStartHour = lpSysTimeStart->wHour;
    setting.wStartMinute = lpSysTimeStart->wMinute;
    hr = trigger->SetTrigger(&setting);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITaskTrigger::SetTrigger", hr);

    WORD wIdleMinutes = 0;
    WORD wDeadlineMinutes = 0;
    hr = task->GetIdleWait(&wIdleMinutes, &wDeadlineMinutes);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::GetIdleWait", hr);
    // The idle deadline only matters to idle-only tasks; a scheduler that
    // keeps no idle waits (Wine's answers E_NOTIMPL) still gets the task.
    hr = task->SetIdleWait(wIdleMinutes, kIdleDeadlineMinutes);
    if (hr == E_NOTIMPL)
        LogFailedCall(szFunction, __LINE__, L"ITask::SetIdleWait", hr);
    else if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetIdleWait", hr);
    // The flags are replaced as a whole, which also clears TASK_FLAG_DISABLED.
    DWORD dwFlags = TASK_FLAG_DONT_START_IF_ON_BATTERIES;
    if (bWakeToRun)
        dwFlags |= TASK_FLAG_SYSTEM_REQUIRED;
    if (bIdleOnly)
        dwFlags |= TASK_FLAG_START_ONLY_IF_IDLE;
    hr = task->SetFlags(dwFlags);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetFlags", hr);

    // Task Scheduler 1.0 runs a task only with its account's password.
    if (!lpstrUserid[0] || !lpstrPasswd[0]) {
        WriteLog(szFunction, __LINE__, L"No account information: the task is not saved.\n");
        return E_FAIL;
    }
    hr = task->SetAccountInformation(lpstrUserid, lpstrPasswd);
    if (FAILED(hr))
        return LogFailedCall(szFunction, __LINE__, L"ITask::SetAccountInformation", hr);
    return SaveTask(task.Get());
}

HRESULT CTaskSchedulerXP::TASKHLPER_GetStartDay(LPCWSTR lpstrTaskName, SYSTEMTIME* lpSystimeStart) {
    if (IsAnyNullArg({{lpstrTaskName, L"lpstrTaskName"}, {lpSystimeStart, L"lpSystimeStart"}},
                     L"CTaskSchedulerXP::TASKHLPER_GetStartDay", __LINE__))
        return E_POINTER;
    ComPtr<ITask> task;
    HRESULT hr = OpenTask(lpstrTaskName, task);
    if (FAILED(hr))
        return hr;
    DWORD dwFlags = 0;
    hr = task->GetFlags(&dwFlags);
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::TASKHLPER_GetStartDay", __LINE__,
                             L"ITask::GetFlags", hr);
    if (dwFlags & TASK_FLAG_DISABLED)
        return E_FAIL;
    hr = task->GetNextRunTime(lpSystimeStart);
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::TASKHLPER_GetStartDay", __LINE__,
                             L"ITask::GetNextRunTime", hr);
    // A success code other than S_OK (no valid trigger, event trigger)
    // comes with an all-zero time: the task has no start time to show.
    if (hr != S_OK) {
        WriteLog(L"CTaskSchedulerXP::TASKHLPER_GetStartDay", __LINE__,
                 L"No next run time (0x%08x).\n", static_cast<unsigned>(hr));
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CTaskSchedulerXP::TASKHLPER_GetActionArg(LPCWSTR lpstrTaskName, LPWSTR lpstrArg,
                                                 size_t cchArg) {
    if (IsAnyNullArg({{lpstrTaskName, L"lpstrTaskName"}, {lpstrArg, L"lpstrArg"}},
                     L"CTaskSchedulerXP::TASKHLPER_GetActionArg", __LINE__))
        return E_POINTER;
    if (cchArg == 0)
        return E_INVALIDARG;
    ComPtr<ITask> task;
    HRESULT hr = OpenTask(lpstrTaskName, task);
    if (FAILED(hr))
        return hr;
    zb::UniqueCoTaskText parameters;
    hr = task->GetParameters(parameters.Put());
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::TASKHLPER_GetActionArg", __LINE__,
                             L"ITask::GetParameters", hr);
    StringCchCopyW(lpstrArg, cchArg, parameters ? parameters.Get() : L"");
    return S_OK;
}

HRESULT CTaskSchedulerXP::TASKHLPER_Enable(LPCWSTR lpstrTaskName, BOOL bEnable) {
    if (IsNullArg(lpstrTaskName, L"CTaskSchedulerXP::TASKHLPER_Enable", __LINE__, L"lpstrTaskName"))
        return E_POINTER;
    ComPtr<ITask> task;
    HRESULT hr = OpenTask(lpstrTaskName, task);
    if (FAILED(hr))
        return hr;
    DWORD dwFlags = 0;
    hr = task->GetFlags(&dwFlags);
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::TASKHLPER_Enable", __LINE__, L"ITask::GetFlags",
                             hr);
    dwFlags = bEnable ? (dwFlags & ~TASK_FLAG_DISABLED) : (dwFlags | TASK_FLAG_DISABLED);
    hr = task->SetFlags(dwFlags);
    if (FAILED(hr))
        return LogFailedCall(L"CTaskSchedulerXP::TASKHLPER_Enable", __LINE__, L"ITask::SetFlags",
                             hr);
    return SaveTask(task.Get());
}
