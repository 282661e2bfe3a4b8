// zbmemmap: what another process's address space is made of, as Windows
// sees it. Walks the process with VirtualQueryEx and sums the committed
// bytes by kind: each loaded module (MEM_IMAGE, its writable part apart),
// each thread's stack, the process heaps, other private memory and mapped
// views. With /regions it also prints every committed region, one a line:
//   region <base> <size> <image|private|mapped> <protect> <label>
// (hexadecimal), which tools/memmap joins with the pages that Linux holds
// resident for the same addresses under Wine. /start starts the program
// from this folder and leaves it running; /close closes it (WM_CLOSE to its
// visible top-level windows) and waits for it to end.
//
//   zbmemmap <program.exe | process id> [/regions | /start | /close]
#include <windows.h>

#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <map>
#include <string>

#include "common/handles.h"

namespace {

// Offsets in the 64-bit TEB and PEB that winternl.h leaves opaque.
constexpr size_t kTebDeallocationStack = 0x1478;
constexpr size_t kPebProcessHeap = 0x30;
constexpr size_t kPebNumberOfHeaps = 0xE8;
constexpr size_t kPebProcessHeaps = 0xF0;
constexpr ULONG kThreadBasicInformation = 0;
constexpr ULONG kThreadQuerySetWin32StartAddress = 9;

struct ThreadBasicInformation {
    NTSTATUS ExitStatus;
    PVOID TebBaseAddress;
    CLIENT_ID ClientId;
    ULONG_PTR AffinityMask;
    LONG Priority;
    LONG BasePriority;
};

using NtQueryInformationThreadFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtQueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

DWORD FindProcess(const wchar_t* name) {
    zb::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.Get() == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, name) == 0)
            return entry.th32ProcessID;
    }
    return 0;
}

template <typename T> bool ReadRemote(HANDLE process, ULONG_PTR address, T* value) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), value, sizeof(T),
                             &read) &&
           read == sizeof(T);
}

// The module a thread's start address lies in.
std::wstring StartModule(HANDLE process, ULONG_PTR start) {
    MEMORY_BASIC_INFORMATION mbi = {};
    if (!start ||
        VirtualQueryEx(process, reinterpret_cast<LPCVOID>(start), &mbi, sizeof(mbi)) != sizeof(mbi))
        return L"?";
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleFileNameExW(process, static_cast<HMODULE>(mbi.AllocationBase), path, MAX_PATH))
        return L"?";
    const wchar_t* slash = wcsrchr(path, L'\\');
    wchar_t text[MAX_PATH + 32] = {};
    swprintf(
        text, ARRAYSIZE(text), L"%ls+%llx", slash ? slash + 1 : path,
        static_cast<unsigned long long>(start - reinterpret_cast<ULONG_PTR>(mbi.AllocationBase)));
    return text;
}

// Labels by allocation base: each thread's stack (from its TEB's
// DeallocationStack) and the process heaps (from the PEB).
std::map<ULONG_PTR, std::wstring> KnownAllocations(HANDLE process, DWORD pid) {
    std::map<ULONG_PTR, std::wstring> labels;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto queryThread = reinterpret_cast<NtQueryInformationThreadFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationThread")));
    auto queryProcess = reinterpret_cast<NtQueryInformationProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationProcess")));

    zb::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {sizeof(entry)};
    int index = 0;
    for (BOOL more = snapshot && Thread32First(snapshot.Get(), &entry); queryThread && more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != pid)
            continue;
        zb::UniqueHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        ThreadBasicInformation info = {};
        ULONG_PTR stack = 0;
        ULONG_PTR start = 0;
        if (thread)
            queryThread(thread.Get(), kThreadQuerySetWin32StartAddress, &start, sizeof(start),
                        nullptr);
        if (thread &&
            queryThread(thread.Get(), kThreadBasicInformation, &info, sizeof(info), nullptr) >= 0 &&
            ReadRemote(process,
                       reinterpret_cast<ULONG_PTR>(info.TebBaseAddress) + kTebDeallocationStack,
                       &stack) &&
            stack)
            labels[stack] = L"stack of thread " + std::to_wstring(index) + L" (starts in " +
                            StartModule(process, start) + L")";
        ++index;
    }

    PROCESS_BASIC_INFORMATION basic = {};
    ULONG heaps = 0;
    ULONG_PTR list = 0;
    ULONG_PTR processHeap = 0;
    if (queryProcess &&
        queryProcess(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) >= 0 &&
        ReadRemote(process, reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress) + kPebProcessHeap,
                   &processHeap) &&
        processHeap)
        labels[processHeap] = L"process heap";
    if (queryProcess &&
        ReadRemote(process, reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress) + kPebNumberOfHeaps,
                   &heaps) &&
        ReadRemote(process, reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress) + kPebProcessHeaps,
                   &list)) {
        for (ULONG i = 0; i < heaps && i < 64; ++i) {
            ULONG_PTR heap = 0;
            if (ReadRemote(process, list + i * sizeof(ULONG_PTR), &heap) && heap &&
                heap != processHeap)
                labels[heap] = L"heap " + std::to_wstring(i);
        }
    }
    return labels;
}

