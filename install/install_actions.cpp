// The install helpers' actions. Every failure is silent towards the
// installer (the exit code stays 0 and the next action still runs); what
// failed goes to the shared trace log, which is written only while the
// "Log" setting is on.
#include "install/install_actions.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/wrappers.h"
#include "ipc/pipe.h"

#include <objbase.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <tlhelp32.h>

#include <vector>

namespace zbinstall {
namespace {

// The longest wait for one external tool (SCHTASKS, regedit, the refresh
// tool's "/end"): ended after it, so that the helper never leaves a process
// of its own behind.
constexpr DWORD kCommandWaitMs = 30000;
// How long a refresh tool asked to close may take to put the batteries and
// the power plan back and let go of its mutex.
constexpr DWORD kRefreshEndWaitMs = 30000;
// How long the scheduler or a main screen asked to close may take to end.
constexpr DWORD kWindowEndWaitMs = 5000;
// A program may have more than one such window (two main screens of two
// users on XP); each round closes one.
constexpr int kWindowRounds = 3;
constexpr DWORD kPollMs = 100;

constexpr size_t kCommandChars = MAX_PATH;

// Runs a command line without a window and waits for it: its exit code, or
// (DWORD)-1 when it could not start or had to be ended after the bound.
DWORD RunCommand(LPCWSTR lpszCommand) {
    wchar_t command[kCommandChars] = {};
    if (FAILED(StringCchCopyW(command, ARRAYSIZE(command), lpszCommand)))
        return static_cast<DWORD>(-1);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi)) {
        LogApiFailure(L"RunCommand", __LINE__, L"CreateProcess", GetLastError());
        return static_cast<DWORD>(-1);
    }
    const zb::UniqueHandle process(pi.hProcess);
    const zb::UniqueHandle thread(pi.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.Get(), kCommandWaitMs) != WAIT_OBJECT_0) {
        WriteLog(L"RunCommand", __LINE__, L"No end in %u ms, ended: %s\n", kCommandWaitMs,
                 lpszCommand);
        TerminateProcess(process.Get(), code);
        WaitForSingleObject(process.Get(), kCommandWaitMs);
    } else if (!GetExitCodeProcess(process.Get(), &code)) {
        LogApiFailure(L"RunCommand", __LINE__, L"GetExitCodeProcess", GetLastError());
    }
    return code;
}

// RunCommand, with a trace line when the tool reports a failure.
bool RunChecked(LPCWSTR lpszCommand) {
    const DWORD code = RunCommand(lpszCommand);
    if (code != 0)
        WriteLog(L"RunChecked", __LINE__, L"Exit code %d: %s\n", static_cast<int>(code),
                 lpszCommand);
    return code == 0;
}

bool OpensForReading(LPCWSTR lpszPath) {
    zb::UniqueHandle file(CreateFileW(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid();
}

void DeleteInstallerFile(LPCWSTR lpszPath) {
    if (!DeleteFileW(lpszPath) && GetLastError() != ERROR_FILE_NOT_FOUND)
        LogApiFailure(L"DeleteInstallerFile", __LINE__, L"DeleteFile", GetLastError());
}

// The scheduler's full path P. Empty until an action fills it; the
// commands made from it must fit 260 characters.
struct SchedulerPath {
    wchar_t wide[MAX_PATH] = {};

    bool IsSet() const { return wide[0] != L'\0'; }

    // P + suffix; false when it does not fit.
    bool Beside(LPCWSTR lpszSuffix, LPWSTR lpszFile, size_t cchFile) const {
        return SUCCEEDED(StringCchPrintfW(lpszFile, cchFile, L"%s%s", wide, lpszSuffix));
    }
};

// The scheduler's App Paths entry (default value, at most 520 bytes).
void ReadSchedulerFromAppPaths(SchedulerPath* path) {
    wchar_t key[MAX_PATH] = {};
    if (FAILED(
            StringCchPrintfW(key, ARRAYSIZE(key), L"%s\\%s.exe", kAppPathsKey, SCHED_WINDOW_CLASS)))
        return;
    zb::UniqueRegKey appPath;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, appPath.Put());
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"ReadSchedulerFromAppPaths", __LINE__, L"RegOpenKeyEx", rc);
        return;
    }
    DWORD type = 0;
    DWORD cb = sizeof(path->wide);
    rc = RegQueryValueExW(appPath.Get(), nullptr, nullptr, &type,
                          reinterpret_cast<BYTE*>(path->wide), &cb);
    path->wide[ARRAYSIZE(path->wide) - 1] = L'\0';
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        LogApiFailure(L"ReadSchedulerFromAppPaths", __LINE__, L"RegQueryValueEx", rc);
        path->wide[0] = L'\0';
    }
}

