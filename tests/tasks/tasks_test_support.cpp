#include "tasks/tasks_test_support.h"

#include "sim/tasks/task_store.h"
#include "support/suite_env.h"

#include <objbase.h>

#include <vector>

namespace taskstest {

const wchar_t kPrefix[] = L"zbtest ";

std::wstring TaskFile(const std::wstring& name, bool* hasBom) {
    std::wstring path;
    simtasks::StorePath(L"\\" + name, &path);
    const std::vector<unsigned char> bytes = testenv::ReadFileBytes(path);
    const bool bom = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (hasBom)
        *hasBom = bom;
    if (!bom)
        return L"";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

bool TaskFileExists(const std::wstring& name) {
    return simtasks::TaskExists(L"\\" + name);
}

namespace {

// A folder and everything in it.
void DeleteFolderTree(const std::wstring& folder) {
    std::vector<std::wstring> names;
    simtasks::ListTaskNames(folder, &names);
    for (const std::wstring& name : names)
        simtasks::DeleteTaskFile(simtasks::JoinTaskPath(folder, name));
    simtasks::ListFolderNames(folder, &names);
    for (const std::wstring& name : names)
        DeleteFolderTree(simtasks::JoinTaskPath(folder, name));
    simtasks::DeleteTaskFolder(folder);
}

} // namespace

void DeleteTestTasks() {
    std::vector<std::wstring> names;
    simtasks::ListTaskNames(L"\\", &names);
    for (const std::wstring& name : names) {
        if (name.compare(0, wcslen(kPrefix), kPrefix) == 0)
            simtasks::DeleteTaskFile(L"\\" + name);
    }
    simtasks::ListFolderNames(L"\\", &names);
    for (const std::wstring& name : names) {
        if (name.compare(0, wcslen(kPrefix), kPrefix) == 0)
            DeleteFolderTree(L"\\" + name);
    }
}

size_t Count(const std::wstring& haystack, const std::wstring& text) {
    size_t count = 0;
    for (size_t at = haystack.find(text); at != std::wstring::npos;
         at = haystack.find(text, at + 1))
        ++count;
    return count;
}

std::wstring MarkerPath(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + name;
    DeleteFileW(path.c_str());
    return path;
}

// Runs a command line as CreateProcess finds it (system32 included).
int Command(const std::wstring& commandLine) {
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

SYSTEMTIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    return testenv::MakeTime(year, month, day, hour, minute);
}

std::wstring MarkerTaskXml(const std::wstring& marker, const wchar_t* triggers, bool wake,
                           bool startWhenAvailable) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                        L"<Task version=\"1.2\" "
                        L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
                        L"  <Triggers>") +
           triggers + L"</Triggers>\r\n  <Settings><WakeToRun>" + (wake ? L"true" : L"false") +
           L"</WakeToRun><StartWhenAvailable>" + (startWhenAvailable ? L"true" : L"false") +
           L"</StartWhenAvailable></Settings>\r\n"
           L"  <Actions Context=\"Author\"><Exec><Command>" +
           system + L"\\cmd.exe</Command><Arguments>/c cd &gt; \"" + marker +
           L"\"</Arguments><WorkingDirectory>" + system +
           L"</WorkingDirectory></Exec></Actions>\r\n</Task>\r\n";
}

void WriteUtf16File(const std::wstring& path, const std::wstring& text) {
    ASSERT_TRUE(testenv::WriteUtf16File(path, text)) << path;
}

void TaskTest::SetUp() {
    testenv::SuiteStateTest::SetUp();
    comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    DeleteTestTasks();
}

void TaskTest::TearDown() {
    DeleteTestTasks();
    if (comReady_)
        CoUninitialize();
    testenv::SuiteStateTest::TearDown();
}

} // namespace taskstest
