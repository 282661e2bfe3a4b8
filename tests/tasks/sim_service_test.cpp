// The simulated Task Scheduler itself: Windows' schtasks commands on its
// store, and simctl's clock running what is due on the simulated notebook.
#include "tasks/tasks_test_support.h"

#include "main/task_scheduler.h"
#include "sim/machine.h"
#include "sim/tasks/task_store.h"

#include <vector>

namespace {

using namespace taskstest;

const wchar_t kLogonTask[] = L"zbtest logon";
const wchar_t kLogonTrigger[] = L"<LogonTrigger><Enabled>true</Enabled></LogonTrigger>";

int Schtasks(const std::wstring& args) {
    return testenv::RunProgram(L"schtasks.exe", args, 30000);
}

int Simctl(const std::wstring& args) {
    return testenv::RunProgram(L"simctl.exe", args, 30000);
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

bool Ran(const wchar_t* task) {
    return !simtasks::LastRunTime(task).empty();
}

bool Asleep() {
    sim::Machine m;
    return sim::ReadMachine(&m) == 0 && m.suspended;
}

class SimTasks : public TaskTest {
protected:
    // A task file written to the temporary folder and registered with
    // "schtasks /create /xml".
    std::wstring XmlFile(const wchar_t* fileName, const std::wstring& xml) {
        const std::wstring path = MarkerPath(fileName);
        WriteUtf16File(path, xml);
        files_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const auto& path : files_)
            DeleteFileW(path.c_str());
        TaskTest::TearDown();
    }

private:
    std::vector<std::wstring> files_;
};

TEST_F(SimTasks, SchtasksRoundTrip) {
    const std::wstring marker = MarkerPath(L"zbtest_fired.txt");
    const std::wstring file =
        XmlFile(L"zbtest_logon.xml", MarkerTaskXml(marker, kLogonTrigger, false));
    const std::wstring name = Quoted(kLogonTask);
    // The installer's command, through the prefix's own schtasks (cmd finds
    // it in system32); the trailing blank is part of it.
    ASSERT_EQ(
        0, Command(L"cmd.exe /c schtasks /create /xml " + Quoted(file) + L" /tn " + name + L" "));
    EXPECT_NE(std::wstring::npos, TaskFile(kLogonTask).find(L"<LogonTrigger>"));

    ASSERT_EQ(0, Command(L"cmd.exe /c schtasks /Change /Delay 0002:30 /tn " + name + L" "));
    EXPECT_NE(std::wstring::npos, TaskFile(kLogonTask).find(L"<Delay>PT2M30S</Delay>"));
    ASSERT_EQ(0, Schtasks(L"/change /tn " + name + L" /disable"));
    EXPECT_NE(std::wstring::npos, TaskFile(kLogonTask).find(L"<Enabled>false</Enabled>"));
    ASSERT_EQ(0, Schtasks(L"/change /tn " + name + L" /ENABLE"));
    EXPECT_EQ(std::wstring::npos, TaskFile(kLogonTask).find(L"<Enabled>false</Enabled>"));
    EXPECT_EQ(0, Schtasks(L"/query /tn " + name + L" /xml"));
    EXPECT_EQ(0, Schtasks(L"/query"));

    // Replacing needs /f; the same file again is then accepted.
    EXPECT_EQ(0, Schtasks(L"/create /xml " + Quoted(file) + L" /tn " + name + L" /f"));
    EXPECT_EQ(std::wstring::npos, TaskFile(kLogonTask).find(L"<Delay>"));

    ASSERT_EQ(0, Schtasks(L"/run /tn " + name));
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return testenv::ReadFileBytes(marker).size() > 0; }, 20000))
        << "the action did not run";
    DeleteFileW(marker.c_str());

    ASSERT_EQ(0, Schtasks(L"/delete /tn " + name + L" /f"));
    EXPECT_FALSE(TaskFileExists(kLogonTask));
}

