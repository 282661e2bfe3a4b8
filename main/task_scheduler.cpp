// Task Scheduler 2.0 (Windows Vista and later).
//
// This file is the only one that includes taskschd.h. The interfaces are
// reached through CoCreateInstance alone, so a program built with them
// still loads on Windows XP, where these functions are never called (the
// caller's IsWindowsXP test picks CTaskSchedulerXP there). MinGW-w64's
// taskschd.h does not depend on _WIN32_WINNT; should a header that does be
// used, this file is where the Vista level would be declared.
#include <windows.h>

#include <initguid.h>

#include <taskschd.h>

#include "main/task_scheduler.h"
#include "main/task_scheduler_common.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/util.h"

#include <strsafe.h>

#include <stdio.h>

using Microsoft::WRL::ComPtr;

namespace {

// "%04d-%02d-%02dT%02d:%02d:%02d": local time, no zone.
void FormatBoundary(const SYSTEMTIME* pTime, LPWSTR lpszText, size_t cchText) {
    StringCchPrintfW(lpszText, cchText, L"%04d-%02d-%02dT%02d:%02d:%02d", pTime->wYear,
                     pTime->wMonth, pTime->wDay, pTime->wHour, pTime->wMinute, pTime->wSecond);
}

VARIANT TextVariant(BSTR text) {
    VARIANT v;
    VariantInit(&v);
    if (text) {
        v.vt = VT_BSTR;
        v.bstrVal = text;
    }
    return v;
}

// The BSTR owners below are made from literal or caller text; a failed
// allocation leaves a null BSTR, which the COM calls read as empty.
zb::UniqueBstr MakeBstr(LPCWSTR text) {
    return zb::UniqueBstr(SysAllocString(text));
}

HRESULT ConnectService(ComPtr<ITaskService>& service) {
    HRESULT hr =
        CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                         reinterpret_cast<void**>(service.GetAddressOf()));
    if (FAILED(hr))
        return LogFailedCall(L"ConnectService", __LINE__, L"CoCreateInstance", hr);
    VARIANT empty;
    VariantInit(&empty);
    hr = service->Connect(empty, empty, empty, empty);
    if (FAILED(hr))
        return LogFailedCall(L"ConnectService", __LINE__, L"ITaskService::Connect", hr);
    return S_OK;
}

HRESULT CreateFolder(ITaskService* pService, LPCWSTR lpstrTaskFolder, ComPtr<ITaskFolder>& folder) {
    ComPtr<ITaskFolder> root;
    zb::UniqueBstr rootPath = MakeBstr(L"\\");
    HRESULT hr = pService->GetFolder(rootPath.Get(), &root);
    if (FAILED(hr))
        return LogFailedCall(L"CreateFolder", __LINE__, L"ITaskService::GetFolder", hr);
    zb::UniqueBstr path = MakeBstr(lpstrTaskFolder);
    VARIANT sddl;
    VariantInit(&sddl);
    hr = root->CreateFolder(path.Get(), sddl, &folder);
    if (FAILED(hr))
        return LogFailedCall(L"CreateFolder", __LINE__, L"ITaskFolder::CreateFolder", hr);
    return S_OK;
}

// The folder, created when it cannot be opened.
HRESULT GetFolder(ITaskService* pService, LPCWSTR lpstrTaskFolder, ComPtr<ITaskFolder>& folder) {
    zb::UniqueBstr path = MakeBstr(lpstrTaskFolder);
    HRESULT hr = pService->GetFolder(path.Get(), &folder);
    if (SUCCEEDED(hr))
        return S_OK;
    LogFailedCall(L"GetFolder", __LINE__, L"ITaskService::GetFolder", hr);
    return CreateFolder(pService, lpstrTaskFolder, folder);
}

HRESULT FindRegTask(ITaskFolder* pFolder, LPCWSTR lpstrTaskName, ComPtr<IRegisteredTask>& task) {
    zb::UniqueBstr name = MakeBstr(lpstrTaskName);
    const HRESULT hr = pFolder->GetTask(name.Get(), &task);
    if (FAILED(hr))
        return LogFailedCall(L"FindRegTask", __LINE__, L"ITaskFolder::GetTask", hr);
    return S_OK;
}