void ReadSchedulerFromOwnFolder(SchedulerPath* path) {
    wchar_t dir[MAX_PATH] = {};
    if (GetCurrentPath(dir, ARRAYSIZE(dir)) != ERROR_SUCCESS)
        return;
    if (FAILED(StringCchPrintfW(path->wide, ARRAYSIZE(path->wide), L"%s%s.exe", dir,
                                SCHED_WINDOW_CLASS))) {
        path->wide[0] = L'\0';
    }
}

// A file the installer put beside the scheduler: only ever one inside the
// suite's program folder is read or deleted.
bool InstallerFile(const SchedulerPath& path, LPCWSTR lpszSuffix, LPWSTR lpszFile, size_t cchFile) {
    return path.IsSet() && path.Beside(lpszSuffix, lpszFile, cchFile) && IsAllowedPath(lpszFile);
}

void DeleteTask(LPCWSTR lpszTask) {
    wchar_t command[kCommandChars] = {};
    if (SUCCEEDED(
            StringCchPrintfW(command, ARRAYSIZE(command), L"SCHTASKS /Delete /TN %s /F", lpszTask)))
        RunChecked(command);
}

// Registers a task from P + suffix with SCHTASKS, replacing the one there,
// gives it the delay, and deletes the task file. A task that cannot be
// replaced (damaged beyond what /F overwrites) is deleted and created anew.
void RegisterTask(const SchedulerPath& path, LPCWSTR lpszSuffix, LPCWSTR lpszTask,
                  const std::wstring& delay) {
    wchar_t file[MAX_PATH] = {};
    if (!InstallerFile(path, lpszSuffix, file, ARRAYSIZE(file)))
        return;
    if (OpensForReading(file)) {
        wchar_t command[kCommandChars] = {};
        if (FormatCreateTaskCommand(path.wide, lpszSuffix, lpszTask, command, ARRAYSIZE(command)) &&
            !RunChecked(command)) {
            DeleteTask(lpszTask);
            if (!RunChecked(command))
                WriteLog(L"RegisterTask", __LINE__, L"Task %s could not be created.\n", lpszTask);
        }
        if (FormatChangeDelayCommand(delay.c_str(), lpszTask, command, ARRAYSIZE(command)))
            RunChecked(command);
    }
    DeleteInstallerFile(file);
}

void ImportRegistryFile(const SchedulerPath& path, bool deleteAfterwards) {
    wchar_t file[MAX_PATH] = {};
    if (!InstallerFile(path, L".reg", file, ARRAYSIZE(file)))
        return;
    if (OpensForReading(file)) {
        wchar_t command[kCommandChars] = {};
        if (FormatImportCommand(path.wide, command, ARRAYSIZE(command)))
            RunChecked(command);
    }
    if (deleteAfterwards)
        DeleteInstallerFile(file);
}

// ---- Removal ------------------------------------------------------------------

template <typename Pred> bool WaitUntil(Pred pred, DWORD dwTimeoutMs) {
    for (DWORD waited = 0;; waited += kPollMs) {
        if (pred())
            return true;
        if (waited >= dwTimeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

// Ends every refresh tool process by force: the last resort when one did not
// close on request, so that none runs on from the removed folder.
void TerminateRefreshTools() {
    zb::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        LogApiFailure(L"TerminateRefreshTools", __LINE__, L"CreateToolhelp32Snapshot",
                      GetLastError());
        return;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, REFRESH_EXE_NAME) != 0)
            continue;
        zb::UniqueHandle process(
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process || !TerminateProcess(process.Get(), 1)) {
            LogApiFailure(L"TerminateRefreshTools", __LINE__, L"TerminateProcess", GetLastError());
            continue;
        }
        WaitForSingleObject(process.Get(), kCommandWaitMs);
    }
}

