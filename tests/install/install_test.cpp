// The install helpers as the installer runs them: the commands they give
// the system's SCHTASKS and regedit (read back from the simulated tools'
// record), the files beside the scheduler, the registry rights, and the
// removal's work on the batteries, tasks and settings.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/machine.h"
#include "common/reg.h"
#include "common/settings.h"
#include "install/install_actions.h"
#include "tests/install/install_support.h"
#include "sim/text_io.h"
#include "support/suite_env.h"

namespace {

using namespace installtest;
using testenv::RunProgram;

constexpr wchar_t kAppPathsEntry[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zbSched.exe";
constexpr wchar_t kFakeSchedulerKey[] = L"Software\\zbtest\\scheduler";
// A logon task, the kind the scheduler's and the repair task's files hold.
constexpr wchar_t kTaskXml[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>\r\n"
    L"  <Actions Context=\"Author\"><Exec><Command>cmd.exe</Command></Exec></Actions>\r\n"
    L"</Task>\r\n";
constexpr wchar_t kRegFile[] = L"Windows Registry Editor Version 5.00\r\n\r\n"
                               L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZEL\\VADOvur\\Refresh]\r\n"
                               L"\"InstalledDefault\"=dword:00000007\r\n";

void WriteUtf16(const std::wstring& path, const std::wstring& text) {
    ASSERT_TRUE(testenv::WriteUtf16File(path, text)) << path;
}

// The three files the installer puts beside the scheduler at folder + name.
void PutInstallerFiles(const std::wstring& scheduler) {
    WriteUtf16(scheduler + L".run.xml", kTaskXml);
    WriteUtf16(scheduler + L".xml", kTaskXml);
    WriteUtf16(scheduler + L".reg", kRegFile);
}

std::wstring FakeSchedulerRecord(const wchar_t* name) {
    wchar_t text[1024] = {};
    CReg::GetSZ(HKEY_CURRENT_USER, kFakeSchedulerKey, name, text, sizeof(text) - sizeof(wchar_t));
    return text;
}

class InstallHelperTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override {
        SuiteStateTest::SetUp();
        ASSERT_EQ(0, testenv::SetUpMachine(L"profile=two"));
        before_ = Machine();
        CreateDirectoryW(ProgramFolder().c_str(), nullptr);
        SetAppPath(ProgramFolder() + L"zbSched.exe");
        for (const wchar_t* task : {L"zelZbSchedRun", L"vadOvurRegFix"})
            DeleteFileW(TaskFile(task).c_str());
        DeleteFileW(RecordPath().c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kFakeSchedulerKey);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppPathsEntry);
        SuiteStateTest::TearDown();
    }

    static void SetAppPath(const std::wstring& scheduler) {
        ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_LOCAL_MACHINE, kAppPathsEntry, L"", scheduler.c_str()));
    }

    // Calls of the device library's install and uninstall operations since
    // SetUp.
    uint32_t InstallCalls() const { return Machine().installCalls - before_.installCalls; }
    uint32_t UninstallCalls() const { return Machine().uninstallCalls - before_.uninstallCalls; }

private:
    static sim::Machine Machine() {
        sim::Machine m = {};
        EXPECT_EQ(0u, sim::ReadMachine(&m));
        return m;
    }

    sim::Machine before_ = {};
};

} // namespace

// "/Commit" with "/Uninstall" runs the commit actions only: the scheduler's
// and the repair task from their files with no delay, the registry file
// imported, all three files deleted, the rights widened; nothing of the
// removal, and "Limited" left alone on a system after Windows XP.
TEST_F(InstallHelperTest, CommitWinsOverUninstall) {
    const std::wstring scheduler = ProgramFolder() + L"zbSched.exe";
    PutInstallerFiles(scheduler);
    ASSERT_EQ(S_OK, CReg::Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZEL\\VADOvur\\Refresh"));

    ASSERT_EQ(0, RunProgram(L"instzbw.exe", L"/Commit /Uninstall", 60000));

    const std::wstring p = L"\"" + scheduler;
    const std::vector<std::wstring> expected = {
        L"schtasks|SCHTASKS /create /xml " + p + L".run.xml\" /tn zelZbSchedRun /F",
        L"schtasks|SCHTASKS /Change /Delay 0000:00 /tn zelZbSchedRun ",
        L"regedit|regedit /s " + p + L".reg\"",
        L"schtasks|SCHTASKS /create /xml " + p + L".xml\" /tn vadOvurRegFix /F",
        L"schtasks|SCHTASKS /Change /Delay 0000:00 /tn vadOvurRegFix ",
    };
    EXPECT_EQ(expected, Recorded());
    for (const wchar_t* task : {L"zelZbSchedRun", L"vadOvurRegFix"})
        EXPECT_NE(std::wstring::npos, TaskText(task).find(L"<Delay>PT0S</Delay>")) << task;
    for (const wchar_t* suffix : {L".run.xml", L".reg", L".xml"})
        EXPECT_FALSE(Exists(scheduler + suffix)) << suffix;
    DWORD imported = 0;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"InstalledDefault",
                                &imported));
    EXPECT_EQ(7u, imported);
    ExpectSettingsRightsRepaired();
    EXPECT_EQ(1u, InstallCalls());
    EXPECT_EQ(0u, UninstallCalls());
    EXPECT_TRUE(FakeSchedulerRecord(L"Starts").empty());
    DWORD limited = 0;
    EXPECT_EQ(E_FAIL, CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, L"Limited", &limited));
}