// Offers each item of a trigger or action collection to match, which
// answers S_OK (found: stop), S_FALSE (go on) or a failure (stop with it).
// S_FALSE when no item matched.
template <typename Item, typename Collection, typename Match>
HRESULT FindItem(Collection* pCollection, LPCWSTR lpszFunction, Match match) {
    LONG count = 0;
    HRESULT hr = pCollection->get_Count(&count);
    if (FAILED(hr))
        return LogFailedCall(lpszFunction, __LINE__, L"get_Count", hr);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<Item> item;
        hr = pCollection->get_Item(i, &item);
        if (FAILED(hr))
            return LogFailedCall(lpszFunction, __LINE__, L"get_Item", hr);
        hr = match(item);
        if (hr != S_FALSE)
            return hr;
    }
    return S_FALSE;
}

// The trigger whose id is TASK_TRIGGER_ID; S_FALSE when there is none.
HRESULT FindTrigger(ITriggerCollection* pTriggers, ComPtr<ITrigger>& trigger) {
    return FindItem<ITrigger>(pTriggers, L"FindTrigger", [&](ComPtr<ITrigger>& item) {
        zb::UniqueBstr id;
        const HRESULT hr = item->get_Id(id.Put());
        if (FAILED(hr))
            return LogFailedCall(L"FindTrigger", __LINE__, L"ITrigger::get_Id", hr);
        if (!id || wcscmp(id.Get(), TASK_TRIGGER_ID) != 0)
            return S_FALSE;
        trigger = item;
        return S_OK;
    });
}

// The program action that starts lpstrModulePath; S_FALSE when there is none.
HRESULT FindExecAction(IActionCollection* pActions, LPCWSTR lpstrModulePath,
                       ComPtr<IExecAction>& action) {
    return FindItem<IAction>(pActions, L"FindExecAction", [&](ComPtr<IAction>& item) {
        ComPtr<IExecAction> exec;
        if (FAILED(item.As(&exec)))
            return S_FALSE;
        zb::UniqueBstr path;
        const HRESULT hr = exec->get_Path(path.Put());
        if (FAILED(hr))
            return LogFailedCall(L"FindExecAction", __LINE__, L"IExecAction::get_Path", hr);
        if (!path || _wcsicmp(path.Get(), lpstrModulePath) != 0)
            return S_FALSE;
        action = exec;
        return S_OK;
    });
}

// The registered task's definition, with the service and folder it came from.
struct TaskContext {
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> folder;
    ComPtr<IRegisteredTask> task;
    ComPtr<ITaskDefinition> definition;
};

HRESULT OpenTask(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder, TaskContext& ctx) {
    HRESULT hr = ConnectService(ctx.service);
    if (FAILED(hr))
        return hr;
    hr = GetFolder(ctx.service.Get(), lpstrTaskFolder, ctx.folder);
    if (FAILED(hr))
        return hr;
    hr = FindRegTask(ctx.folder.Get(), lpstrTaskName, ctx.task);
    if (FAILED(hr))
        return hr;
    hr = ctx.task->get_Definition(&ctx.definition);
    if (FAILED(hr))
        return LogFailedCall(L"OpenTask", __LINE__, L"IRegisteredTask::get_Definition", hr);
    return S_OK;
}

// The "Trigger1" trigger of a definition; E_FAIL when it has none.
HRESULT OpenTrigger(ITaskDefinition* pDefinition, ComPtr<ITrigger>& trigger) {
    ComPtr<ITriggerCollection> triggers;
    HRESULT hr = pDefinition->get_Triggers(&triggers);
    if (FAILED(hr))
        return LogFailedCall(L"OpenTrigger", __LINE__, L"ITaskDefinition::get_Triggers", hr);
    hr = FindTrigger(triggers.Get(), trigger);
    if (FAILED(hr))
        return hr;
    return hr == S_OK ? S_OK : E_FAIL;
}

// The registered task and its "Trigger1" trigger.
HRESULT OpenTaskTrigger(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder, TaskContext& ctx,
                        ComPtr<ITrigger>& trigger) {
    const HRESULT hr = OpenTask(lpstrTaskName, lpstrTaskFolder, ctx);
    if (FAILED(hr))
        return hr;
    return OpenTrigger(ctx.definition.Get(), trigger);
}

