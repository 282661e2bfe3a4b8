// The Task Scheduler 2.0 side of the task scheduling layer, against the
// simulated Task Scheduler: what it stores, how it updates, and its reads.
#include "tasks/tasks_test_support.h"

#include "common/reg.h"
#include "common/settings.h"
#include "main/task_scheduler.h"

#include <taskschd.h>
#include <wrl/client.h>

namespace {

using namespace taskstest;

const wchar_t kTask[] = L"zbtest Battery Refresh";
const wchar_t kModule[] = L"C:\\Program Files\\VADOvur\\zbRefresh.exe";

HRESULT Add(const SYSTEMTIME& start, const wchar_t* args, const wchar_t* password = L"") {
    return TASKHLPER_Add(kModule, kTask, L"\\", L"author", L"runs the refresh", &start, TRUE, args,
                         L"user", password, FALSE, nullptr, L"");
}

std::wstring Arguments() {
    wchar_t args[64] = {};
    const HRESULT hr = TASKHLPER_GetActionArg(kTask, L"\\", kModule, args, ARRAYSIZE(args));
    return SUCCEEDED(hr) ? args : L"<failed>";
}

using TaskLayer = TaskTest;

TEST_F(TaskLayer, AddStoresTheTaskAsWindowsDoes) {
    ASSERT_EQ(S_OK, Add(Time(2031, 5, 6, 7, 8), L" /resv /b2"));
    bool bom = false;
    const std::wstring xml = TaskFile(kTask, &bom);
    EXPECT_TRUE(bom);
    EXPECT_EQ(0u, xml.find(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"));
    for (const wchar_t* part :
         {L"<TimeTrigger id=\"Trigger1\">", L"<StartBoundary>2031-05-06T07:08:00</StartBoundary>",
          L"<WakeToRun>true</WakeToRun>", L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
          L"<WaitTimeout>PT5M</WaitTimeout>", L"<LogonType>InteractiveToken</LogonType>",
          L"<Command>C:\\Program Files\\VADOvur\\zbRefresh.exe</Command>",
          L"<Arguments> /resv /b2</Arguments>", L"<Author>author</Author>",
          L"<Description>runs the refresh</Description>"})
        EXPECT_NE(std::wstring::npos, xml.find(part)) << part;
    EXPECT_NE(std::wstring::npos,
              xml.find(L"<WorkingDirectory>" + testenv::BinDir() + L"</WorkingDirectory>"));

    SYSTEMTIME start = {};
    ASSERT_EQ(S_OK, TASKHLPER_GetStartDay(kTask, L"\\", &start));
    EXPECT_EQ(2031, start.wYear);
    EXPECT_EQ(6, start.wDay);
    EXPECT_EQ(8, start.wMinute);
    EXPECT_EQ(L" /resv /b2", Arguments());

    // An administrator's password makes it a password task for that user
    // (the password itself is never stored).
    ASSERT_EQ(S_OK, Add(Time(2031, 5, 6, 7, 8), L" /resv", L"secret"));
    const std::wstring withPassword = TaskFile(kTask);
    EXPECT_NE(std::wstring::npos, withPassword.find(L"<LogonType>Password</LogonType>"));
    EXPECT_NE(std::wstring::npos, withPassword.find(L"<UserId>user</UserId>"));
    EXPECT_EQ(std::wstring::npos, withPassword.find(L"secret"));
}

TEST_F(TaskLayer, AddUpdatesInPlaceAndDisableKeepsTheTask) {
    ASSERT_EQ(S_OK, Add(Time(2031, 5, 6, 7, 8), L" /resv"));
    ASSERT_EQ(S_OK, TASKHLPER_Enable(kTask, L"\\", FALSE));
    const std::wstring disabled = TaskFile(kTask);
    EXPECT_NE(std::wstring::npos, disabled.find(L"<Enabled>false</Enabled>"));
    SYSTEMTIME start = {};
    EXPECT_EQ(E_FAIL, TASKHLPER_GetStartDay(kTask, L"\\", &start));
    EXPECT_EQ(L" /resv", Arguments());

    ASSERT_EQ(S_OK, Add(Time(2031, 6, 1, 22, 30), L"/sleep /resv /b1"));
    const std::wstring updated = TaskFile(kTask);
    EXPECT_EQ(1u, Count(updated, L"<TimeTrigger"));
    EXPECT_EQ(1u, Count(updated, L"<Exec>"));
    ASSERT_EQ(S_OK, TASKHLPER_GetStartDay(kTask, L"\\", &start));
    EXPECT_EQ(6, start.wMonth);
    EXPECT_EQ(22, start.wHour);
    EXPECT_EQ(L"/sleep /resv /b1", Arguments());
}

TEST_F(TaskLayer, ATriggerMadeElsewhereGetsATrigger1Beside) {
    const std::wstring xml =
        MarkerTaskXml(MarkerPath(L"zbtest_unused.txt"),
                      L"<TimeTrigger id=\"Other\"><StartBoundary>2030-01-01T00:00:00"
                      L"</StartBoundary></TimeTrigger>",
                      false);
    Microsoft::WRL::ComPtr<ITaskService> service;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                               reinterpret_cast<void**>(service.GetAddressOf())));
    VARIANT none;
    VariantInit(&none);
    ASSERT_EQ(S_OK, service->Connect(none, none, none, none));
    Microsoft::WRL::ComPtr<ITaskFolder> root;
    BSTR rootPath = SysAllocString(L"\\");
    ASSERT_EQ(S_OK, service->GetFolder(rootPath, &root));
    SysFreeString(rootPath);
    BSTR name = SysAllocString(kTask);
    BSTR text = SysAllocString(xml.c_str());
    const HRESULT hr = root->RegisterTask(name, text, TASK_CREATE, none, none,
                                          TASK_LOGON_INTERACTIVE_TOKEN, none, nullptr);
    SysFreeString(name);
    SysFreeString(text);
    ASSERT_EQ(S_OK, hr);

    ASSERT_EQ(S_OK, Add(Time(2031, 5, 6, 7, 8), L" /resv"));
    const std::wstring stored = TaskFile(kTask);
    EXPECT_EQ(2u, Count(stored, L"<TimeTrigger"));
    EXPECT_EQ(1u, Count(stored, L"id=\"Trigger1\""));
    EXPECT_EQ(1u, Count(stored, L"id=\"Other\""));
    // The cmd.exe action stays; the refresh tool's action is added.
    EXPECT_EQ(2u, Count(stored, L"<Exec>"));
}

TEST_F(TaskLayer, NullArgumentsAreLoggedAndRefused) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"Log", 1));
    const SYSTEMTIME start = Time(2031, 5, 6, 7, 8);
    wchar_t args[8];
    EXPECT_EQ(E_POINTER, TASKHLPER_Add(kModule, nullptr, L"\\", L"a", L"d", &start, TRUE, L"", L"u",
                                       L"", FALSE, nullptr, L""));
    EXPECT_EQ(E_POINTER, TASKHLPER_Add(kModule, kTask, L"\\", L"a", L"d", &start, TRUE, L"", L"u",
                                       L"", FALSE, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, TASKHLPER_GetStartDay(kTask, L"\\", nullptr));
    EXPECT_EQ(E_POINTER, TASKHLPER_GetActionArg(kTask, nullptr, kModule, args, ARRAYSIZE(args)));
    EXPECT_EQ(E_POINTER, TASKHLPER_Enable(nullptr, L"\\", TRUE));
    EXPECT_EQ(E_POINTER, GetSchedulerName(nullptr, IDS_TASKNAME_REFRESH, nullptr, 0));
    EXPECT_FALSE(TaskFileExists(kTask));
    const std::wstring log = testenv::ReadLogText(L"vadovur_refresh.log");
    for (const wchar_t* line :
         {L"[TASKHLPER_Add]", L"lpstrTaskName is NULL.", L"lpstrDelExpired is NULL.",
          L"lpSystimeStart is NULL.", L"lpstrTaskFolder is NULL.", L"lpszTaskName is NULL."})
        EXPECT_NE(std::wstring::npos, log.find(line)) << line;
}

TEST_F(TaskLayer, SchedulerNamesCarryUserAndDomain) {
    wchar_t user[256] = {};
    DWORD size = ARRAYSIZE(user);
    ASSERT_TRUE(GetUserNameW(user, &size));
    wchar_t name[256] = {};
    ASSERT_EQ(S_OK, GetSchedulerName(GetModuleHandleW(nullptr), IDS_TASKNAME_WAKEUP, name,
                                     ARRAYSIZE(name)));
    const std::wstring text = name;
    const std::wstring head = L"Battery Refresh Wake-up " + std::wstring(user) + L" ";
    EXPECT_EQ(0u, text.find(head)) << text;
    EXPECT_GT(text.size(), head.size()) << "the domain part is missing";
    EXPECT_EQ(std::wstring::npos, text.find(L'\\'));
}

} // namespace
