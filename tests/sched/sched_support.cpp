#include "sched_support.h"

#include "battery/battery.h"
#include "common/reg.h"
#include "common/settings.h"
#include "common/util.h"
#include "toast/kx_ntf.h"

#include <sstream>

namespace schedtest {

namespace {

constexpr wchar_t kUserKey[] = L"SOFTWARE\\ZEL\\VADOvur";

std::wstring FolderPath() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"zbsched_test\\";
}

// Loads the DLL into the suspended process on a thread of its own, before
// the program's first instruction; false when it did not load.
bool InjectDll(HANDLE process, const std::wstring& dll) {
    const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
    void* remote =
        VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, dll.c_str(), bytes, nullptr))
        return false;
    // kernel32 sits at the same address in every process of the session.
    auto* load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    zb::UniqueHandle thread(CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr));
    DWORD loaded = 0;
    const bool done = thread && WaitForSingleObject(thread.Get(), kWaitMs) == WAIT_OBJECT_0 &&
                      GetExitCodeThread(thread.Get(), &loaded);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return done && loaded != 0;
}

HANDLE StartIn(const std::wstring& dir, const std::wstring& args,
               const std::wstring& injectDll = L"") {
    const std::wstring exe = dir + L"zbSched.exe";
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    const DWORD flags = injectDll.empty() ? 0 : CREATE_SUSPENDED;
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, flags, nullptr, dir.c_str(),
                        &si, &pi))
        return nullptr;
    zb::UniqueHandle thread(pi.hThread);
    if (!injectDll.empty()) {
        const bool injected = InjectDll(pi.hProcess, testenv::BinDir() + injectDll);
        EXPECT_TRUE(injected) << "could not load the test DLL into zbSched.exe";
        if (!injected) {
            TerminateProcess(pi.hProcess, 1);
            CloseHandle(pi.hProcess);
            return nullptr;
        }
        ResumeThread(pi.hThread);
    }
    return pi.hProcess;
}

} // namespace

SchedFolder::SchedFolder(bool withMain, bool withToasts) : dir_(FolderPath()) {
    CreateDirectoryW(dir_.c_str(), nullptr);
    for (const wchar_t* file :
         {L"main_started.txt", L"main_cmdline.txt", L"zbMain.exe", L"KX_NTF.dll"})
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
    return LinesOf(L"main_started.txt");
}

std::vector<std::string> SchedFolder::MainCommandLines() const {
    return LinesOf(L"main_cmdline.txt");
}

std::vector<std::string> SchedFolder::LinesOf(const wchar_t* file) const {
    std::vector<std::string> lines;
    const std::vector<unsigned char> bytes = testenv::ReadFileBytes(dir_ + file);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

bool SchedFolder::WaitForMainStarts(size_t count, DWORD timeoutMs) const {
    return testenv::WaitUntil([&] { return MainStarts().size() >= count; }, timeoutMs);
}

SchedProcess::SchedProcess(const SchedFolder& folder, const std::wstring& args,
                           const std::wstring& injectDll)
    : folder_(folder), process_(StartIn(folder.Dir(), args, injectDll)) {
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

void Deliver(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    ASSERT_NE(0, SendMessageTimeoutW(hWnd, uMsg, wParam, lParam, SMTO_NORMAL, kWaitMs, &result));
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

SYSTEMTIME DaysAgo(int days) {
    SYSTEMTIME now = {}, then = {};
    GetLocalTime(&now);
    AddDays(&now, &then, -days);
    return then;
}

std::wstring OwnIdOf(UINT battNo) {
    const sim::Battery b = scenario::ReadBattery(battNo);
    wchar_t id[MAX_PATH] = {};
    FormatOwnId(b.name, b.manufactureDate, b.serial, id, ARRAYSIZE(id));
    return id;
}

void Wear(sim::Battery& b, unsigned percentOfDesign) {
    b.fullChargeCapacity = b.designCapacity * percentOfDesign / 100;
    scenario::SetPercent(b, 50);
}

std::wstring SetUpAgedBattery(const wchar_t* profile, DWORD chargeMode) {
    const SYSTEMTIME start = DaysAgo(800);
    scenario::SetUpMachine(profile, [&](sim::Machine& m) {
        m.battery[0].chargeMode = chargeMode;
        m.battery[0].startDate = EncodeStartDate(start.wYear, start.wMonth, start.wDay, false);
    });
    const std::wstring id = OwnIdOf(1);
    const SYSTEMTIME checkPoint = DaysAgo(400);
    EXPECT_EQ(S_OK, SetRegFirstCheckPointRefreshDay(id.c_str(), checkPoint.wYear, checkPoint.wMonth,
                                                    checkPoint.wDay));
    return id;
}

void SetLastRefresh(const std::wstring& ownId, int daysAgo) {
    const SYSTEMTIME last = DaysAgo(daysAgo);
    EXPECT_EQ(S_OK, SetRegLastRefreshDay(ownId.c_str(), last.wYear, last.wMonth, last.wDay));
}

std::vector<HWND> Toasts(const wchar_t* text) {
    std::vector<HWND> found;
    HWND popup = nullptr;
    while ((popup = FindWindowExW(nullptr, popup, KX_NTF_POPUP_CLASS, nullptr)) != nullptr) {
        wchar_t shown[512] = {};
        GetWindowTextW(popup, shown, ARRAYSIZE(shown));
        if (IsWindowVisible(popup) && wcscmp(shown, text) == 0)
            found.push_back(popup);
    }
    return found;
}

bool WaitForToasts(const wchar_t* text, size_t count) {
    return testenv::WaitUntil([&] { return Toasts(text).size() == count; }, kWaitMs);
}

void ClickToast(HWND popup) {
    PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    EXPECT_TRUE(testenv::WaitUntil([&] { return !IsWindow(popup); }, kWaitMs)) << "toast stayed";
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
