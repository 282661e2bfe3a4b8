// Shared by the install tests: the suite's folders, the simulated tools'
// record of the commands they ran, the simulated Task Scheduler's files and
// the Users group's rights on registry keys.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace installtest {

// A special folder (CSIDL_*) joined with a path below it.
std::wstring SpecialFolder(int csidl, const wchar_t* below);
// <Program Files>\VADOvur\ with its trailing backslash.
std::wstring ProgramFolder();
bool Exists(const std::wstring& path);

// The simulated SCHTASKS' and regedit's record, "tool|command line" a line.
std::wstring RecordPath();
std::vector<std::wstring> Recorded();

// A task of the simulated Task Scheduler's root folder: its file, its text.
std::wstring TaskFile(const wchar_t* name);
std::wstring TaskText(const wchar_t* name);

// Ids of the processes of this program name now running, in any folder.
std::vector<DWORD> ProcessesNamed(const wchar_t* exe);

// Access masks of the Users group's grants on a key of HKLM.
std::vector<ACCESS_MASK> UsersGrants(const wchar_t* subkey);

// Users may read, write, create sub-keys and delete on the settings key and
// its "Refresh" sub-key, and never change their permissions or owner.
void ExpectSettingsRightsRepaired();

} // namespace installtest
