// The install helpers' actions. Every failure is silent towards the
// installer (the exit code stays 0 and the next action still runs); what
// failed goes to the shared trace log, which is written only while the
// "Log" setting is on.
#include "install/install_actions.h"

#include "common/handles.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/wrappers.h"

#include <objbase.h>
#include <strsafe.h>

#include <vector>

namespace zbinstall {
namespace {

// The pauses after each external command: the only hand-over to the task
// scheduler tool, the registry editor and the scheduler, whose completion
// is never awaited otherwise.
constexpr DWORD kTaskCommandPauseMs = 1500;
constexpr DWORD kImportPauseMs = 3000;
constexpr DWORD kSchedulerPollMs = 1000;
constexpr int kSchedulerAttempts = 30;
constexpr DWORD kAfterResetPauseMs = 1000;

// Every command is limited to MAX_PATH characters, and to MAX_PATH bytes
// once converted to the ANSI code page for WinExec.
constexpr size_t kCommandChars = MAX_PATH;

constexpr wchar_t kDeleteRepairTaskCommand[] = L"SCHTASKS /Delete /TN vadOvurRegFix /F";

// Runs a command as the installer's tools are run (WinExec takes ANSI text)
// and waits the fixed pause. Its result is not read: the tools report to no
// one here.
void RunCommand(LPCWSTR lpszCommand, DWORD dwPauseMs) {
    char command[kCommandChars] = {};
    if (!WideCharToMultiByte(CP_ACP, 0, lpszCommand, -1, command, ARRAYSIZE(command), nullptr,
                             nullptr)) {
        LogApiFailure(L"RunCommand", __LINE__, L"WideCharToMultiByte", GetLastError());
        return;
    }
    const UINT rc = WinExec(command, SW_SHOWNORMAL);
    if (rc <= 31)
        WriteLog(L"RunCommand", __LINE__, L"Fail to WinExec(). ErrorCode: %08x.\n", rc);
    if (dwPauseMs)
        Sleep(dwPauseMs);
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
// commands made from it must also fit the ANSI code page's 260 bytes.
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

// Registers a task from P + suffix with SCHTASKS, gives it the delay, and
// deletes the task file.
void RegisterTask(const SchedulerPath& path, LPCWSTR lpszSuffix, LPCWSTR lpszTask,
                  const std::wstring& delay) {
    wchar_t file[MAX_PATH] = {};
    if (!InstallerFile(path, lpszSuffix, file, ARRAYSIZE(file)))
        return;
    if (OpensForReading(file)) {
        wchar_t command[kCommandChars] = {};
        if (FormatCreateTaskCommand(path.wide, lpszSuffix, lpszTask, command, ARRAYSIZE(command)))
            RunCommand(command, kTaskCommandPauseMs);
        if (FormatChangeDelayCommand(delay.c_str(), lpszTask, command, ARRAYSIZE(command)))
            RunCommand(command, kTaskCommandPauseMs);
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
            RunCommand(command, kImportPauseMs);
    }
    if (deleteAfterwards)
        DeleteInstallerFile(file);
}

// The scheduler is started from its fixed place, quoted: unquoted, Windows
// would try "C:\Program.exe" first, with the installer's rights.
void StartScheduler() {
    wchar_t command[kCommandChars] = {};
    if (SUCCEEDED(StringCchPrintfW(command, ARRAYSIZE(command), L"\"%s\"", kSchedulerFixedPath)))
        RunCommand(command, 0);
}

// At removal: the repair task goes, and the scheduler (started when it is
// not running) puts every battery back to full charging.
void ResetChargeModes() {
    RunCommand(kDeleteRepairTaskCommand, 0);
    HWND scheduler = nullptr;
    for (int attempt = 0; attempt < kSchedulerAttempts && !scheduler; ++attempt) {
        scheduler = FindWindowW(SCHED_WINDOW_CLASS, nullptr);
        Sleep(kSchedulerPollMs);
        if (!scheduler)
            StartScheduler();
    }
    if (!scheduler) {
        WriteLog(L"ResetChargeModes", __LINE__, L"No scheduler window.\n");
        return;
    }
    SendMessageW(scheduler, WM_USER_RESETCHARGEMODE, 0, 0);
    Sleep(kAfterResetPauseMs);
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
        set.resetChargeModes = true;
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
                                      L"SCHTASKS /create /xml \"%s%s\" /tn %s ", lpszSchedPath,
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
    if (actions.deviceUninstall)
        device.onUninstall();
    const std::wstring delay = DelayText(args);

    SchedulerPath path;
    if (actions.pathFromAppPaths)
        ReadSchedulerFromAppPaths(&path);
    if (actions.registerSchedTask)
        RegisterTask(path, L".run.xml", kSchedulerTask, delay);
    if (actions.pathFromOwnFolder)
        ReadSchedulerFromOwnFolder(&path);
    if (actions.resetChargeModes)
        ResetChargeModes();
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
