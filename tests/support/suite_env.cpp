#include "support/suite_env.h"

#include <shlobj.h>

namespace testenv {
namespace {

const wchar_t kSuiteKey[] = L"SOFTWARE\\ZEL\\VADOvur";
const wchar_t* const kLogFiles[] = {L"vadovur_refresh.log", L"vadovur_error.log",
                                    L"vadovur_progress_01.log", L"vadovur_progress_02.log",
                                    L"vadovur_history.csv"};

std::wstring CommonAppData() {
    wchar_t dir[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, dir, CSIDL_COMMON_APPDATA, FALSE))
        return L".";
    return dir;
}

} // namespace

void CleanSuiteState() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSuiteKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSuiteKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\ZEL\\VADOvur");
    for (const wchar_t* name : kLogFiles) {
        const std::wstring path = LogPath(name);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
}

std::wstring BinDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring LogPath(const wchar_t* fileName) {
    return CommonAppData() + L"\\" + fileName;
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
            read = 0;
        bytes.resize(read);
    }
    CloseHandle(file);
    return bytes;
}

std::wstring ReadLogText(const wchar_t* fileName) {
    const std::vector<unsigned char> bytes = ReadFileBytes(LogPath(fileName));
    size_t start = (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) ? 2 : 0;
    std::wstring text((bytes.size() - start) / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data() + start, text.size() * 2);
    return text;
}

std::vector<std::wstring> ReadLogLines(const wchar_t* fileName) {
    std::vector<std::wstring> lines;
    const std::wstring text = ReadLogText(fileName);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L"\r\n", pos);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

HANDLE StartProgram(const wchar_t* exeName, const std::wstring& args) {
    const std::wstring exe = BinDir() + exeName;
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

namespace {

// The Linux path of a Windows path, in UTF-8; empty when Wine has none.
std::string UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(path.c_str()) : nullptr;
    if (!unix)
        return std::string();
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

std::string Utf8(const std::wstring& text) {
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], cb, nullptr, nullptr);
    return result;
}

} // namespace

bool StartProgramWithWineDebug(const wchar_t* exeName, const std::wstring& args,
                               const char* channels, const std::wstring& outputPath) {
    // Wine writes a process's debug channels to the Linux standard error it
    // inherited, which CreateProcess cannot redirect: the program is started
    // by a Linux shell instead, as "wine" would be from a terminal.
    using Spawn = LONG(CDECL*)(char* const argv[], int wait);
    const auto spawn = reinterpret_cast<Spawn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    const std::string exe = UnixPath(BinDir() + exeName);
    // The output file must exist for Wine to name its Linux path.
    HANDLE file = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    const std::string output = UnixPath(outputPath);
    if (!spawn || exe.empty() || output.empty())
        return false;
    std::string script = "WINEDEBUG=\"$1\" exec wine \"$2\" $3 2>>\"$4\"";
    std::string name = "sh", chan = channels, words = Utf8(args);
    char* argv[] = {const_cast<char*>("/bin/sh"),
                    const_cast<char*>("-c"),
                    &script[0],
                    &name[0],
                    &chan[0],
                    const_cast<char*>(exe.c_str()),
                    &words[0],
                    const_cast<char*>(output.c_str()),
                    nullptr};
    return spawn(argv, 0) == 0;
}

int RunProgram(const wchar_t* exeName, const std::wstring& args, DWORD timeoutMs) {
    HANDLE process = StartProgram(exeName, args);
    if (!process)
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, static_cast<UINT>(-1));
    CloseHandle(process);
    return static_cast<int>(code);
}

} // namespace testenv

namespace testenv {

bool WriteUtf16File(const std::wstring& path, const std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring withBom = L"\xFEFF" + text;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, withBom.data(), static_cast<DWORD>(withBom.size() * sizeof(wchar_t)),
                  &written, nullptr);
    CloseHandle(file);
    return ok && written == withBom.size() * sizeof(wchar_t);
}

int SetUpMachine(const std::wstring& lines) {
    // In the prefix's own temporary folder: the program folder is shared by
    // the test areas that run side by side, each in a prefix of its own.
    wchar_t folder[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    const DWORD len = GetTempPathW(ARRAYSIZE(folder), folder);
    if (len == 0 || len >= ARRAYSIZE(folder) || !GetTempFileNameW(folder, L"sim", 0, path))
        return -1;
    if (!WriteUtf16File(path, lines + L"\nspeed=0\n"))
        return -1;
    const int rc = RunProgram(L"simctl.exe", L"setup --file \"" + std::wstring(path) + L"\"");
    DeleteFileW(path);
    return rc;
}

int CountTrayIcons() {
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    int count = 0;
    for (HWND child = tray ? FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr)
                           : nullptr;
         child; child = FindWindowExW(tray, child, L"__winex11_tray_icon", nullptr))
        ++count;
    return count;
}

SYSTEMTIME MakeTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME t = {};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    return t;
}

} // namespace testenv