TEST_F(SimTasks, BadCommandsFailAndChangeNothing) {
    const std::wstring marker = MarkerPath(L"zbtest_unused.txt");
    const std::wstring good =
        XmlFile(L"zbtest_good.xml", MarkerTaskXml(marker, kLogonTrigger, false));
    const std::wstring timeOnly =
        XmlFile(L"zbtest_time.xml",
                MarkerTaskXml(marker,
                              L"<TimeTrigger><StartBoundary>2031-01-01T10:00:00</StartBoundary>"
                              L"</TimeTrigger>",
                              false));
    const std::wstring malformed = XmlFile(L"zbtest_bad.xml", L"<Task><Actions></Task>");
    const std::wstring noAction =
        XmlFile(L"zbtest_noaction.xml", L"<Task version=\"1.2\"><Actions/></Task>");
    const std::wstring name = Quoted(kLogonTask);
    const std::wstring timeName = Quoted(L"zbtest time");
    ASSERT_EQ(0, Schtasks(L"/create /xml " + Quoted(good) + L" /tn " + name));
    ASSERT_EQ(0, Schtasks(L"/create /xml " + Quoted(timeOnly) + L" /tn " + timeName));
    const std::wstring before = TaskFile(kLogonTask);
    const std::wstring timeBefore = TaskFile(L"zbtest time");

    const std::vector<std::wstring> refused = {
        L"/change /tn " + name + L" /delay 99:99",
        L"/change /tn " + name + L" /delay 12345:00",
        L"/change /tn " + name + L" /enable /disable",
        L"/change /tn " + name,
        L"/change /tn " + name + L" /delay",
        L"/change /tn " + timeName + L" /delay 0001:00",
        L"/change /tn " + Quoted(L"zbtest missing") + L" /disable",
        L"/create /xml " + Quoted(malformed) + L" /tn " + name + L" /f",
        L"/create /xml " + Quoted(noAction) + L" /tn " + name + L" /f",
        L"/create /xml " + Quoted(good + L".missing") + L" /tn " + name + L" /f",
        L"/create /xml " + Quoted(good) + L" /tn " + Quoted(L"zbtest a|b"),
        L"/delete /tn " + Quoted(L"zbtest missing") + L" /f",
        L"/run /tn " + Quoted(L"zbtest missing"),
        L"/query /tn " + Quoted(L"zbtest missing"),
        L"/bogus",
        L"/query /bogus",
    };
    for (const std::wstring& args : refused)
        EXPECT_EQ(1, Schtasks(args)) << std::string(args.begin(), args.end());
    // A /create without its file ends with E_FAIL, as Windows' tool does.
    EXPECT_EQ(static_cast<int>(E_FAIL), Schtasks(L"/create /tn " + name + L" /f"));
    EXPECT_EQ(before, TaskFile(kLogonTask));
    EXPECT_EQ(timeBefore, TaskFile(L"zbtest time"));
    EXPECT_FALSE(TaskFileExists(L"zbtest missing"));
}

