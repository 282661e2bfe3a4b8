// CTaskSchedulerXP for real, through Wine's Task Scheduler 1.0 (mstask).
//
// The layer picks Task Scheduler 1.0 on Windows XP only, so these tests run
// in a copy of this program that Wine presents as Windows XP x64 (5.2):
// OnWindowsXp.* skip themselves elsewhere, and TaskSchedulerXp.RunsAsXp
// starts the copy and requires that they ran and passed.
#include "tasks/tasks_test_support.h"

#include "main/task_scheduler.h"

#include <mstask.h>
#include <wrl/client.h>

#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using namespace taskstest;

const wchar_t kTask[] = L"zbtest Battery Refresh";
const wchar_t kCopy[] = L"test_tasks_xp.exe";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\test_tasks_xp.exe";

bool RunningAsXp() {
    OSVERSIONINFOEXW info = {sizeof(info)};
    info.dwMajorVersion = 5;
    return VerifyVersionInfoW(&info, VER_MAJORVERSION,
                              VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL)) != FALSE;
}

TEST(TaskSchedulerXp, RunsAsXp) {
    const std::wstring copy = testenv::BinDir() + kCopy;
    const std::wstring report = testenv::BinDir() + L"test_tasks_xp.xml";
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE)) << GetLastError();
    DeleteFileW(report.c_str());
    const wchar_t version[] = L"winxp64";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kAppDefaults, L"Version", REG_SZ,
                                             version, sizeof(version)));
    const int rc = testenv::RunProgram(
        kCopy, L"--gtest_filter=OnWindowsXp.* --gtest_output=xml:" + report, 120000);
    RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
    const std::vector<unsigned char> xml = testenv::ReadFileBytes(report);
    const std::string text(xml.begin(), xml.end());
    DeleteFileW(copy.c_str());
    DeleteFileW(report.c_str());
    EXPECT_EQ(0, rc) << "the Windows XP run failed (its output is above)";
    EXPECT_NE(std::string::npos, text.find("result=\"completed\"")) << "no test ran";
    EXPECT_EQ(std::string::npos, text.find("result=\"skipped\"")) << "a test skipped itself";
}

class OnWindowsXp : public TaskTest {
protected:
    void SetUp() override {
        if (!RunningAsXp())
            GTEST_SKIP() << "runs in the Windows XP copy (TaskSchedulerXp.RunsAsXp)";
        TaskTest::SetUp();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ITaskScheduler,
                                         reinterpret_cast<void**>(scheduler_.GetAddressOf())));
        scheduler_->Delete(kTask);
    }
    void TearDown() override {
        if (scheduler_)
            scheduler_->Delete(kTask);
        scheduler_.Reset();
        TaskTest::TearDown();
    }

    HRESULT Add(BOOL wake, BOOL idleOnly, const wchar_t* password = L"secret") {
        const SYSTEMTIME start = Time(2031, 5, 6, 7, 8);
        // Task Scheduler 1.0 keeps an application path only when the file
        // exists: the refresh tool beside this program, as the suite has it.
        const std::wstring module = testenv::BinDir() + L"zbRefresh.exe";
        return layer_.TASKHLPER_Add(module.c_str(), kTask, L"author", L"runs the refresh", &start,
                                    wake, L" /resv /b1", L"user", password, idleOnly);
    }

    // The stored task as mstask reads it back.
    ComPtr<ITask> Stored() {
        ComPtr<ITask> task;
        scheduler_->Activate(kTask, IID_ITask, reinterpret_cast<IUnknown**>(task.GetAddressOf()));
        return task;
    }
    DWORD Flags() {
        DWORD flags = 0;
        ComPtr<ITask> task = Stored();
        if (task)
            task->GetFlags(&flags);
        return flags;
    }

    CTaskSchedulerXP layer_;
    ComPtr<ITaskScheduler> scheduler_;
};

TEST_F(OnWindowsXp, AddWithoutPasswordSavesNothing) {
    EXPECT_EQ(E_FAIL, Add(TRUE, FALSE, L""));
    EXPECT_FALSE(Stored());
}

