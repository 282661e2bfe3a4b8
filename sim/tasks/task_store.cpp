#include "sim/tasks/task_store.h"

#include "common/handles.h"
#include "sim/diag.h"
#include "sim/text_io.h"

#include <strsafe.h>

#include <algorithm>

namespace simtasks {
namespace {

const wchar_t kLockName[] = L"Global\\zbsim.tasks.lock";
const wchar_t kFiredKey[] = L"SOFTWARE\\zbsim\\Tasks\\Fired";
const wchar_t kLastRunKey[] = L"SOFTWARE\\zbsim\\Tasks\\LastRun";
const wchar_t kHeldKey[] = L"SOFTWARE\\zbsim\\Tasks\\Held";
const wchar_t kTempSuffix[] = L".zbnew";
constexpr DWORD kLockTimeoutMs = 10000;

DWORD RootPath(std::wstring* root) {
    wchar_t system[MAX_PATH] = {};
    const UINT len = GetSystemDirectoryW(system, ARRAYSIZE(system));
    if (len == 0 || len >= ARRAYSIZE(system))
        return sim::LogFailure(L"GetSystemDirectoryW",
                               len ? ERROR_BUFFER_OVERFLOW : GetLastError());
    *root = std::wstring(system) + L"\\Tasks";
    return 0;
}

DWORD ListEntries(const std::wstring& folderPath, bool folders, std::vector<std::wstring>* names) {
    names->clear();
    std::wstring dir;
    if (DWORD rc = StorePath(folderPath, &dir))
        return rc;
    WIN32_FIND_DATAW data;
    zb::UniqueFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) {
        const DWORD rc = GetLastError();
        return rc == ERROR_FILE_NOT_FOUND ? 0 : rc;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const bool isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isDir != folders)
            continue;
        if (!isDir && name.size() > wcslen(kTempSuffix) &&
            name.compare(name.size() - wcslen(kTempSuffix), std::wstring::npos, kTempSuffix) == 0)
            continue;
        names->push_back(name);
    } while (FindNextFileW(find.Get(), &data));
    std::sort(names->begin(), names->end());
    return 0;
}

std::wstring ReadStateText(const wchar_t* key, const std::wstring& taskPath) {
    wchar_t value[128] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, taskPath.c_str(), RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

void WriteStateText(const wchar_t* key, const std::wstring& taskPath, const std::wstring& text) {
    if (text.empty()) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, taskPath.c_str());
        return;
    }
    const LSTATUS rc =
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, taskPath.c_str(), REG_SZ, text.c_str(),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS)
        sim::LogFailure(L"RegSetKeyValueW", static_cast<DWORD>(rc));
}

} // namespace

bool NormalizeTaskPath(const std::wstring& in, std::wstring* out) {
    std::wstring result;
    size_t pos = 0;
    while (pos <= in.size()) {
        size_t end = in.find_first_of(L"\\/", pos);
        if (end == std::wstring::npos)
            end = in.size();
        const std::wstring part = in.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty())
            continue;
        if (part == L"." || part == L".." || part.find_first_of(L":*?\"<>|") != std::wstring::npos)
            return false;
        for (wchar_t c : part) {
            if (c < 0x20)
                return false;
        }
        result += L"\\" + part;
    }
    if (result.size() > 200)
        return false;
    *out = result.empty() ? L"\\" : result;
    return true;
}

void SplitTaskPath(const std::wstring& path, std::wstring* folder, std::wstring* name) {
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        *folder = L"\\";
        *name = path;
        return;
    }
    *folder = slash == 0 ? L"\\" : path.substr(0, slash);
    *name = path.substr(slash + 1);
}

std::wstring JoinTaskPath(const std::wstring& folder, const std::wstring& name) {
    return folder == L"\\" ? L"\\" + name : folder + L"\\" + name;
}

DWORD StorePath(const std::wstring& taskPath, std::wstring* filePath) {
    std::wstring root;
    if (DWORD rc = RootPath(&root))
        return rc;
    *filePath = taskPath == L"\\" ? root : root + taskPath;
    return 0;
}

StoreLock::StoreLock() {
    mutex_ = CreateMutexW(nullptr, FALSE, kLockName);
    if (!mutex_) {
        error_ = sim::LogFailure(L"CreateMutexW", GetLastError());
        return;
    }
    const DWORD wait = WaitForSingleObject(mutex_, kLockTimeoutMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        error_ = sim::LogFailure(L"WaitForSingleObject",
                                 wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError());
        return;
    }
    held_ = true;
}

StoreLock::~StoreLock() {
    if (held_)
        ReleaseMutex(mutex_);
    if (mutex_)
        CloseHandle(mutex_);
}

DWORD ReadTaskText(const std::wstring& taskPath, std::wstring* xml) {
    std::wstring file;
    if (DWORD rc = StorePath(taskPath, &file))
        return rc;
    std::vector<char> bytes;
    DWORD error = 0;
    if (!sim::ReadWholeFile(file.c_str(), &bytes, &error))
        return error;
    if (!sim::DecodeText(bytes, xml))
        return ERROR_INVALID_DATA;
    return 0;
}