// A running refresh is asked to close ("zbRefresh /end" from the program
// folder); it then puts back what it changed itself. One that does not let
// go of its mutex in time is ended by force, and what it leaves is put
// right by the repair that follows.
void EndRefreshTool() {
    if (!RefreshToolMutexExists())
        return;
    WriteLog(L"EndRefreshTool", __LINE__, L"A refresh runs; asking it to close.\n");
    HANDLE raw = nullptr;
    const DWORD rc = CurrentModuleExe(REFRESH_EXE_NAME, L"/end", SW_HIDE, &raw);
    const zb::UniqueHandle endRequest(raw);
    if (rc != 0)
        LogApiFailure(L"EndRefreshTool", __LINE__, L"CurrentModuleExe", rc);
    if (endRequest && WaitForSingleObject(endRequest.Get(), kCommandWaitMs) != WAIT_OBJECT_0)
        TerminateProcess(endRequest.Get(), 1);
    if (WaitUntil([] { return !RefreshToolMutexExists(); }, kRefreshEndWaitMs))
        return;
    WriteLog(L"EndRefreshTool", __LINE__, L"The refresh did not close; ending it.\n");
    TerminateRefreshTools();
    if (!WaitUntil([] { return !RefreshToolMutexExists(); }, kRefreshEndWaitMs))
        WriteLog(L"EndRefreshTool", __LINE__, L"A refresh tool still holds its mutex.\n");
}

// The scheduler and the main screen are asked to close only when a window
// of theirs is found; neither is ever started for that.
//
// Sessions: the installer runs this helper as SYSTEM, and on Windows Vista
// and later SYSTEM lives in session 0 while every user's scheduler and main
// screen have their windows in the user's own session, where FindWindow
// from session 0 cannot see them. So on those systems nothing is found
// here: the package ends the user's scheduler with "zbSched /end" run as
// the user (impersonated), and "/end" never leaves a scheduler of its own.
// That is also why the helper resets the charge modes itself through the
// battery objects instead of asking a scheduler to do it: it has the same
// access to the firmware, and does not depend on a window it may not see.
// On Windows XP the first user shares session 0 with SYSTEM (and under
// Wine there is only one session), so the windows are found and closed here.
void CloseProgramWindows(LPCWSTR lpszClass) {
    for (int round = 0; round < kWindowRounds; ++round) {
        HWND window = FindWindowW(lpszClass, nullptr);
        if (!window)
            return;
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        const zb::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kWindowEndWaitMs,
                                 &result))
            LogApiFailure(L"CloseProgramWindows", __LINE__, L"SendMessageTimeout", GetLastError());
        if (process && WaitForSingleObject(process.Get(), kWindowEndWaitMs) != WAIT_OBJECT_0)
            WriteLog(L"CloseProgramWindows", __LINE__, L"%s did not end.\n", lpszClass);
    }
}

// What a finished or cut-off refresh left for its user to see: the outcome
// the next scheduler start would show as if it were new. Cleared in every
// user's hive that is loaded (the user whose refresh ran is logged on);
// the users' other settings stay.
void ClearUserRefreshRecords() {
    static const wchar_t* const kRecords[] = {L"LastRefreshStatus", L"LastRefreshUser"};
    for (DWORD index = 0;; ++index) {
        wchar_t user[256] = {};
        DWORD cchUser = ARRAYSIZE(user);
        if (RegEnumKeyExW(HKEY_USERS, index, user, &cchUser, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        wchar_t path[MAX_PATH] = {};
        if (FAILED(StringCchPrintfW(path, ARRAYSIZE(path), L"%s\\%s", user, SETTINGS_KEY_MAIN)))
            continue;
        zb::UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_USERS, path, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
            continue;
        for (LPCWSTR name : kRecords) {
            const LONG rc = RegDeleteValueW(key.Get(), name);
            if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
                LogApiFailure(L"ClearUserRefreshRecords", __LINE__, L"RegDeleteValue", rc);
        }
    }
}

// The machine's settings go with the suite: a reinstall must not push old
// charge modes ("CurrentMode_battN") back into the firmware. The maker's key
// above goes too when nothing else is left in it.
void DeleteSettingsKey() {
    const DWORD rc = SHDeleteKeyW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        LogApiFailure(L"DeleteSettingsKey", __LINE__, L"SHDeleteKey", rc);
    wchar_t maker[MAX_PATH] = {};
    if (FAILED(StringCchCopyW(maker, ARRAYSIZE(maker), SETTINGS_KEY_MAIN)))
        return;
    wchar_t* last = wcsrchr(maker, L'\\');
    if (!last)
        return;
    *last = L'\0';
    zb::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, maker, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return;
    DWORD subKeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subKeys != 0 || values != 0)
        return;
    key.Reset();
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, maker);
}

