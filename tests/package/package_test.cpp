// A real installation: the package built by "make package" installed
// quietly with msiexec and removed again, checked as a person would check
// it (files, App Paths, tasks, registry, Programs and Features), with the
// scheduler and the main screen taking part once the build has them.
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
int Msiexec(const wchar_t* action, const std::wstring& package, double* seconds) {
    std::wstring command = L"msiexec.exe " + std::wstring(action) + L" \"" + package + L"\" /qn";
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

} // namespace

TEST(Package, InstallsAndRemovesCleanly) {
    const std::wstring package = PackagePath();
    if (package.empty())
        GTEST_SKIP() << "no package: run make package";
    testenv::CleanSuiteState();
    ASSERT_EQ(0, testenv::SetUpMachine(L"profile=two"));
    const sim::Machine before = Machine();
    const std::wstring folder = ProgramFolder();

    double installSeconds = 0;
    ASSERT_EQ(0, Msiexec(L"/i", package, &installSeconds));
    printf("install: %.1f s\n", installSeconds);

    for (const wchar_t* file : {L"instzbw.exe", L"instzb.exe", L"zbRefresh.exe", L"KX_NTF.dll",
                                L"cellio.dll", L"refreshplan", L"VADOvur.chm"})
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
    // starts the scheduler, the main screen sets both batteries to 80 %.
    const bool withScheduler = Exists(folder + L"zbSched.exe");
    const bool withMain = Exists(folder + L"zbMain.exe");
    if (withScheduler) {
        EXPECT_EQ(0, testenv::RunProgram(L"simctl.exe", L"tasks fire zelZbSchedRun"));
        EXPECT_TRUE(
            testenv::WaitUntil([] { return FindWindowW(L"zbSched", nullptr) != nullptr; }, 30000));
    }
    if (withMain) {
        const std::wstring config = testenv::BinDir() + L"package_test.cfg";
        ASSERT_TRUE(testenv::WriteUtf16File(
            config, L"[Version]\r\nVadovurConfigVersion=1.0.0.0\r\n[Setting]\r\nChargeMode1=80\r\n"
                    L"ChargeMode2=80\r\n"));
        std::wstring command = L"\"" + folder + L"zbMain.exe\" /import \"" + config + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &si, &pi));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 30000));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        DeleteFileW(config.c_str());
        EXPECT_EQ(80u, Machine().battery[0].chargeMode);
        EXPECT_EQ(80u, Machine().battery[1].chargeMode);
    }

    double removeSeconds = 0;
    ASSERT_EQ(0, Msiexec(L"/x", package, &removeSeconds));
    printf("removal: %.1f s (%s)\n", removeSeconds,
           withScheduler ? "with the scheduler" : "no scheduler built: 30 s of looking for it");

    EXPECT_FALSE(Exists(TaskFile(L"vadOvurRegFix")));
    EXPECT_EQ(1u, Machine().uninstallCalls - before.uninstallCalls);
    if (withScheduler) {
        EXPECT_EQ(0u, Machine().battery[0].chargeMode);
        EXPECT_EQ(0u, Machine().battery[1].chargeMode);
        if (HWND scheduler = FindWindowW(L"zbSched", nullptr))
            PostMessageW(scheduler, WM_CLOSE, 0, 0);
    }
    EXPECT_FALSE(Exists(folder + L"instzbw.exe"));
    EXPECT_FALSE(Exists(folder + L"cellio.dll"));
    EXPECT_FALSE(HasProgramsAndFeaturesEntry());
}