// On Windows XP "/Commit" marks the machine as limited. "/DELAY" without a
// word passes an empty delay on: two spaces before "/tn".
TEST_F(InstallHelperTest, CommitOnXpWithEmptyDelay) {
    const wchar_t versionKey[] = L"Software\\Wine\\AppDefaults\\instzbw.exe";
    ASSERT_EQ(S_OK, CReg::SetSZ(HKEY_CURRENT_USER, versionKey, L"Version", L"winxp64"));
    PutInstallerFiles(ProgramFolder() + L"zbSched.exe");

    const int rc = RunProgram(L"instzbw.exe", L"/Commit /DELAY", 60000);
    RegDeleteTreeW(HKEY_CURRENT_USER, versionKey);
    ASSERT_EQ(0, rc);

    const std::vector<std::wstring> lines = Recorded();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(L"schtasks|SCHTASKS /Change /Delay  /tn zelZbSchedRun ", lines[1]);
    EXPECT_EQ(L"schtasks|SCHTASKS /Change /Delay  /tn vadOvurRegFix ", lines[4]);
    EXPECT_EQ(1u, GetRegLimited());
}

// Files beside a scheduler outside the program folder are neither used nor
// deleted; the actions that follow still run.
TEST_F(InstallHelperTest, FilesOutsideTheProgramFolderStay) {
    const std::wstring elsewhere = SpecialFolder(CSIDL_COMMON_APPDATA, L"elsewhere\\");
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    PutInstallerFiles(elsewhere + L"zbSched.exe");
    SetAppPath(elsewhere + L"zbSched.exe");

    ASSERT_EQ(0, RunProgram(L"instzbw.exe", L"/Commit", 60000));

    EXPECT_TRUE(Recorded().empty());
    for (const wchar_t* suffix : {L".run.xml", L".reg", L".xml"})
        EXPECT_TRUE(Exists(elsewhere + L"zbSched.exe" + suffix)) << suffix;
    EXPECT_FALSE(UsersGrants(SETTINGS_KEY_MAIN).empty());
    for (ACCESS_MASK mask : UsersGrants(SETTINGS_KEY_MAIN))
        EXPECT_EQ(zbinstall::kUsersKeyAccess, mask & zbinstall::kUsersKeyAccess);
}

// "/StandAlone" finds the scheduler beside the helper, imports the registry
// file and keeps it; instzb without switches changes nothing at all.
TEST_F(InstallHelperTest, StandAloneKeepsTheRegistryFileAndNoSwitchDoesNothing) {
    const std::wstring helper = ProgramFolder() + L"instzb.exe";
    ASSERT_TRUE(CopyFileW((testenv::BinDir() + L"instzb.exe").c_str(), helper.c_str(), FALSE));
    const std::wstring scheduler = ProgramFolder() + L"zbSched.exe";
    PutInstallerFiles(scheduler);
    ASSERT_EQ(S_OK, CReg::Create(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN));
    const std::vector<ACCESS_MASK> before = UsersGrants(SETTINGS_KEY_MAIN);

    ASSERT_EQ(0, RunProgram(L"instzb.exe", L"", 30000));
    EXPECT_TRUE(Recorded().empty());
    EXPECT_EQ(before, UsersGrants(SETTINGS_KEY_MAIN));
    for (const wchar_t* suffix : {L".run.xml", L".reg", L".xml"})
        EXPECT_TRUE(Exists(scheduler + suffix)) << suffix;

    PROCESS_INFORMATION pi = {};
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::wstring command = L"\"" + helper + L"\" /StandAlone";
    ASSERT_TRUE(CreateProcessW(helper.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 30000));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    EXPECT_EQ(std::vector<std::wstring>{L"regedit|regedit /s \"" + scheduler + L".reg\""},
              Recorded());
    EXPECT_TRUE(Exists(scheduler + L".reg"));
    EXPECT_TRUE(Exists(scheduler + L".run.xml"));
    DWORD imported = 0;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"InstalledDefault",
                                &imported));
    EXPECT_EQ(0u, InstallCalls());
}

