// The simulated Task Scheduler's store, laid out as Windows lays it out:
// one Task XML document (UTF-16 with its byte-order mark) per task under
// <system directory>\Tasks\<folder>\<name>, and one directory per folder.
// Every process of the prefix (taskschd.dll, schtasks.exe, simctl) works on
// the same files under the machine-wide mutex "Global\zbsim.tasks.lock";
// a task file is always replaced whole, never patched in place.
//
// The service's own bookkeeping (which trigger time has fired, which task
// waits for the notebook to wake up) lives in the registry under
// HKLM\SOFTWARE\zbsim\Tasks, as Windows keeps its run state apart from the
// task files too.
//
// Task paths are "\name" or "\folder\name"; a name given without the
// leading backslash is taken from the root folder. Results are Win32 codes.
#pragma once

#include "sim/tasks/task_xml.h"

#include <string>
#include <vector>

namespace simtasks {

// "\", "\a", "\a\b": leading backslash, no trailing one, no empty parts and
// none of the characters Windows refuses in a file name. False when the
// text cannot name a task or folder.
bool NormalizeTaskPath(const std::wstring& in, std::wstring* out);
// "\a\b" -> "\a" and "b"; the root's parent is "\" itself.
void SplitTaskPath(const std::wstring& path, std::wstring* folder, std::wstring* name);
std::wstring JoinTaskPath(const std::wstring& folder, const std::wstring& name);

// The file or directory of a task path.
DWORD StorePath(const std::wstring& taskPath, std::wstring* filePath);

// Holds the store's mutex for its lifetime (at most 10 s to get it).
class StoreLock {
public:
    StoreLock();
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    DWORD Error() const { return error_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
    DWORD error_ = 0;
};

// The following expect the caller to hold a StoreLock when it reads and
// then writes, so that no other process changes the task in between.
DWORD ReadTaskText(const std::wstring& taskPath, std::wstring* xml);
DWORD ReadTask(const std::wstring& taskPath, XmlPtr* task, std::wstring* error = nullptr);
bool TaskExists(const std::wstring& taskPath);
// ERROR_PATH_NOT_FOUND when the folder does not exist.
DWORD WriteTask(const std::wstring& taskPath, const XmlNode& task);
DWORD DeleteTaskFile(const std::wstring& taskPath);
bool FolderExists(const std::wstring& folderPath);
// Creates the folder and the folders above it; ERROR_ALREADY_EXISTS when
// it was there.
DWORD CreateTaskFolder(const std::wstring& folderPath);
DWORD DeleteTaskFolder(const std::wstring& folderPath);
// Names of the tasks (or sub-folders) directly in a folder, sorted.
DWORD ListTaskNames(const std::wstring& folderPath, std::vector<std::wstring>* names);
DWORD ListFolderNames(const std::wstring& folderPath, std::vector<std::wstring>* names);
// Every task path of the store, the root's first, then the folders'.
DWORD ListAllTasks(std::vector<std::wstring>* paths);

// Run state. FiredBoundary is the start boundary of the time trigger that
// last ran the task (empty when none); a task held for resume is due as
// soon as the notebook is awake.
std::wstring FiredBoundary(const std::wstring& taskPath);
void SetFiredBoundary(const std::wstring& taskPath, const std::wstring& boundary);
std::wstring LastRunTime(const std::wstring& taskPath);
void SetLastRunTime(const std::wstring& taskPath, const std::wstring& when);
bool IsHeld(const std::wstring& taskPath);
void SetHeld(const std::wstring& taskPath, bool held);
void ForgetRunState(const std::wstring& taskPath);

} // namespace simtasks
