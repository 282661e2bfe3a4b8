#include "support/ui_driver.h"

#include <commctrl.h>

#include <vector>

#include "support/suite_env.h"

namespace ui {

namespace {

constexpr UINT kMessageTimeoutMs = 5000;

std::wstring Utf8ToWide(const std::string& bytes) {
    if (bytes.empty())
        return std::wstring();
    const int cch =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], cch);
    return text;
}

std::wstring ClassOf(HWND hWnd) {
    wchar_t name[128] = {};
    GetClassNameW(hWnd, name, ARRAYSIZE(name));
    return name;
}

struct FindRequest {
    DWORD pid;
    const wchar_t* className;
    const wchar_t* title;
    bool visibleOnly;
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchTopWindow(HWND hWnd, LPARAM lParam) {
    auto* request = reinterpret_cast<FindRequest*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if ((request->pid && pid != request->pid) || hWnd == request->except)
        return TRUE;
    if (request->visibleOnly && !IsWindowVisible(hWnd))
        return TRUE;
    if (request->className && ClassOf(hWnd) != request->className)
        return TRUE;
    if (request->title && Text(hWnd) != request->title)
        return TRUE;
    request->found = hWnd;
    return FALSE;
}

} // namespace

Program::Program(const wchar_t* exeName, const std::wstring& args) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 1 << 16))
        return;
    zb::UniqueHandle writeEnd(write);
    stderrRead_.Reset(read);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);

    const std::wstring exe = testenv::BinDir() + exeName;
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof(si)};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = nullptr;
    si.hStdError = write;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi))
        return;
    CloseHandle(pi.hThread);
    process_.Reset(pi.hProcess);
    id_ = pi.dwProcessId;
}

Program::~Program() {
    if (Running()) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
    }
}

bool Program::Running() const {
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

int Program::Wait(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<int>(code);
}

std::wstring Program::StdErr() {
    for (;;) {
        DWORD available = 0;
        if (!stderrRead_ ||
            !PeekNamedPipe(stderrRead_.Get(), nullptr, 0, nullptr, &available, nullptr) ||
            available == 0)
            break;
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(stderrRead_.Get(), buffer,
                      sizeof(buffer) < available ? sizeof(buffer) : available, &got, nullptr) ||
            got == 0)
            break;
        stderrBytes_.append(buffer, got);
    }
    return Utf8ToWide(stderrBytes_);
}

HWND FindTopWindow(DWORD pid, const wchar_t* className, const wchar_t* title, bool visibleOnly,
                   HWND hExcept) {
    FindRequest request = {pid, className, title, visibleOnly, hExcept, nullptr};
    EnumWindows(MatchTopWindow, reinterpret_cast<LPARAM>(&request));
    return request.found;
}

HWND WaitForWindow(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD timeoutMs,
                   bool visibleOnly) {
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] { return (found = FindTopWindow(pid, className, title, visibleOnly)) != nullptr; },
        timeoutMs);
    return found;
}

bool WaitForNoWindow(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD timeoutMs) {
    return testenv::WaitUntil([&] { return !FindTopWindow(pid, className, title, true); },
                              timeoutMs);
}

HWND Control(HWND hParent, int id) {
    if (!hParent)
        return nullptr;
    if (HWND direct = GetDlgItem(hParent, id))
        return direct;
    for (HWND child = GetWindow(hParent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (HWND inner = Control(child, id))
            return inner;
    }
    return nullptr;
}

std::wstring Text(HWND hWnd) {
    if (!hWnd)
        return std::wstring();
    wchar_t text[1024] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hWnd, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
    return text;
}

std::wstring Text(HWND hParent, int id) {
    return Text(Control(hParent, id));
}

bool IsEnabled(HWND hParent, int id) {
    HWND hWnd = Control(hParent, id);
    return hWnd && !(GetWindowLongPtrW(hWnd, GWL_STYLE) & WS_DISABLED);
}

bool IsVisible(HWND hParent, int id) {
    HWND hWnd = Control(hParent, id);
    return hWnd && IsWindowVisible(hWnd);
}

bool IsChecked(HWND hParent, int id) {
    DWORD_PTR state = 0;
    HWND hWnd = Control(hParent, id);
    return hWnd &&
           SendMessageTimeoutW(hWnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                               &state) &&
           state == BST_CHECKED;
}

bool Settle(HWND hWnd) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) !=
           0;
}