// At removal, before the files go: nothing of the suite keeps running,
// every battery charges fully, and no task, machine setting or refresh
// record stays behind. The batteries are set while the device library is
// still installed, so its uninstall operation comes after them.
void RemoveFromMachine(const DeviceLibrary& device) {
    EndRefreshTool();
    if (device.putBatteriesBack)
        device.putBatteriesBack();
    if (device.onUninstall)
        device.onUninstall();
    // The scheduler first: it may open a main screen, never the other way.
    CloseProgramWindows(SCHED_WINDOW_CLASS);
    CloseProgramWindows(MAIN_WINDOW_CLASS);
    ClearUserRefreshRecords();
    DeleteTask(kSchedulerTask);
    DeleteTask(kRepairTask);
    DeleteSettingsKey();
}

} // namespace

ActionSet ChooseActions(const CommandLineMap& args, bool withDeviceLibrary) {
    ActionSet set;
    if (HasSwitch(args, L"/Commit")) {
        set.deviceInstall = withDeviceLibrary;
        set.pathFromAppPaths = true;
        set.registerSchedTask = true;
        set.importRegFile = true;
        set.deleteRegFile = true;
        set.registerRepairTask = true;
        set.widenRights = true;
        set.markXpLimited = true;
    } else if (HasSwitch(args, L"/Uninstall")) {
        set.deviceUninstall = withDeviceLibrary;
        set.removeFromMachine = true;
    } else if (HasSwitch(args, L"/StandAlone")) {
        set.pathFromOwnFolder = true;
        set.importRegFile = true;
        set.widenRights = true;
    } else {
        set.widenRights = withDeviceLibrary;
    }
    return set;
}

std::wstring DelayText(const CommandLineMap& args) {
    const auto it = args.find(L"/DELAY");
    return it == args.end() ? std::wstring(kNoDelay) : it->second;
}

bool FormatCreateTaskCommand(LPCWSTR lpszSchedPath, LPCWSTR lpszSuffix, LPCWSTR lpszTask,
                             LPWSTR lpszCommand, size_t cchCommand) {
    if (IsAnyNullArg({{lpszSchedPath, L"lpszSchedPath"},
                      {lpszSuffix, L"lpszSuffix"},
                      {lpszTask, L"lpszTask"},
                      {lpszCommand, L"lpszCommand"}},
                     L"FormatCreateTaskCommand", __LINE__))
        return false;
    return SUCCEEDED(StringCchPrintfW(lpszCommand, cchCommand,
                                      L"SCHTASKS /create /xml \"%s%s\" /tn %s /F", lpszSchedPath,
                                      lpszSuffix, lpszTask));
}

// The delay is the installer's text, passed on unchanged, even empty.
bool FormatChangeDelayCommand(LPCWSTR lpszDelay, LPCWSTR lpszTask, LPWSTR lpszCommand,
                              size_t cchCommand) {
    if (IsAnyNullArg(
            {{lpszDelay, L"lpszDelay"}, {lpszTask, L"lpszTask"}, {lpszCommand, L"lpszCommand"}},
            L"FormatChangeDelayCommand", __LINE__))
        return false;
    return SUCCEEDED(StringCchPrintfW(lpszCommand, cchCommand,
                                      L"SCHTASKS /Change /Delay %s /tn %s ", lpszDelay, lpszTask));
}

bool FormatImportCommand(LPCWSTR lpszSchedPath, LPWSTR lpszCommand, size_t cchCommand) {
    if (IsAnyNullArg({{lpszSchedPath, L"lpszSchedPath"}, {lpszCommand, L"lpszCommand"}},
                     L"FormatImportCommand", __LINE__))
        return false;
    return SUCCEEDED(
        StringCchPrintfW(lpszCommand, cchCommand, L"regedit /s \"%s.reg\"", lpszSchedPath));
}

