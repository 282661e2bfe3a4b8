// A real installation: the package built by "make package" installed
// quietly with msiexec, repaired and removed again, checked as a person
// would check it (files, App Paths, tasks, registry, Programs and
// Features, processes) and on the simulated notebook, with the scheduler,
// the main screen and the refresh tool taking part once the build has them.
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/reg.h"
#include "common/settings.h"
#include "install/install_actions.h"
#include "sim/machine.h"
#include "support/suite_env.h"
#include "tests/install/install_support.h"

namespace {

using namespace installtest;

constexpr DWORD kMsiexecWaitMs = 120000;
// What an install, repair or removal may take at most, and every wait here.
constexpr DWORD kBoundMs = 60000;
constexpr wchar_t kUserSetting[] = L"RoutineCheckIntervalDays";
constexpr wchar_t kDisabled[] = L"<Enabled>false</Enabled>";
constexpr wchar_t kAppPathsEntry[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zbSched.exe";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The newest VADOvur-<version>.msi beside the build's bin folder.
std::wstring PackagePath() {
    const std::wstring folder = testenv::BinDir() + L"..\\";
    WIN32_FIND_DATAW data = {};
    HANDLE find = FindFirstFileW((folder + L"VADOvur-*.msi").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return L"";
    std::wstring best;
    FILETIME newest = {};
    do {
        if (CompareFileTime(&data.ftLastWriteTime, &newest) > 0) {
            newest = data.ftLastWriteTime;
            best = folder + data.cFileName;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return best;
}

// Runs msiexec quietly; its exit code, or -1. *seconds: how long it took.
int Msiexec(const wchar_t* action, const std::wstring& package, double* seconds,
            const wchar_t* properties = L"") {
    std::wstring command =
        L"msiexec.exe " + std::wstring(action) + L" \"" + package + L"\" " + properties + L" /qn";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    const auto start = std::chrono::steady_clock::now();
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, kMsiexecWaitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, static_cast<UINT>(-1));
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

// The Programs and Features entry whose display name is the product's.
bool HasProgramsAndFeaturesEntry() {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &root) != ERROR_SUCCESS)
        return false;
    bool found = false;
    wchar_t name[256];
    for (DWORD i = 0; !found; ++i) {
        DWORD cch = ARRAYSIZE(name);
        if (RegEnumKeyExW(root, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        wchar_t display[256] = {};
        const std::wstring sub = std::wstring(kUninstallKey) + L"\\" + name;
        if (SUCCEEDED(CReg::GetSZ(HKEY_LOCAL_MACHINE, sub.c_str(), L"DisplayName", display,
                                  sizeof(display) - sizeof(wchar_t))))
            found = lstrcmpW(display, L"VADOvur") == 0;
    }
    RegCloseKey(root);
    return found;
}

sim::Machine Machine() {
    sim::Machine m = {};
    EXPECT_EQ(0u, sim::ReadMachine(&m));
    return m;
}

// Starts an installed program; its process is not kept.
void StartInstalled(const std::wstring& folder, const wchar_t* exe, const wchar_t* args,
                    DWORD waitMs = 0) {
    std::wstring command = L"\"" + folder + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    if (waitMs) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, waitMs));
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

// The owner's charge modes, set as a person sets them: the installed main
// screen's "/import".
void ImportChargeModes(const std::wstring& folder, int mode1, int mode2) {
    const std::wstring config = testenv::BinDir() + L"package_test.cfg";
    ASSERT_TRUE(testenv::WriteUtf16File(
        config, L"[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\nChargeMode1=" +
                    std::to_wstring(mode1) + L"\r\nChargeMode2=" + std::to_wstring(mode2) +
                    L"\r\n"));
    StartInstalled(folder, L"zbMain.exe", (L"/import \"" + config + L"\"").c_str(), kBoundMs);
    DeleteFileW(config.c_str());
}

// After a removal: no program of the suite runs, and no file, task or
// machine setting of it is left.
void ExpectNothingLeft(const std::wstring& folder) {
    for (const wchar_t* exe :
         {L"zbRefresh.exe", L"zbSched.exe", L"zbMain.exe", L"instzbw.exe", L"instzb.exe"})
        EXPECT_TRUE(ProcessesNamed(exe).empty()) << exe << " still runs";
    EXPECT_FALSE(Exists(folder)) << "the program folder is left";
    for (const wchar_t* task : {L"zelZbSchedRun", L"vadOvurRegFix"})
        EXPECT_FALSE(Exists(TaskFile(task))) << task;
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_MAIN, 0, KEY_READ, &key));
    if (key)
        RegCloseKey(key);
    EXPECT_FALSE(HasProgramsAndFeaturesEntry());
}

// Both batteries charge fully, with the firmware's refresh switched off.
void ExpectBatteriesChargeFully() {
    const sim::Machine m = Machine();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(0u, m.battery[i].chargeMode) << "battery " << i + 1;
        EXPECT_EQ(1u, m.battery[i].adpc) << "battery " << i + 1;
        EXPECT_EQ(1u, m.battery[i].chgc) << "battery " << i + 1;
    }
}

} // namespace

