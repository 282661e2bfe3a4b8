// Shared by the task tests: the task files as Windows stores them, the
// programs of the simulated service, and a clean store for each test.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "support/suite_env.h"

namespace taskstest {

// Every task or folder a test makes in the root folder is named with this
// prefix.
extern const wchar_t kPrefix[];

// Text of a stored task file (UTF-16 after its byte-order mark); empty when
// it does not exist. *hasBom tells whether the mark was there.
std::wstring TaskFile(const std::wstring& name, bool* hasBom = nullptr);
bool TaskFileExists(const std::wstring& name);
// Deletes every task and folder named with kPrefix (folders with all they
// hold) and the tasks' run state.
void DeleteTestTasks();

// Number of times text occurs in haystack.
size_t Count(const std::wstring& haystack, const std::wstring& text);

// A fresh file path in the temporary folder for an action to write.
std::wstring MarkerPath(const wchar_t* name);

// Runs a command line as CreateProcess finds it (system32 included); its
// exit code, -1 when it could not start.
int Command(const std::wstring& commandLine);

// A local time to the minute.
SYSTEMTIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute);

// Task XML that runs cmd.exe writing its working directory to marker.
std::wstring MarkerTaskXml(const std::wstring& marker, const wchar_t* triggers, bool wake,
                           bool startWhenAvailable = false);

// Writes text as a UTF-16 file with its byte-order mark.
void WriteUtf16File(const std::wstring& path, const std::wstring& text);

// Clean suite state and no test tasks before and after; COM initialised.
class TaskTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    bool comReady_ = false;
};

} // namespace taskstest