HRESULT Register(ITaskFolder* pFolder, LPCWSTR lpstrTaskName, ITaskDefinition* pDefinition,
                 LPCWSTR lpstrUserid, LPCWSTR lpstrPasswd, TASK_LOGON_TYPE logonType) {
    zb::UniqueBstr name = MakeBstr(lpstrTaskName);
    zb::UniqueBstr user = MakeBstr(lpstrUserid);
    zb::UniqueBstr password = MakeBstr(lpstrPasswd);
    zb::UniqueBstr sddl = MakeBstr(L"");
    ComPtr<IRegisteredTask> registered;
    const HRESULT hr = pFolder->RegisterTaskDefinition(
        name.Get(), pDefinition, TASK_CREATE_OR_UPDATE, TextVariant(user.Get()),
        TextVariant(password.Get()), logonType, TextVariant(sddl.Get()), &registered);
    if (FAILED(hr))
        return LogFailedCall(L"Register", __LINE__, L"ITaskFolder::RegisterTaskDefinition", hr);
    return S_OK;
}

HRESULT SetRegistrationInfo(ITaskDefinition* pDefinition, LPCWSTR lpstrAuthor,
                            LPCWSTR lpstrDescription) {
    ComPtr<IRegistrationInfo> info;
    HRESULT hr = pDefinition->get_RegistrationInfo(&info);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"get_RegistrationInfo", hr);
    zb::UniqueBstr description = MakeBstr(lpstrDescription);
    hr = info->put_Description(description.Get());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_Description", hr);
    zb::UniqueBstr author = MakeBstr(lpstrAuthor);
    hr = info->put_Author(author.Get());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_Author", hr);
    return S_OK;
}

HRESULT SetPrincipal(ITaskDefinition* pDefinition) {
    ComPtr<IPrincipal> principal;
    HRESULT hr = pDefinition->get_Principal(&principal);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"get_Principal", hr);
    hr = principal->put_LogonType(TASK_LOGON_INTERACTIVE_TOKEN);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_LogonType", hr);
    return S_OK;
}

HRESULT SetSettings(ITaskDefinition* pDefinition, BOOL bWakeToRun, BOOL bStartWhenAvailable,
                    LPCWSTR lpstrDelExpired) {
    ComPtr<ITaskSettings> settings;
    HRESULT hr = pDefinition->get_Settings(&settings);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"get_Settings", hr);
    hr = settings->put_WakeToRun(bWakeToRun ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_WakeToRun", hr);
    hr = settings->put_StartWhenAvailable(bStartWhenAvailable ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_StartWhenAvailable", hr);
    hr = settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_StopIfGoingOnBatteries", hr);
    if (lpstrDelExpired[0]) {
        zb::UniqueBstr expired = MakeBstr(lpstrDelExpired);
        hr = settings->put_DeleteExpiredTaskAfter(expired.Get());
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_DeleteExpiredTaskAfter", hr);
    }
    ComPtr<IIdleSettings> idle;
    hr = settings->get_IdleSettings(&idle);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"get_IdleSettings", hr);
    zb::UniqueBstr timeout = MakeBstr(TASK_IDLE_TIMEOUT);
    hr = idle->put_WaitTimeout(timeout.Get());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_WaitTimeout", hr);
    return S_OK;
}

HRESULT SetTrigger(ITaskDefinition* pDefinition, const SYSTEMTIME* lpSysTimeStart,
                   const SYSTEMTIME* lpSysTimeEnd) {
    ComPtr<ITriggerCollection> triggers;
    HRESULT hr = pDefinition->get_Triggers(&triggers);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"get_Triggers", hr);
    ComPtr<ITrigger> trigger;
    hr = FindTrigger(triggers.Get(), trigger);
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE) {
        hr = triggers->Create(TASK_TRIGGER_TIME, &trigger);
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"ITriggerCollection::Create", hr);
        zb::UniqueBstr id = MakeBstr(TASK_TRIGGER_ID);
        hr = trigger->put_Id(id.Get());
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"ITrigger::put_Id", hr);
    }
    wchar_t szTime[32];
    if (lpSysTimeEnd) {
        FormatBoundary(lpSysTimeEnd, szTime, ARRAYSIZE(szTime));
        zb::UniqueBstr end = MakeBstr(szTime);
        hr = trigger->put_EndBoundary(end.Get());
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_EndBoundary", hr);
    }
    FormatBoundary(lpSysTimeStart, szTime, ARRAYSIZE(szTime));
    zb::UniqueBstr start = MakeBstr(szTime);
    hr = trigger->put_StartBoundary(start.Get());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_StartBoundary", hr);
    hr = trigger->put_Enabled(VARIANT_TRUE);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_Enabled", hr);
    return S_OK;
}