TEST_F(SimTasks, DueTasksWakeTheNotebookOrWaitForResume) {
    ASSERT_EQ(0, Simctl(L"setup one"));
    const std::wstring wakeMarker = MarkerPath(L"zbtest_wake.txt");
    const std::wstring laterMarker = MarkerPath(L"zbtest_later.txt");
    const wchar_t trigger[] =
        L"<TimeTrigger><StartBoundary>2031-05-06T07:08:00</StartBoundary></TimeTrigger>";
    const wchar_t laterTrigger[] =
        L"<TimeTrigger><StartBoundary>2031-05-06T08:00:00</StartBoundary></TimeTrigger>";
    ASSERT_EQ(0,
              Schtasks(L"/create /xml " +
                       Quoted(XmlFile(L"zbtest_w.xml", MarkerTaskXml(wakeMarker, trigger, true))) +
                       L" /tn \"zbtest wake\""));
    ASSERT_EQ(0, Schtasks(L"/create /xml " +
                          Quoted(XmlFile(L"zbtest_l.xml",
                                         MarkerTaskXml(laterMarker, laterTrigger, false, true))) +
                          L" /tn \"zbtest later\""));
    ASSERT_EQ(0, Simctl(L"tasks"));

    // Before the trigger time nothing runs; a sleeping notebook stays asleep.
    ASSERT_EQ(0, Simctl(L"suspend"));
    ASSERT_EQ(0, Simctl(L"tasks due --at \"2031-05-06 07:07\""));
    EXPECT_TRUE(Asleep());

    ASSERT_EQ(0, Simctl(L"tasks due --at \"2031-05-06 07:08\""));
    EXPECT_FALSE(Asleep()) << "the wake task did not resume the notebook";
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return testenv::ReadFileBytes(wakeMarker).size() > 0; }, 20000))
        << "the wake task's action did not run";

    // A task without the wake flag that may start late waits for the
    // notebook, and runs once.
    ASSERT_EQ(0, Simctl(L"suspend"));
    ASSERT_EQ(0, Simctl(L"tasks due --at \"2031-05-06 09:00\""));
    EXPECT_TRUE(Asleep());
    EXPECT_TRUE(simtasks::IsHeld(L"\\zbtest later"));
    EXPECT_FALSE(Ran(L"\\zbtest later")) << "ran on a sleeping notebook";
    ASSERT_EQ(0, Simctl(L"resume"));
    EXPECT_TRUE(Ran(L"\\zbtest later")) << "the held task did not run at resume";
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return testenv::ReadFileBytes(laterMarker).size() > 0; }, 20000))
        << "the held task's action did not run";
    simtasks::SetLastRunTime(L"\\zbtest wake", L"");
    simtasks::SetLastRunTime(L"\\zbtest later", L"");
    ASSERT_EQ(0, Simctl(L"tasks due --at \"2031-05-07 00:00\""));
    EXPECT_FALSE(Ran(L"\\zbtest wake") || Ran(L"\\zbtest later")) << "a task ran twice";
    DeleteFileW(wakeMarker.c_str());
    DeleteFileW(laterMarker.c_str());
    EXPECT_EQ(2, Simctl(L"tasks due --at \"2031-13-01 00:00\""));
    EXPECT_EQ(2, Simctl(L"tasks fire \"zbtest missing\""));
}

// A reservation registered as the main screen does (start when available
// off) whose time passed while nobody looked, here two years: it is not
// started late, not now and not at a later look. A task that may start late
// runs at that look.
TEST_F(SimTasks, AMissedStartRunsLateOnlyWhenTheTaskMayStartWhenAvailable) {
    ASSERT_EQ(0, Simctl(L"setup one"));
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    const std::wstring missedMarker = MarkerPath(L"zbtest_missed.txt");
    const std::wstring lateMarker = MarkerPath(L"zbtest_late.txt");
    const SYSTEMTIME start = Time(2031, 5, 6, 7, 8);
    ASSERT_EQ(S_OK, TASKHLPER_Add(cmd.c_str(), L"zbtest reservation", L"\\", L"author", L"refresh",
                                  &start, TRUE, (L"/c cd > \"" + missedMarker + L"\"").c_str(),
                                  L"user", L"", FALSE, nullptr, L""));
    const wchar_t trigger[] =
        L"<TimeTrigger><StartBoundary>2031-05-06T07:08:00</StartBoundary></TimeTrigger>";
    ASSERT_EQ(0, Schtasks(L"/create /xml " +
                          Quoted(XmlFile(L"zbtest_late.xml",
                                         MarkerTaskXml(lateMarker, trigger, false, true))) +
                          L" /tn \"zbtest late\""));

    ASSERT_EQ(0, Simctl(L"tasks due --at \"2033-05-06 07:08\""));
    EXPECT_TRUE(Ran(L"\\zbtest late")) << "a task that may start late did not";
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return testenv::ReadFileBytes(lateMarker).size() > 0; }, 20000));
    ASSERT_EQ(0, Simctl(L"tasks due --at \"2033-05-06 07:09\""));
    EXPECT_FALSE(Ran(L"\\zbtest reservation")) << "the missed reservation ran late";
    DeleteFileW(missedMarker.c_str());
    DeleteFileW(lateMarker.c_str());
}

} // namespace
