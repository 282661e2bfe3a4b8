#include "sched_support.h"

#include "common/reg.h"

#include <sstream>

namespace schedtest {

namespace {

constexpr wchar_t kUserKey[] = L"SOFTWARE\\ZEL\\VADOvur";

std::wstring FolderPath() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"zbsched_test\\";
}

HANDLE StartIn(const std::wstring& dir, const std::wstring& args) {
    const std::wstring exe = dir + L"zbSched.exe";
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si,
                        &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

} // namespace

SchedFolder::SchedFolder(bool withMain, bool withToasts) : dir_(FolderPath()) {
    CreateDirectoryW(dir_.c_str(), nullptr);
    for (const wchar_t* file : {L"main_started.txt", L"zbMain.exe", L"KX_NTF.dll"})
        DeleteFileW((dir_ + file).c_str());
    const std::wstring bin = testenv::BinDir();
    for (const wchar_t* file : {L"zbSched.exe", L"cellio.dll"})
        CopyFileW((bin + file).c_str(), (dir_ + file).c_str(), FALSE);
    if (withToasts)
        CopyFileW((bin + L"KX_NTF.dll").c_str(), (dir_ + L"KX_NTF.dll").c_str(), FALSE);
    if (withMain)
        CopyFileW((bin + L"main_standin.exe").c_str(), (dir_ + L"zbMain.exe").c_str(), FALSE);
}

std::vector<std::string> SchedFolder::MainStarts() const {
    std::vector<std::string> lines;
    const std::vector<unsigned char> bytes = testenv::ReadFileBytes(dir_ + L"main_started.txt");
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

bool SchedFolder::WaitForMainStarts(size_t count, DWORD timeoutMs) const {
    return testenv::WaitUntil([&] { return MainStarts().size() >= count; }, timeoutMs);
}

SchedProcess::SchedProcess(const SchedFolder& folder, const std::wstring& args)
    : folder_(folder), process_(StartIn(folder.Dir(), args)) {
    if (process_)
        id_ = GetProcessId(process_.Get());
}

SchedProcess::~SchedProcess() {
    if (!Running())
        return;
    RunSched(folder_, L"/end");
    if (WaitForSingleObject(process_.Get(), 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
    }
}

bool SchedProcess::Running() const {
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

HWND SchedProcess::Window() const {
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] {
            found = FindWindowW(L"zbSched", nullptr);
            DWORD pid = 0;
            if (found)
                GetWindowThreadProcessId(found, &pid);
            return found && pid == id_;
        },
        kWaitMs);
    return found;
}

int SchedProcess::Wait(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<int>(code);
}

int RunSched(const SchedFolder& folder, const std::wstring& args) {
    zb::UniqueHandle process(StartIn(folder.Dir(), args));
    if (!process || WaitForSingleObject(process.Get(), kWaitMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

std::vector<HWND> DialogsOf(DWORD processId) {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{processId, {}};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            DWORD pid = 0;
            GetWindowThreadProcessId(hWnd, &pid);
            wchar_t cls[32] = {};
            GetClassNameW(hWnd, cls, 32);
            if (pid == s->pid && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hWnd))
                s->found.push_back(hWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void SetUserValue(const wchar_t* name, DWORD value) {
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, kUserKey, name, value)) << name;
}

DWORD UserValue(const wchar_t* name, DWORD fallback) {
    DWORD value = fallback;
    if (FAILED(CReg::GetDW(HKEY_CURRENT_USER, kUserKey, name, &value)))
        return fallback;
    return value;
}

void SetUserText(const wchar_t* name, const std::wstring& text) {
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, kUserKey, name, text.c_str())) << name;
}

bool HasUserValue(const wchar_t* name) {
    wchar_t text[64] = {};
    DWORD dw = 0;
    return SUCCEEDED(CReg::GetSZ(HKEY_CURRENT_USER, kUserKey, name, text, sizeof(text))) ||
           SUCCEEDED(CReg::GetDW(HKEY_CURRENT_USER, kUserKey, name, &dw));
}

size_t ErrorLogCount(const wchar_t* text) {
    size_t count = 0;
    for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_error.log"))
        if (line.find(text) != std::wstring::npos)
            ++count;
    return count;
}

} // namespace schedtest