DWORD RepairKeyRights(HKEY hKey) {
    std::vector<BYTE> descriptor(256);
    DWORD cb = static_cast<DWORD>(descriptor.size());
    LONG rc = RegGetKeySecurity(hKey, DACL_SECURITY_INFORMATION, descriptor.data(), &cb);
    if (rc == ERROR_INSUFFICIENT_BUFFER) {
        descriptor.resize(cb);
        rc = RegGetKeySecurity(hKey, DACL_SECURITY_INFORMATION, descriptor.data(), &cb);
    }
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"RepairKeyRights", __LINE__, L"RegGetKeySecurity", rc);
        return rc;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted)) {
        const DWORD err = GetLastError();
        LogApiFailure(L"RepairKeyRights", __LINE__, L"GetSecurityDescriptorDacl", err);
        return err;
    }
    if (!present || !dacl)
        return ERROR_NOT_FOUND;

    BYTE usersSid[SECURITY_MAX_SID_SIZE] = {};
    DWORD cbSid = sizeof(usersSid);
    if (!CreateWellKnownSid(WinBuiltinUsersSid, nullptr, usersSid, &cbSid)) {
        const DWORD err = GetLastError();
        LogApiFailure(L"RepairKeyRights", __LINE__, L"CreateWellKnownSid", err);
        return err;
    }
    // Only grants are widened: widening a deny entry would lock Users out.
    bool changed = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace) ||
            static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (!EqualSid(&allowed->SidStart, usersSid))
            continue;
        const ACCESS_MASK wanted =
            (allowed->Mask | kUsersKeyAccess) & ~(WRITE_DAC | WRITE_OWNER | GENERIC_ALL);
        if (wanted != allowed->Mask) {
            allowed->Mask = wanted;
            changed = true;
        }
    }
    if (!changed)
        return ERROR_NOT_FOUND;
    rc = RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, descriptor.data());
    if (rc != ERROR_SUCCESS)
        LogApiFailure(L"RepairKeyRights", __LINE__, L"RegSetKeySecurity", rc);
    return rc;
}

void WidenRegistryRights() {
    zb::UniqueRegKey key;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.Put(), nullptr);
    if (rc != ERROR_SUCCESS) {
        LogApiFailure(L"WidenRegistryRights", __LINE__, L"RegCreateKeyEx", rc);
        return;
    }
    RepairKeyRights(key.Get());
    // Direct sub-keys only: the suite keeps no deeper keys of its own.
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD cchName = ARRAYSIZE(name);
        if (RegEnumKeyExW(key.Get(), index, name, &cchName, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        zb::UniqueRegKey sub;
        rc = RegOpenKeyExW(key.Get(), name, 0, KEY_ALL_ACCESS, sub.Put());
        if (rc != ERROR_SUCCESS) {
            LogApiFailure(L"WidenRegistryRights", __LINE__, L"RegOpenKeyEx", rc);
            continue;
        }
        RepairKeyRights(sub.Get());
    }
}

int RunInstallHelper(const CommandLineMap& args, const DeviceLibrary& device) {
    const ActionSet actions = ChooseActions(args, device.onInstall && device.onUninstall);
    if (actions.deviceInstall)
        device.onInstall();
    const std::wstring delay = DelayText(args);

    SchedulerPath path;
    if (actions.pathFromAppPaths)
        ReadSchedulerFromAppPaths(&path);
    if (actions.registerSchedTask)
        RegisterTask(path, L".run.xml", kSchedulerTask, delay);
    if (actions.pathFromOwnFolder)
        ReadSchedulerFromOwnFolder(&path);
    if (actions.removeFromMachine)
        RemoveFromMachine(actions.deviceUninstall ? device : DeviceLibrary());
    if (actions.importRegFile)
        ImportRegistryFile(path, actions.deleteRegFile);
    if (actions.registerRepairTask)
        RegisterTask(path, L".xml", kRepairTask, delay);
    if (actions.widenRights)
        WidenRegistryRights();

    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (actions.markXpLimited && IsWindowsXP())
        SetRegLimited(1);
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return 0;
}

} // namespace zbinstall