TEST(Package, InstallsAndRemovesCleanly) {
    const std::wstring package = PackagePath();
    if (package.empty())
        GTEST_SKIP() << "no package: run make package";
    testenv::CleanSuiteState();
    ASSERT_EQ(0, testenv::SetUpMachine(L"profile=two\nbattery1.percent=100"));
    const sim::Machine before = Machine();
    const std::wstring folder = ProgramFolder();

    double installSeconds = 0;
    ASSERT_EQ(0, Msiexec(L"/i", package, &installSeconds));
    printf("install: %.1f s\n", installSeconds);

    for (const wchar_t* file :
         {L"instzbw.exe", L"instzb.exe", L"zbRefresh.exe", L"KX_NTF.dll", L"cellio.dll",
          L"refreshplan", L"VADOvur.chm", L"policy\\VADOvur.admx", L"policy\\en-US\\VADOvur.adml",
          L"policy\\ja-JP\\VADOvur.adml"})
        EXPECT_TRUE(Exists(folder + file)) << file;
    wchar_t appPath[MAX_PATH] = {};
    EXPECT_EQ(S_OK, CReg::GetSZ(HKEY_LOCAL_MACHINE, kAppPathsEntry, L"", appPath,
                                sizeof(appPath) - sizeof(wchar_t)));
    EXPECT_EQ(folder + L"zbSched.exe", appPath);
    for (const wchar_t* task : {L"zelZbSchedRun", L"vadOvurRegFix"})
        EXPECT_NE(std::wstring::npos, TaskText(task).find(L"<Delay>PT0S</Delay>")) << task;
    EXPECT_EQ(1u, Machine().installCalls - before.installCalls);
    // The registry file imported, then all three installer files deleted.
    DWORD log = 1;
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_LOCAL_MACHINE, SETTINGS_KEY_REFRESH, L"Log", &log));
    EXPECT_EQ(0u, log);
    const std::vector<std::wstring> commands = Recorded();
    EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(),
                                        L"regedit|regedit /s \"" + folder + L"zbSched.exe.reg\""));
    for (const wchar_t* file : {L"zbSched.exe.run.xml", L"zbSched.exe.xml", L"zbSched.exe.reg"})
        EXPECT_FALSE(Exists(folder + file)) << file;
    ExpectSettingsRightsRepaired();
    EXPECT_TRUE(HasProgramsAndFeaturesEntry());

    // With the scheduler and the main screen in the package: the logon task
    // starts the scheduler, the main screen sets the batteries to 80 and
    // 50 %; the removal then comes during a refresh.
    const bool withScheduler = Exists(folder + L"zbSched.exe");
    const bool withMain = Exists(folder + L"zbMain.exe");
    if (withScheduler) {
        EXPECT_EQ(0, testenv::RunProgram(L"simctl.exe", L"tasks fire zelZbSchedRun"));
        EXPECT_TRUE(
            testenv::WaitUntil([] { return FindWindowW(L"zbSched", nullptr) != nullptr; }, 30000));
    }
    if (withMain) {
        ImportChargeModes(folder, 80, 50);
        EXPECT_EQ(80u, Machine().battery[0].chargeMode);
        EXPECT_EQ(50u, Machine().battery[1].chargeMode);
    }
    // A result the scheduler would show at its next start, and a person's
    // own setting.
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"LastRefreshStatus", 0));
    ASSERT_EQ(S_OK, CReg::SetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, kUserSetting, 3));
    // A refresh of battery 1 under way: its mode released, battery 2 held,
    // the firmware discharging.
    const bool withRefresh = withMain && Exists(folder + L"zbRefresh.exe");
    if (withRefresh) {
        StartInstalled(folder, L"zbRefresh.exe", L"/b1 /nomain");
        ASSERT_TRUE(testenv::WaitUntil(
            [] {
                const sim::Machine m = Machine();
                return m.battery[0].adpc == 0 && m.battery[1].chargeMode == 5;
            },
            kBoundMs));
    }

    double removeSeconds = 0;
    ASSERT_EQ(0, Msiexec(L"/x", package, &removeSeconds));
    printf("removal: %.1f s (%s)\n", removeSeconds,
           withRefresh ? "during a refresh, with the scheduler" : "no refresh tool built");
    EXPECT_LT(removeSeconds, kBoundMs / 1000.0);
    EXPECT_EQ(1u, Machine().uninstallCalls - before.uninstallCalls);
    ExpectNothingLeft(folder);
    ExpectBatteriesChargeFully();
    // The refresh record went; the person's own settings stay.
    DWORD value = 0;
    EXPECT_EQ(E_FAIL,
              CReg::GetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, L"LastRefreshStatus", &value));
    EXPECT_EQ(S_OK, CReg::GetDW(HKEY_CURRENT_USER, SETTINGS_KEY_MAIN, kUserSetting, &value));
}

