// The reservation's rules without its dialog: the service against a task
// scheduler that only records what it is asked.
#include "main/reservation.h"

#include "common/reg.h"
#include "common/settings.h"
#include "main/program_ids.h"
#include "main/task_scheduler.h"
#include "support/suite_env.h"

#include <gtest/gtest.h>
#include <strsafe.h>

#include <map>
#include <string>
#include <vector>

using namespace zbmain;

namespace {

struct RecordedTask {
    std::wstring modulePath;
    SYSTEMTIME start;
    BOOL wakeToRun;
    std::wstring arguments;
    std::wstring user;
    std::wstring password;
    BOOL enabled;
};

class RecordingTasks : public TaskScheduling {
public:
    HRESULT Add(const ScheduledTask& task) override {
        added.push_back(task.name);
        if (FAILED(addResult))
            return addResult;
        tasks[task.name] = {task.modulePath, task.start, task.wakeToRun, task.arguments, task.user,
                            task.password,   TRUE};
        return S_OK;
    }
    HRESULT GetStartDay(LPCWSTR lpszName, SYSTEMTIME* pStart) override {
        auto it = tasks.find(lpszName);
        if (it == tasks.end() || !it->second.enabled)
            return E_FAIL;
        *pStart = it->second.start;
        return S_OK;
    }
    HRESULT GetActionArg(LPCWSTR lpszName, LPWSTR lpszArgs, size_t cchArgs) override {
        auto it = tasks.find(lpszName);
        if (it == tasks.end())
            return E_FAIL;
        return StringCchCopyW(lpszArgs, cchArgs, it->second.arguments.c_str());
    }
    HRESULT Enable(LPCWSTR lpszName, BOOL bEnable) override {
        auto it = tasks.find(lpszName);
        if (it == tasks.end())
            return E_FAIL;
        it->second.enabled = bEnable;
        return S_OK;
    }

    HRESULT addResult = S_OK;
    std::vector<std::wstring> added;
    std::map<std::wstring, RecordedTask> tasks;
};

std::wstring TaskName(UINT uStringId) {
    WCHAR name[256] = L"";
    GetSchedulerName(GetModuleHandleW(nullptr), uStringId, name, ARRAYSIZE(name));
    return name;
}

void ExpectMinute(WORD y, WORD mo, WORD d, WORD h, WORD mi, const SYSTEMTIME& t) {
    EXPECT_EQ(y, t.wYear);
    EXPECT_EQ(mo, t.wMonth);
    EXPECT_EQ(d, t.wDay);
    EXPECT_EQ(h, t.wHour);
    EXPECT_EQ(mi, t.wMinute);
}

using ReservationServiceTest = testenv::SuiteStateTest;

} // namespace

// Battery 2 with sleep at five past midnight on the first of March: the
// wake-up task "SleepDelay" minutes earlier falls on the last of February;
// cancelling keeps both tasks, disabled, and forgets the stored reservation.
TEST_F(ReservationServiceTest, AddsBothTasksStoresAndCancels) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"SleepDelay", 10));
    RecordingTasks tasks;
    ReservationService service(tasks, GetModuleHandleW(nullptr));
    const std::wstring refresh = TaskName(IDS_TASK_REFRESH);
    const std::wstring wake = TaskName(IDS_TASK_WAKEUP);

    const SYSTEMTIME start = {2027, 3, 0, 1, 0, 5, 0, 0};
    const ReservationRequest request = {start, false, true, true, L"me", L"secret"};
    ASSERT_EQ(S_OK, service.Add(request));

    ASSERT_EQ((std::vector<std::wstring>{refresh, wake}), tasks.added);
    const RecordedTask& r = tasks.tasks[refresh];
    const RecordedTask& w = tasks.tasks[wake];
    EXPECT_EQ(L"/sleep /resv /b2", r.arguments);
    EXPECT_EQ(L"/delay", w.arguments);
    ExpectMinute(2027, 3, 1, 0, 5, r.start);
    ExpectMinute(2027, 2, 28, 23, 55, w.start);
    for (const RecordedTask* t : {&r, &w}) {
        EXPECT_TRUE(t->wakeToRun);
        EXPECT_EQ(L"me", t->user);
        EXPECT_EQ(L"secret", t->password);
        EXPECT_NE(std::wstring::npos, t->modulePath.find(L"\\zbRefresh.exe"));
    }
    DWORD stored = 0;
    EXPECT_EQ(S_OK, GetRegRefreshResevationBatt(&stored));
    EXPECT_EQ(DWORD(RESERVATION_BATT2), stored);
    SYSTEMTIME storedStart = {};
    ASSERT_EQ(S_OK, GetRegRefreshResevation(RESERVATION_BATT2, &storedStart));
    ExpectMinute(2027, 3, 1, 0, 5, storedStart);
    WCHAR args[64] = L"";
    service.ReadArguments(args, ARRAYSIZE(args));
    EXPECT_STREQ(L"/sleep /resv /b2", args);
    SYSTEMTIME read = {};
    ASSERT_EQ(S_OK, service.ReadStart(&read));
    ExpectMinute(2027, 3, 1, 0, 5, read);

    EXPECT_EQ(S_OK, service.Cancel());
    EXPECT_FALSE(tasks.tasks[refresh].enabled);
    EXPECT_FALSE(tasks.tasks[wake].enabled);
    EXPECT_TRUE(FAILED(GetRegRefreshResevationBatt(&stored)));
    EXPECT_TRUE(FAILED(service.ReadStart(&read)));
}

TEST_F(ReservationServiceTest, AFailedRefreshTaskLeavesNoWakeUpAndNothingStored) {
    RecordingTasks tasks;
    tasks.addResult = E_ACCESSDENIED;
    ReservationService service(tasks, GetModuleHandleW(nullptr));
    const ReservationRequest request = {{2027, 3, 0, 1, 0, 5, 0, 0}, true, true, false, L"me", L""};
    EXPECT_EQ(E_ACCESSDENIED, service.Add(request));
    EXPECT_EQ(1u, tasks.added.size());
    DWORD stored = 0;
    EXPECT_TRUE(FAILED(GetRegRefreshResevationBatt(&stored)));
}