void Click(HWND hParent, int id) {
    PostMessageW(Control(hParent, id), BM_CLICK, 0, 0);
}

void ClickText(HWND hParent, int id) {
    HWND hText = Control(hParent, id);
    PostMessageW(GetParent(hText), WM_COMMAND, MAKEWPARAM(id, STN_CLICKED),
                 reinterpret_cast<LPARAM>(hText));
}

bool SelectTab(HWND hParent, int tabId, int index) {
    HWND hTab = Control(hParent, tabId);
    DWORD_PTR result = 0;
    // Moving the focus of a tab control without buttons selects the tab and
    // notifies the owner (TCN_SELCHANGING, TCN_SELCHANGE) from inside its
    // own process, where the notification's pointer is valid.
    SendMessageTimeoutW(hTab, TCM_SETCURFOCUS, index, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                        &result);
    SendMessageTimeoutW(hTab, TCM_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
    return static_cast<int>(result) == index;
}

int TabCount(HWND hParent, int tabId) {
    DWORD_PTR count = 0;
    SendMessageTimeoutW(Control(hParent, tabId), TCM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                        kMessageTimeoutMs, &count);
    return static_cast<int>(count);
}

void TypeText(HWND hParent, int id, const std::wstring& text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(Control(hParent, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
}

namespace {

// The date-time picker's messages carry pointers, which no process boundary
// translates: their structures are exchanged in the program's own memory.
class ProgramMemory {
public:
    ProgramMemory(HWND hWnd, SIZE_T size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        process_.Reset(
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
        if (process_.IsValid())
            address_ = VirtualAllocEx(process_.Get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~ProgramMemory() {
        if (address_)
            VirtualFreeEx(process_.Get(), address_, 0, MEM_RELEASE);
    }
    ProgramMemory(const ProgramMemory&) = delete;
    ProgramMemory& operator=(const ProgramMemory&) = delete;

    LPARAM Address() const { return reinterpret_cast<LPARAM>(address_); }
    bool Write(const void* data) {
        return address_ && WriteProcessMemory(process_.Get(), address_, data, size_, nullptr);
    }
    bool Read(void* data) {
        return address_ && ReadProcessMemory(process_.Get(), address_, data, size_, nullptr);
    }

private:
    zb::UniqueHandle process_;
    void* address_ = nullptr;
    SIZE_T size_;
};

} // namespace

bool SetDateTime(HWND hParent, int id, const SYSTEMTIME& time) {
    HWND hPicker = Control(hParent, id);
    ProgramMemory memory(hPicker, sizeof(time));
    DWORD_PTR result = 0;
    return memory.Write(&time) &&
           SendMessageTimeoutW(hPicker, DTM_SETSYSTEMTIME, GDT_VALID, memory.Address(),
                               SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result) &&
           result != 0;
}

bool DateTimeRange(HWND hParent, int id, SYSTEMTIME* pMin, SYSTEMTIME* pMax) {
    HWND hPicker = Control(hParent, id);
    SYSTEMTIME range[2] = {};
    ProgramMemory memory(hPicker, sizeof(range));
    DWORD_PTR limits = 0;
    if (!memory.Write(range) ||
        !SendMessageTimeoutW(hPicker, DTM_GETRANGE, 0, memory.Address(), SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &limits) ||
        limits != (GDTR_MIN | GDTR_MAX) || !memory.Read(range))
        return false;
    *pMin = range[0];
    *pMax = range[1];
    return true;
}

HWND WaitForMessageBox(DWORD pid, const wchar_t* caption, DWORD timeoutMs, HWND hExcept) {
    HWND found = nullptr;
    testenv::WaitUntil(
        [&] { return (found = FindTopWindow(pid, L"#32770", caption, true, hExcept)) != nullptr; },
        timeoutMs);
    return found;
}

std::wstring MessageBoxText(HWND hBox) {
    std::wstring all;
    std::vector<HWND> pending = {hBox};
    while (!pending.empty()) {
        HWND parent = pending.back();
        pending.pop_back();
        for (HWND child = GetWindow(parent, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            const std::wstring text = Text(child);
            if (!text.empty())
                all += text + L"\n";
            pending.push_back(child);
        }
    }
    return all;
}

void Answer(HWND hBox, int buttonId) {
    if (HWND hButton = Control(hBox, buttonId))
        PostMessageW(hButton, BM_CLICK, 0, 0);
    else
        PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
}

} // namespace ui
