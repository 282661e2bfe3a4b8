// Shared by the install tests: the suite's folders, the simulated tools'
// record, the simulated Task Scheduler's files and the registry rights.
#include "tests/install/install_support.h"

#include <aclapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "common/settings.h"
#include "install/install_actions.h"
#include "sim/text_io.h"

namespace installtest {

std::wstring SpecialFolder(int csidl, const wchar_t* below) {
    wchar_t base[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, base, csidl, FALSE);
    return std::wstring(base) + L"\\" + below;
}

std::wstring ProgramFolder() {
    return SpecialFolder(CSIDL_PROGRAM_FILES, L"VADOvur\\");
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring RecordPath() {
    wchar_t path[MAX_PATH] = {};
    sim::CommandRecordPath(path, ARRAYSIZE(path));
    return path;
}

// "tool|command line" of every command the simulated tools ran.
std::vector<std::wstring> Recorded() {
    std::vector<char> bytes;
    DWORD error = 0;
    std::wstring text;
    std::vector<std::wstring> lines;
    if (!sim::ReadWholeFile(RecordPath().c_str(), &bytes, &error) || !sim::DecodeText(bytes, &text))
        return lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find(L"\r\n", start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::wstring::npos ? text.size() : end + 2;
    }
    return lines;
}

std::wstring TaskFile(const wchar_t* name) {
    return SpecialFolder(CSIDL_SYSTEM, L"Tasks\\") + name;
}

std::wstring TaskText(const wchar_t* name) {
    std::vector<char> bytes;
    DWORD error = 0;
    std::wstring text;
    if (sim::ReadWholeFile(TaskFile(name).c_str(), &bytes, &error))
        sim::DecodeText(bytes, &text);
    return text;
}

std::vector<DWORD> ProcessesNamed(const wchar_t* exe) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, exe) == 0)
            found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

// Access masks of the Users group's grants on a key of HKLM.
std::vector<ACCESS_MASK> UsersGrants(const wchar_t* subkey) {
    std::vector<ACCESS_MASK> masks;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, READ_CONTROL, &key) != ERROR_SUCCESS)
        return masks;
    std::vector<BYTE> sd(4096);
    DWORD cb = static_cast<DWORD>(sd.size());
    const LONG rc = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, sd.data(), &cb);
    RegCloseKey(key);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (rc != ERROR_SUCCESS || !GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted) ||
        !dacl)
        return masks;
    BYTE users[SECURITY_MAX_SID_SIZE] = {};
    DWORD cbSid = sizeof(users);
    CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &cbSid);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (GetAce(dacl, i, &ace) &&
            static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, users))
            masks.push_back(static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask);
    }
    return masks;
}

void ExpectSettingsRightsRepaired() {
    for (const wchar_t* key : {SETTINGS_KEY_MAIN, SETTINGS_KEY_REFRESH}) {
        const std::vector<ACCESS_MASK> grants = UsersGrants(key);
        EXPECT_FALSE(grants.empty()) << key;
        for (ACCESS_MASK mask : grants) {
            EXPECT_EQ(zbinstall::kUsersKeyAccess, mask & zbinstall::kUsersKeyAccess) << key;
            EXPECT_EQ(0u, mask & (WRITE_DAC | WRITE_OWNER)) << key;
        }
    }
}

} // namespace installtest