TEST_F(OnWindowsXp, AddSavesTriggerFlagsAndActionAndUpdatesInPlace) {
    ASSERT_EQ(S_OK, Add(TRUE, FALSE));
    ComPtr<ITask> task = Stored();
    ASSERT_TRUE(task);
    EXPECT_EQ(static_cast<DWORD>(TASK_FLAG_DONT_START_IF_ON_BATTERIES | TASK_FLAG_SYSTEM_REQUIRED),
              Flags());
    WORD triggers = 0;
    ASSERT_EQ(S_OK, task->GetTriggerCount(&triggers));
    EXPECT_EQ(1, triggers);
    ComPtr<ITaskTrigger> trigger;
    ASSERT_EQ(S_OK, task->GetTrigger(0, &trigger));
    TASK_TRIGGER setting = {};
    ASSERT_EQ(S_OK, trigger->GetTrigger(&setting));
    EXPECT_EQ(TASK_TIME_TRIGGER_ONCE, setting.TriggerType);
    EXPECT_EQ(2031, setting.wBeginYear);
    EXPECT_EQ(7, setting.wStartHour);
    EXPECT_EQ(8, setting.wStartMinute);
    LPWSTR text = nullptr;
    ASSERT_EQ(S_OK, task->GetWorkingDirectory(&text));
    EXPECT_EQ(testenv::BinDir(), text);
    CoTaskMemFree(text);
    ASSERT_EQ(S_OK, task->GetApplicationName(&text));
    EXPECT_EQ(testenv::BinDir() + L"zbRefresh.exe", text);
    CoTaskMemFree(text);

    wchar_t args[64] = {};
    ASSERT_EQ(S_OK, layer_.TASKHLPER_GetActionArg(kTask, args, ARRAYSIZE(args)));
    EXPECT_STREQ(L" /resv /b1", args);
    // The start time is the scheduler's next run time (Wine's mstask gives
    // none: then the layer reports that it has no start time).
    SYSTEMTIME next = {};
    if (task->GetNextRunTime(&next) == S_OK) {
        SYSTEMTIME start = {};
        ASSERT_EQ(S_OK, layer_.TASKHLPER_GetStartDay(kTask, &start));
        EXPECT_EQ(2031, start.wYear);
        EXPECT_EQ(6, start.wDay);
    } else {
        SYSTEMTIME start = {};
        EXPECT_EQ(E_FAIL, layer_.TASKHLPER_GetStartDay(kTask, &start));
    }

    // Again with idle-only and no wake: the same task and trigger, new flags.
    ASSERT_EQ(S_OK, Add(FALSE, TRUE));
    EXPECT_EQ(
        static_cast<DWORD>(TASK_FLAG_DONT_START_IF_ON_BATTERIES | TASK_FLAG_START_ONLY_IF_IDLE),
        Flags());
    task = Stored();
    ASSERT_TRUE(task);
    ASSERT_EQ(S_OK, task->GetTriggerCount(&triggers));
    EXPECT_EQ(1, triggers);
}

TEST_F(OnWindowsXp, DisableKeepsTheTaskAndAddEnablesIt) {
    ASSERT_EQ(S_OK, Add(TRUE, FALSE));
    ASSERT_EQ(S_OK, layer_.TASKHLPER_Enable(kTask, FALSE));
    EXPECT_TRUE(Flags() & TASK_FLAG_DISABLED);
    SYSTEMTIME start = {};
    EXPECT_EQ(E_FAIL, layer_.TASKHLPER_GetStartDay(kTask, &start));
    ASSERT_EQ(S_OK, Add(TRUE, FALSE));
    EXPECT_FALSE(Flags() & TASK_FLAG_DISABLED);

    wchar_t args[8];
    EXPECT_EQ(E_POINTER, layer_.TASKHLPER_GetStartDay(kTask, nullptr));
    EXPECT_EQ(E_POINTER, layer_.TASKHLPER_GetActionArg(nullptr, args, ARRAYSIZE(args)));
    EXPECT_EQ(E_POINTER, layer_.TASKHLPER_Enable(nullptr, TRUE));
    EXPECT_EQ(E_POINTER, layer_.TASKHLPER_Add(L"x.exe", kTask, L"a", L"d", nullptr, TRUE, L"", L"u",
                                              L"p", FALSE));
}

} // namespace