std::wstring ModuleName(HANDLE process, ULONG_PTR base) {
    wchar_t path[MAX_PATH] = {};
    if (!GetModuleFileNameExW(process, reinterpret_cast<HMODULE>(base), path, MAX_PATH) &&
        !GetMappedFileNameW(process, reinterpret_cast<LPVOID>(base), path, MAX_PATH))
        return L"?";
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

bool Writable(DWORD protect) {
    return (protect & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE |
                       PAGE_EXECUTE_WRITECOPY)) != 0;
}

const wchar_t* TypeName(DWORD type) {
    return type == MEM_IMAGE ? L"image" : type == MEM_MAPPED ? L"mapped" : L"private";
}

BOOL CALLBACK CloseWindowOf(HWND hWnd, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(hWnd, &owner);
    if (owner == static_cast<DWORD>(pid) && IsWindowVisible(hWnd))
        PostMessageW(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

// Starts the program beside this one as the benches do (a Windows parent,
// not a shell) and leaves it running.
int Start(const wchar_t* exe) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path);
    program = program.substr(0, program.find_last_of(L'\\') + 1) + exe;
    std::wstring cmd = L"\"" + program + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        fwprintf(stderr, L"zbmemmap: cannot start %ls (%lu)\n", program.c_str(), GetLastError());
        return 1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

int Close(DWORD pid) {
    zb::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    EnumWindows(CloseWindowOf, pid);
    return process && WaitForSingleObject(process.Get(), 30000) == WAIT_OBJECT_0 ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr,
                 L"usage: zbmemmap <program.exe | process id> [/regions | /start | /close]\n");
        return 2;
    }
    if (argc > 2 && lstrcmpiW(argv[2], L"/start") == 0)
        return Start(argv[1]);
    const bool regions = argc > 2 && lstrcmpiW(argv[2], L"/regions") == 0;
    DWORD pid = wcstoul(argv[1], nullptr, 10);
    if (!pid)
        pid = FindProcess(argv[1]);
    if (pid && argc > 2 && lstrcmpiW(argv[2], L"/close") == 0)
        return Close(pid);
    zb::UniqueHandle process(
        pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr);
    if (!process) {
        fwprintf(stderr, L"zbmemmap: no process %ls (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    std::map<ULONG_PTR, std::wstring> known = KnownAllocations(process.Get(), pid);

    // Committed bytes by label; an image's label is its module's name.
    std::map<std::wstring, SIZE_T> committed;
    std::map<std::wstring, SIZE_T> writable;
    SIZE_T totals[3] = {};
    std::map<ULONG_PTR, std::wstring> names;
    MEMORY_BASIC_INFORMATION mbi = {};
    for (ULONG_PTR address = 0; VirtualQueryEx(process.Get(), reinterpret_cast<LPCVOID>(address),
                                               &mbi, sizeof(mbi)) == sizeof(mbi);
         address = reinterpret_cast<ULONG_PTR>(mbi.BaseAddress) + mbi.RegionSize) {
        if (mbi.RegionSize == 0)
            break;
        if (mbi.State != MEM_COMMIT)
            continue;
        const ULONG_PTR base = reinterpret_cast<ULONG_PTR>(mbi.AllocationBase);
        std::wstring label;
        const auto it = known.find(base);
        if (it != known.end()) {
            label = it->second;
        } else if (mbi.Type == MEM_PRIVATE && (mbi.Protect & PAGE_GUARD)) {
            // A guard page that no live thread's stack owns: the stack of
            // a thread that has ended, which the process still holds.
            label = L"stack of an ended thread";
            known[base] = label;
        } else if (mbi.Type == MEM_PRIVATE) {
            label = L"other private";
        } else {
            auto name = names.find(base);
            if (name == names.end())
                name = names.emplace(base, ModuleName(process.Get(), base)).first;
            label = name->second;
        }
        const int kind = mbi.Type == MEM_IMAGE ? 0 : mbi.Type == MEM_MAPPED ? 1 : 2;
        totals[kind] += mbi.RegionSize;
        const std::wstring key = std::wstring(TypeName(mbi.Type)) + L" " + label;
        committed[key] += mbi.RegionSize;
        if (Writable(mbi.Protect))
            writable[key] += mbi.RegionSize;
        if (regions)
            wprintf(L"region %llx %llx %ls %lx %ls\n",
                    static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(mbi.BaseAddress)),
                    static_cast<unsigned long long>(mbi.RegionSize), TypeName(mbi.Type),
                    mbi.Protect, label.c_str());
    }

    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    wprintf(L"%ls (process %lu): private bytes %.1f MiB (page-file usage %.1f MiB), working set "
            L"%.1f MiB\n",
            argv[1], pid, counters.PrivateUsage / 1048576.0, counters.PagefileUsage / 1048576.0,
            counters.WorkingSetSize / 1048576.0);
    wprintf(L"committed: image %.1f MiB, mapped %.1f MiB, private %.1f MiB\n",
            totals[0] / 1048576.0, totals[1] / 1048576.0, totals[2] / 1048576.0);
    wprintf(L"%10ls %10ls  %ls\n", L"KiB", L"writable", L"what");
    for (const auto& entry : committed)
        wprintf(L"%10llu %10llu  %ls\n", static_cast<unsigned long long>(entry.second / 1024),
                static_cast<unsigned long long>(writable[entry.first] / 1024), entry.first.c_str());
    return 0;
}