DWORD ReadTask(const std::wstring& taskPath, XmlPtr* task, std::wstring* error) {
    std::wstring xml;
    if (DWORD rc = ReadTaskText(taskPath, &xml))
        return rc;
    XmlPtr root = ParseXml(xml, error);
    if (!root)
        return ERROR_INVALID_DATA;
    *task = root;
    return 0;
}

bool TaskExists(const std::wstring& taskPath) {
    std::wstring file;
    if (StorePath(taskPath, &file))
        return false;
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD WriteTask(const std::wstring& taskPath, const XmlNode& task) {
    std::wstring file;
    if (DWORD rc = StorePath(taskPath, &file))
        return rc;
    const std::wstring text = L"\xFEFF" + WriteXml(task);
    const std::wstring temp = file + kTempSuffix;
    {
        zb::UniqueHandle handle(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle)
            return GetLastError();
        DWORD written = 0;
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (!WriteFile(handle.Get(), text.data(), bytes, &written, nullptr) || written != bytes) {
            const DWORD rc =
                written != bytes && GetLastError() == 0 ? ERROR_WRITE_FAULT : GetLastError();
            handle.Reset();
            DeleteFileW(temp.c_str());
            return sim::LogFailure(L"WriteFile", rc);
        }
    }
    if (!MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD rc = GetLastError();
        DeleteFileW(temp.c_str());
        return sim::LogFailure(L"MoveFileExW", rc);
    }
    return 0;
}

DWORD DeleteTaskFile(const std::wstring& taskPath) {
    std::wstring file;
    if (DWORD rc = StorePath(taskPath, &file))
        return rc;
    if (!TaskExists(taskPath))
        return ERROR_FILE_NOT_FOUND;
    if (!DeleteFileW(file.c_str()))
        return GetLastError();
    ForgetRunState(taskPath);
    return 0;
}

bool FolderExists(const std::wstring& folderPath) {
    std::wstring dir;
    if (StorePath(folderPath, &dir))
        return false;
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD CreateTaskFolder(const std::wstring& folderPath) {
    if (FolderExists(folderPath))
        return ERROR_ALREADY_EXISTS;
    std::wstring parent, name;
    SplitTaskPath(folderPath, &parent, &name);
    if (folderPath != L"\\" && !FolderExists(parent)) {
        DWORD rc = CreateTaskFolder(parent);
        if (rc && rc != ERROR_ALREADY_EXISTS)
            return rc;
    }
    std::wstring dir;
    if (DWORD rc = StorePath(folderPath, &dir))
        return rc;
    if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return GetLastError();
    return 0;
}

DWORD DeleteTaskFolder(const std::wstring& folderPath) {
    std::wstring dir;
    if (DWORD rc = StorePath(folderPath, &dir))
        return rc;
    if (folderPath == L"\\")
        return ERROR_ACCESS_DENIED;
    if (!RemoveDirectoryW(dir.c_str()))
        return GetLastError();
    return 0;
}

DWORD ListTaskNames(const std::wstring& folderPath, std::vector<std::wstring>* names) {
    return ListEntries(folderPath, false, names);
}

DWORD ListFolderNames(const std::wstring& folderPath, std::vector<std::wstring>* names) {
    return ListEntries(folderPath, true, names);
}

DWORD ListAllTasks(std::vector<std::wstring>* paths) {
    paths->clear();
    std::vector<std::wstring> pending = {L"\\"};
    while (!pending.empty()) {
        const std::wstring folder = pending.front();
        pending.erase(pending.begin());
        std::vector<std::wstring> names;
        if (DWORD rc = ListTaskNames(folder, &names))
            return rc;
        for (const auto& name : names)
            paths->push_back(JoinTaskPath(folder, name));
        if (DWORD rc = ListFolderNames(folder, &names))
            return rc;
        for (const auto& name : names)
            pending.push_back(JoinTaskPath(folder, name));
    }
    return 0;
}

std::wstring FiredBoundary(const std::wstring& taskPath) {
    return ReadStateText(kFiredKey, taskPath);
}

void SetFiredBoundary(const std::wstring& taskPath, const std::wstring& boundary) {
    WriteStateText(kFiredKey, taskPath, boundary);
}

std::wstring LastRunTime(const std::wstring& taskPath) {
    return ReadStateText(kLastRunKey, taskPath);
}

void SetLastRunTime(const std::wstring& taskPath, const std::wstring& when) {
    WriteStateText(kLastRunKey, taskPath, when);
}

bool IsHeld(const std::wstring& taskPath) {
    return !ReadStateText(kHeldKey, taskPath).empty();
}

void SetHeld(const std::wstring& taskPath, bool held) {
    WriteStateText(kHeldKey, taskPath, held ? L"1" : L"");
}

void ForgetRunState(const std::wstring& taskPath) {
    SetFiredBoundary(taskPath, L"");
    SetHeld(taskPath, false);
}

} // namespace simtasks