HRESULT SetAction(ITaskDefinition* pDefinition, LPCWSTR lpstrModulePath, LPCWSTR lpstrArgument) {
    ComPtr<IActionCollection> actions;
    HRESULT hr = pDefinition->get_Actions(&actions);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"get_Actions", hr);
    ComPtr<IExecAction> exec;
    hr = FindExecAction(actions.Get(), lpstrModulePath, exec);
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE) {
        ComPtr<IAction> action;
        hr = actions->Create(TASK_ACTION_EXEC, &action);
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"IActionCollection::Create", hr);
        hr = action.As(&exec);
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"QueryInterface", hr);
    }
    zb::UniqueBstr path = MakeBstr(lpstrModulePath);
    hr = exec->put_Path(path.Get());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_Path", hr);
    zb::UniqueBstr arguments = MakeBstr(lpstrArgument);
    hr = exec->put_Arguments(arguments.Get());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_Arguments", hr);
    wchar_t szDir[MAX_PATH];
    GetProgramDirectory(szDir, ARRAYSIZE(szDir), L"TASKHLPER_Add");
    zb::UniqueBstr directory = MakeBstr(szDir);
    hr = exec->put_WorkingDirectory(directory.Get());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"put_WorkingDirectory", hr);
    return S_OK;
}

} // namespace

HRESULT TASKHLPER_Add(LPCWSTR lpstrModulePath, LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder,
                      LPCWSTR lpstrAuthor, LPCWSTR lpstrDescription,
                      const SYSTEMTIME* lpSysTimeStart, BOOL bWakeToRun, LPCWSTR lpstrArgument,
                      LPCWSTR lpstrUserid, LPCWSTR lpstrPasswd, BOOL bStartWhenAvailable,
                      const SYSTEMTIME* lpSysTimeEnd, LPCWSTR lpstrDelExpired) {
    if (IsAnyNullArg({{lpstrModulePath, L"lpstrModulePath"},
                      {lpstrTaskName, L"lpstrTaskName"},
                      {lpstrTaskFolder, L"lpstrTaskFolder"},
                      {lpstrAuthor, L"lpstrAuthor"},
                      {lpstrDescription, L"lpstrDescription"},
                      {lpSysTimeStart, L"lpSysTimeStart"},
                      {lpstrArgument, L"lpstrArgument"},
                      {lpstrUserid, L"lpstrUserid"},
                      {lpstrPasswd, L"lpstrPasswd"},
                      {lpstrDelExpired, L"lpstrDelExpired"}},
                     L"TASKHLPER_Add", __LINE__))
        return E_POINTER;

    ComPtr<ITaskService> service;
    HRESULT hr = ConnectService(service);
    if (FAILED(hr))
        return hr;
    ComPtr<ITaskFolder> folder;
    hr = GetFolder(service.Get(), lpstrTaskFolder, folder);
    if (FAILED(hr))
        return hr;

    // The registered task's definition, or a new one.
    ComPtr<ITaskDefinition> definition;
    ComPtr<IRegisteredTask> task;
    if (SUCCEEDED(FindRegTask(folder.Get(), lpstrTaskName, task))) {
        hr = task->get_Definition(&definition);
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"get_Definition", hr);
    } else {
        hr = service->NewTask(0, &definition);
        if (FAILED(hr))
            return LogFailedCall(L"TASKHLPER_Add", __LINE__, L"ITaskService::NewTask", hr);
    }

    hr = SetRegistrationInfo(definition.Get(), lpstrAuthor, lpstrDescription);
    if (FAILED(hr))
        return hr;
    hr = SetPrincipal(definition.Get());
    if (FAILED(hr))
        return hr;
    hr = SetSettings(definition.Get(), bWakeToRun, bStartWhenAvailable, lpstrDelExpired);
    if (FAILED(hr))
        return hr;
    hr = SetTrigger(definition.Get(), lpSysTimeStart, lpSysTimeEnd);
    if (FAILED(hr))
        return hr;
    hr = SetAction(definition.Get(), lpstrModulePath, lpstrArgument);
    if (FAILED(hr))
        return hr;

    // An administrator's task runs with the given password; everyone else's
    // runs only while the user is logged on.
    if (IsUserAdministrator() && lpstrUserid[0] && lpstrPasswd[0])
        return Register(folder.Get(), lpstrTaskName, definition.Get(), lpstrUserid, lpstrPasswd,
                        TASK_LOGON_PASSWORD);
    return Register(folder.Get(), lpstrTaskName, definition.Get(), L"", L"",
                    TASK_LOGON_INTERACTIVE_TOKEN);
}