// At removal the helper starts no scheduler (not even the one at its fixed
// place, nor a "C:\Program.exe"), sets both batteries to full charge
// itself, and deletes both tasks and the settings key; the person's own
// settings stay. "/StandAlone" beside "/Uninstall" adds nothing.
TEST_F(InstallHelperTest, UninstallResetsTheBatteriesItselfAndLeavesNothing) {
    const std::wstring scheduler = ProgramFolder() + L"zbSched.exe";
    const std::wstring fake = testenv::BinDir() + L"fake_scheduler.exe";
    ASSERT_TRUE(CopyFileW(fake.c_str(), scheduler.c_str(), FALSE));
    const std::wstring decoy = L"C:\\Program.exe";
    ASSERT_TRUE(CopyFileW(fake.c_str(), decoy.c_str(), FALSE));
    PutInstallerFiles(scheduler);
    for (const wchar_t* task : {L"zelZbSchedRun", L"vadOvurRegFix"})
        WriteUtf16(TaskFile(task), kTaskXml);
    ASSERT_EQ(0u, sim::Modify([](sim::Machine& m) -> DWORD {
                  m.battery[0].chargeMode = 80;
                  m.battery[1].chargeMode = 50;
                  return 0;
              }));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"Log", 0));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"ReadMeCheck", 1));

    const int rc = RunProgram(L"instzbw.exe", L"/Uninstall /StandAlone", 60000);
    HWND window = FindWindowW(L"zbSched", nullptr);
    if (window)
        PostMessageW(window, WM_CLOSE, 0, 0);
    DeleteFileW(decoy.c_str());
    ASSERT_EQ(0, rc);

    EXPECT_EQ((std::vector<std::wstring>{L"schtasks|SCHTASKS /Delete /TN zelZbSchedRun /F",
                                         L"schtasks|SCHTASKS /Delete /TN vadOvurRegFix /F"}),
              Recorded());
    for (const wchar_t* task : {L"zelZbSchedRun", L"vadOvurRegFix"})
        EXPECT_FALSE(Exists(TaskFile(task))) << task;
    EXPECT_EQ(nullptr, window);
    EXPECT_TRUE(FakeSchedulerRecord(L"Starts").empty());
    sim::Machine m = {};
    ASSERT_EQ(0u, sim::ReadMachine(&m));
    EXPECT_EQ(0u, m.battery[0].chargeMode);
    EXPECT_EQ(0u, m.battery[1].chargeMode);
    EXPECT_EQ(1u, UninstallCalls());
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, 0, KEY_READ, &key));
    if (key)
        RegCloseKey(key);
    EXPECT_EQ(1u, GetRegReadMeCheck());
    EXPECT_TRUE(Exists(scheduler + L".reg"));
}

// The rights repair on one key: grants of Users widened to what the
// programs need, WRITE_DAC and WRITE_OWNER taken away, denials untouched,
// nothing added; a second run finds nothing to change.
TEST(RepairKeyRights, WidensGrantsWithoutPermissionOrOwnerChanges) {
    const wchar_t path[] = L"SOFTWARE\\zbtest\\rights";
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &raw, nullptr));
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;KR;;;BU)(A;;KA;;;BA)(D;;KW;;;BU)(A;;KA;;;BU)", SDDL_REVISION_1, &sd, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(raw, DACL_SECURITY_INFORMATION, sd));
    LocalFree(sd);

    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), zbinstall::RepairKeyRights(raw));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), zbinstall::RepairKeyRights(raw));

    std::vector<BYTE> buffer(4096);
    DWORD cb = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(raw, DACL_SECURITY_INFORMATION, buffer.data(), &cb));
    RegCloseKey(raw);
    const std::vector<ACCESS_MASK> grants = UsersGrants(path);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\zbtest");
    const ACCESS_MASK needed = zbinstall::kUsersKeyAccess;
    EXPECT_EQ(
        (std::vector<ACCESS_MASK>{needed, (KEY_ALL_ACCESS | needed) & ~(WRITE_DAC | WRITE_OWNER)}),
        grants);
    // The denial is the third entry, as it was.
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted) && dacl);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 2, &ace));
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, static_cast<ACE_HEADER*>(ace)->AceType);
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_WRITE), static_cast<ACCESS_DENIED_ACE*>(ace)->Mask);
}