// A repair puts back a logon task that was disabled, and a removal with no
// scheduler running starts none and leaves nothing behind.
TEST(Package, RepairRestoresTheTasksAndRemovalWithoutSchedulerLeavesNothing) {
    const std::wstring package = PackagePath();
    if (package.empty())
        GTEST_SKIP() << "no package: run make package";
    testenv::CleanSuiteState();
    ASSERT_EQ(0, testenv::SetUpMachine(L"profile=two\nbattery1.chargemode=80"));
    const std::wstring folder = ProgramFolder();
    double seconds = 0;
    ASSERT_EQ(0, Msiexec(L"/i", package, &seconds));

    ASSERT_EQ(0, testenv::RunProgram(L"schtasks.exe", L"/change /tn zelZbSchedRun /disable"));
    ASSERT_NE(std::wstring::npos, TaskText(L"zelZbSchedRun").find(kDisabled));
    ASSERT_EQ(0, Msiexec(L"/i", package, &seconds, L"REINSTALL=ALL REINSTALLMODE=vomus"));
    printf("repair: %.1f s\n", seconds);
    for (const wchar_t* task : {L"zelZbSchedRun", L"vadOvurRegFix"}) {
        const std::wstring text = TaskText(task);
        EXPECT_NE(std::wstring::npos, text.find(L"<Delay>PT0S</Delay>")) << task;
        EXPECT_EQ(std::wstring::npos, text.find(kDisabled)) << task;
    }
    for (const wchar_t* file : {L"zbSched.exe.run.xml", L"zbSched.exe.xml", L"zbSched.exe.reg"})
        EXPECT_FALSE(Exists(folder + file)) << file;

    ASSERT_TRUE(ProcessesNamed(L"zbSched.exe").empty());
    ASSERT_EQ(0, Msiexec(L"/x", package, &seconds));
    printf("removal: %.1f s (no scheduler)\n", seconds);
    EXPECT_LT(seconds, kBoundMs / 1000.0);
    ExpectNothingLeft(folder);
    ExpectBatteriesChargeFully();
}
