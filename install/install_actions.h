// The install helpers (instzbw.exe with the device library, instzb.exe
// without): what the product's installer runs after the files are in place
// ("/Commit", also at a repair), before they are removed ("/Uninstall"),
// and what a person runs by hand in the program folder ("/StandAlone").
// One pass, no window, exit code 0 whatever happens: a failed step only
// skips the rest of its own action.
#pragma once

#include <windows.h>

#include "common/util.h"
#include "ipc/contract.h"

#include <string>

namespace zbinstall {

// The scheduler's App Paths entry (its window class and messages:
// ipc/contract.h).
constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

// Task names the system's SCHTASKS tool knows the suite's tasks by.
constexpr wchar_t kSchedulerTask[] = L"zelZbSchedRun";
constexpr wchar_t kRepairTask[] = L"vadOvurRegFix";

// Delay text when none is given: minutes:seconds, start at once.
constexpr wchar_t kNoDelay[] = L"0000:00";

// What one run does; each action at most once, in the order of the fields.
struct ActionSet {
    bool deviceInstall = false;     // CellioOnInstall
    bool deviceUninstall = false;   // CellioOnUninstall
    bool pathFromAppPaths = false;  // scheduler path from App Paths ...
    bool registerSchedTask = false; // ... and its logon task from ".run.xml"
    bool pathFromOwnFolder = false; // scheduler path beside the helper
    bool removeFromMachine = false; // end the suite's work, reset the batteries,
                                    // delete the tasks and the settings key
    bool importRegFile = false;     // "regedit /s" on ".reg"
    bool deleteRegFile = false;     // ... and delete the file afterwards
    bool registerRepairTask = false;
    bool widenRights = false;
    bool markXpLimited = false;
};

// The actions of a command line. "/Commit" wins over "/Uninstall", which
// wins over "/StandAlone"; without any of them only the helper with the
// device library repairs the registry rights.
ActionSet ChooseActions(const CommandLineMap& args, bool withDeviceLibrary);

// The word after "/DELAY" (possibly empty), or kNoDelay without "/DELAY".
std::wstring DelayText(const CommandLineMap& args);

// The commands the tools are run with. Each is limited to 260 characters;
// false when it does not fit (the command is then not run). A task is
// created with /F: at a repair or reinstall it replaces the one there, which
// may be disabled or damaged.
//   SCHTASKS /create /xml "<P><suffix>" /tn <task> /F
//   SCHTASKS /Change /Delay <delay> /tn <task>                (one space at the end)
//   regedit /s "<P>.reg"
bool FormatCreateTaskCommand(LPCWSTR lpszSchedPath, LPCWSTR lpszSuffix, LPCWSTR lpszTask,
                             LPWSTR lpszCommand, size_t cchCommand);
bool FormatChangeDelayCommand(LPCWSTR lpszDelay, LPCWSTR lpszTask, LPWSTR lpszCommand,
                              size_t cchCommand);
bool FormatImportCommand(LPCWSTR lpszSchedPath, LPWSTR lpszCommand, size_t cchCommand);

// Access that the local Users group gets on the settings key and its direct
// sub-keys: read, write, create sub-keys and delete. Never WRITE_DAC or
// WRITE_OWNER: with those any user could lock everyone else, administrators
// included, out of the suite's settings.
constexpr ACCESS_MASK kUsersKeyAccess = KEY_READ | KEY_WRITE | DELETE;

// Widens every access-allowed entry of Users in the key's access list to
// kUsersKeyAccess (and takes WRITE_DAC and WRITE_OWNER away from it). No
// entry is added. ERROR_SUCCESS when the list was written back,
// ERROR_NOT_FOUND when there was nothing to change, else the Win32 error.
DWORD RepairKeyRights(HKEY hKey);

// RepairKeyRights on HKLM\SOFTWARE\ZEL\VADOvur (created when missing) and
// on each of its direct sub-keys.
void WidenRegistryRights();

// The device library's install and uninstall operations, and the removal's
// work on the batteries through it; null in instzb.
struct DeviceLibrary {
    int(WINAPI* onInstall)() = nullptr;
    int(WINAPI* onUninstall)() = nullptr;
    // With no refresh tool running any more: puts right what a refresh that
    // was cut off left (charge modes, firmware refresh, power plan), then
    // sets every present battery back to full charge.
    void (*putBatteriesBack)() = nullptr;
};

// The whole run for a command line. Always 0, the helpers' exit code.
int RunInstallHelper(const CommandLineMap& args, const DeviceLibrary& device);

} // namespace zbinstall