HRESULT TASKHLPER_GetStartDay(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder,
                              SYSTEMTIME* lpSystimeStart) {
    if (IsAnyNullArg({{lpstrTaskName, L"lpstrTaskName"},
                      {lpstrTaskFolder, L"lpstrTaskFolder"},
                      {lpSystimeStart, L"lpSystimeStart"}},
                     L"TASKHLPER_GetStartDay", __LINE__))
        return E_POINTER;
    TaskContext ctx;
    ComPtr<ITrigger> trigger;
    HRESULT hr = OpenTaskTrigger(lpstrTaskName, lpstrTaskFolder, ctx, trigger);
    if (FAILED(hr))
        return hr;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    hr = trigger->get_Enabled(&enabled);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_GetStartDay", __LINE__, L"ITrigger::get_Enabled", hr);
    if (enabled == VARIANT_FALSE)
        return E_FAIL;
    zb::UniqueBstr start;
    hr = trigger->get_StartBoundary(start.Put());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_GetStartDay", __LINE__, L"get_StartBoundary", hr);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!start || swscanf(start.Get(), L"%04d-%02d-%02dT%02d:%02d:%02d", &year, &month, &day, &hour,
                          &minute, &second) != 6) {
        WriteLog(L"TASKHLPER_GetStartDay", __LINE__, L"Bad StartBoundary %s\n",
                 start ? start.Get() : L"");
        return E_FAIL;
    }
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    *lpSystimeStart = st;
    return S_OK;
}

HRESULT TASKHLPER_GetActionArg(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder,
                               LPCWSTR lpstrModulePath, LPWSTR lpstrArg, size_t cchArg) {
    if (IsAnyNullArg({{lpstrTaskName, L"lpstrTaskName"},
                      {lpstrTaskFolder, L"lpstrTaskFolder"},
                      {lpstrModulePath, L"lpstrModulePath"},
                      {lpstrArg, L"lpstrArg"}},
                     L"TASKHLPER_GetActionArg", __LINE__))
        return E_POINTER;
    if (cchArg == 0)
        return E_INVALIDARG;
    TaskContext ctx;
    HRESULT hr = OpenTask(lpstrTaskName, lpstrTaskFolder, ctx);
    if (FAILED(hr))
        return hr;
    ComPtr<IActionCollection> actions;
    hr = ctx.definition->get_Actions(&actions);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_GetActionArg", __LINE__, L"get_Actions", hr);
    ComPtr<IExecAction> exec;
    hr = FindExecAction(actions.Get(), lpstrModulePath, exec);
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE)
        return E_FAIL;
    zb::UniqueBstr arguments;
    hr = exec->get_Arguments(arguments.Put());
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_GetActionArg", __LINE__, L"get_Arguments", hr);
    StringCchCopyW(lpstrArg, cchArg, arguments ? arguments.Get() : L"");
    return S_OK;
}

HRESULT TASKHLPER_Enable(LPCWSTR lpstrTaskName, LPCWSTR lpstrTaskFolder, BOOL bEnable) {
    if (IsAnyNullArg({{lpstrTaskName, L"lpstrTaskName"}, {lpstrTaskFolder, L"lpstrTaskFolder"}},
                     L"TASKHLPER_Enable", __LINE__))
        return E_POINTER;
    TaskContext ctx;
    ComPtr<ITrigger> trigger;
    HRESULT hr = OpenTaskTrigger(lpstrTaskName, lpstrTaskFolder, ctx, trigger);
    if (FAILED(hr))
        return hr;
    hr = trigger->put_Enabled(bEnable ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(hr))
        return LogFailedCall(L"TASKHLPER_Enable", __LINE__, L"ITrigger::put_Enabled", hr);
    return Register(ctx.folder.Get(), lpstrTaskName, ctx.definition.Get(), L"", L"",
                    TASK_LOGON_INTERACTIVE_TOKEN);
}
