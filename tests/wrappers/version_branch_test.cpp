// Behaviour that depends on the Windows version: nothing loaded on XP,
// user32 without RegisterSuspendResumeNotification accepted on Windows 7
// only, toasts only on Windows 8 and later.
//
// Wine reports a Windows version per program name
// (HKCU\Software\Wine\AppDefaults\<exe>\Version). The VersionBranches tests
// copy this test program to test_wrappers_<version>.exe, set that version
// for the copy, run the matching OnWindows* tests in it, and put the
// registry back. In an ordinary run the OnWindows* tests skip themselves.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/toast.h"
#include "common/wrappers.h"
#include "support/suite_env.h"
#include "toast/toast_watch.h"
#include "wrappers/wrapper_test_support.h"

namespace {

using namespace toasttest;
using namespace wrappertest;

const wchar_t kBranchSwitch[] = L"--windows-branch=";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

// The version this process was started for, from its command line.
std::wstring Branch() {
    const std::wstring commandLine = GetCommandLineW();
    const size_t at = commandLine.find(kBranchSwitch);
    if (at == std::wstring::npos)
        return L"";
    const size_t start = at + wcslen(kBranchSwitch);
    return commandLine.substr(start, commandLine.find(L' ', start) - start);
}

#define RUN_ONLY_ON_BRANCH(...)                                                                    \
    do {                                                                                           \
        const std::wstring branch = Branch();                                                      \
        bool wanted = false;                                                                       \
        for (const wchar_t* version : {__VA_ARGS__})                                               \
            wanted = wanted || branch == version;                                                  \
        if (!wanted)                                                                               \
            GTEST_SKIP() << "runs in the VersionBranches copies";                                  \
    } while (0)

// Sets the Windows version Wine reports to one program, and restores what
// was there before.
class ScopedWineVersion {
public:
    ScopedWineVersion(const std::wstring& exeName, const std::wstring& version)
        : key_(kAppDefaults + exeName) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_QUERY_VALUE, &key) ==
            ERROR_SUCCESS) {
            existed_ = true;
            wchar_t old[64] = {};
            DWORD size = sizeof(old) - sizeof(wchar_t);
            hadValue_ = RegQueryValueExW(key, L"Version", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
            old_ = old;
            RegCloseKey(key);
        }
        Set(version.c_str());
    }
    ~ScopedWineVersion() {
        if (!existed_)
            RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        else if (hadValue_)
            Set(old_.c_str());
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version");
    }
    ScopedWineVersion(const ScopedWineVersion&) = delete;
    ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;

private:
    void Set(const wchar_t* version) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version", REG_SZ, version,
                        static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    }

    std::wstring key_;
    bool existed_ = false;
    bool hadValue_ = false;
    std::wstring old_;
};

// Runs the tests matching filter in a copy of this program that Wine tells
// it runs on version. Passes only when they ran (none skipped) and passed.
void RunUnderWindowsVersion(const std::wstring& version, const std::wstring& filter) {
    const std::wstring exeName = L"test_wrappers_" + version + L".exe";
    const std::wstring copy = testenv::BinDir() + exeName;
    const std::wstring report = testenv::BinDir() + L"test_wrappers_" + version + L".xml";
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE)) << GetLastError();
    DeleteFileW(report.c_str());
    int exitCode = -1;
    {
        ScopedWineVersion wineVersion(exeName, version);
        exitCode = testenv::RunProgram(exeName.c_str(),
                                       L"--gtest_filter=" + filter + L" --gtest_output=xml:" +
                                           report + L" " + kBranchSwitch + version,
                                       60000);
    }
    const std::vector<unsigned char> xml = testenv::ReadFileBytes(report);
    const std::string text(xml.begin(), xml.end());
    DeleteFileW(copy.c_str());
    DeleteFileW(report.c_str());
    EXPECT_EQ(exitCode, 0) << "the " << std::string(version.begin(), version.end())
                           << " run failed (its output is above)";
    EXPECT_NE(text.find("result=\"completed\""), std::string::npos) << "no test ran";
    EXPECT_EQ(text.find("result=\"skipped\""), std::string::npos) << "a test skipped itself";
}

TEST(VersionBranches, WindowsXp) {
    RunUnderWindowsVersion(L"winxp64", L"OnWindowsXp.*");
}
TEST(VersionBranches, Windows7) {
    RunUnderWindowsVersion(L"win7", L"OnWindows7.*");
}
TEST(VersionBranches, Windows8) {
    RunUnderWindowsVersion(L"win8", L"OnWindows8OrLater.*");
}
TEST(VersionBranches, Windows10) {
    RunUnderWindowsVersion(L"win10", L"OnWindows8OrLater.*");
}

// ---------------------------------------------------------------------------
// Run in the copies

std::wstring ToastPath() {
    return testenv::BinDir() + L"KX_NTF.dll";
}

// What the toast library itself answers for the display mode.
DWORD DisplayModeOfLibrary() {
    const HMODULE module = LoadLibraryW(ToastPath().c_str());
    if (!module)
        return 0;
    const auto getMode = reinterpret_cast<PFN_KX_NTF_GetDisplayMode>(
        reinterpret_cast<void*>(GetProcAddress(module, "KX_NTF_GetDisplayMode")));
    DWORD mode = 0;
    if (!getMode || FAILED(getMode(&mode)))
        mode = 0;
    FreeLibrary(module);
    return mode;
}

class TopLevelWindow {
public:
    TopLevelWindow()
        : hWnd_(CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr)) {}
    ~TopLevelWindow() { DestroyWindow(hWnd_); }
    HWND Get() const { return hWnd_; }

private:
    HWND hWnd_;
};

TEST(OnWindowsXp, NothingIsLoadedAndEveryCallIsNeutral) {
    RUN_ONLY_ON_BRANCH(L"winxp64");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwMajorVersion * 10 + version.dwMinorVersion, 52u) << "Windows XP x64";
    ASSERT_TRUE(IsWindowsXP());
    EXPECT_FALSE(IsWindows8OrLater());
    TopLevelWindow window;

    CUser32Wrapper user;
    CUser32Wrapper stubUser(StubPath().c_str());
    CPowrProfWrapper power(StubPath().c_str());
    CComCtrl32Wrapper controls;
    EXPECT_FALSE(user.IsLoaded());
    EXPECT_FALSE(stubUser.IsLoaded());
    EXPECT_FALSE(power.IsLoaded());
    ASSERT_FALSE(controls.IsLoaded());
    EXPECT_EQ(GetModuleHandleW(L"wrapper_stubs.dll"), nullptr);

    EXPECT_FALSE(user.ChangeWindowMessageFilter(0x8402, MSGFLT_ADD));
    EXPECT_FALSE(user.ShutdownBlockReasonCreate(window.Get(), L"refresh"));
    EXPECT_FALSE(user.ShutdownBlockReasonDestroy(window.Get()));
    EXPECT_EQ(user.RegisterPowerSettingNotification(window.Get(), &GUID_NULL, 0), nullptr);
    EXPECT_EQ(user.RegisterSuspendResumeNotification(window.Get(), 0), nullptr);
    EXPECT_FALSE(user.UnregisterPowerSettingNotification(nullptr));
    EXPECT_FALSE(zb::ShutdownBlockReasonCreate(window.Get(), L"refresh"));
    EXPECT_EQ(zb::RegisterPowerSettingNotification(window.Get(), &GUID_NULL, 0), nullptr);

    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof(config);
    config.pfCallback = PressOkWhenCreated; // in case a dialog did open
    int button = -1;
    EXPECT_EQ(controls.TaskDialogIndirect(&config, &button, nullptr, nullptr), 1);
    EXPECT_EQ(zb::TaskDialogIndirect(&config, &button, nullptr, nullptr), 1);

    GUID* active = const_cast<GUID*>(&GUID_NULL);
    EXPECT_EQ(power.PowerGetActiveScheme(nullptr, &active), 120u);
    EXPECT_EQ(active, nullptr);
    EXPECT_EQ(power.PowerSetActiveScheme(nullptr, &GUID_NULL), 120u);
}

TEST(OnWindowsXp, ToastsAreNotStarted) {
    RUN_ONLY_ON_BRANCH(L"winxp64");
    CToastLibrary toast;
    EXPECT_EQ(toast.InitializeToast(), E_FAIL);
    EXPECT_EQ(toast.InitializeToast(ToastPath().c_str()), E_FAIL);
    EXPECT_FALSE(toast.IsToastMode());
    EXPECT_EQ(GetModuleHandleW(L"KX_NTF.dll"), nullptr);
    EXPECT_EQ(DisplayModeOfLibrary(), KX_NTF_MODE_BALLOON);
}

TEST(OnWindows7, User32WithoutSuspendResumeNotificationIsEnough) {
    RUN_ONLY_ON_BRANCH(L"win7");
    ASSERT_FALSE(IsWindowsXP());
    ASSERT_FALSE(IsWindows8OrLater());
    TopLevelWindow window;
    CUser32Wrapper user(StubPath().c_str());
    ASSERT_TRUE(user.IsLoaded());
    EXPECT_TRUE(user.ShutdownBlockReasonCreate(window.Get(), L"refresh"));
    EXPECT_EQ(user.RegisterSuspendResumeNotification(window.Get(), 0), nullptr);
}

TEST(OnWindows7, ToastsAreNotStartedThoughTheLibraryIsThere) {
    RUN_ONLY_ON_BRANCH(L"win7");
    ASSERT_NE(testenv::ReadFileBytes(ToastPath()).size(), 0u);
    CToastLibrary toast;
    EXPECT_EQ(toast.InitializeToast(), E_FAIL);
    EXPECT_FALSE(toast.IsLoaded());
    EXPECT_FALSE(toast.IsToastMode());
    const KX_NTF_TOAST_REQUEST request = MakeToastRequest(4, L"x");
    EXPECT_EQ(toast.DisplayToast(&request), E_FAIL);
    EXPECT_EQ(DisplayModeOfLibrary(), KX_NTF_MODE_BALLOON);
}

TEST(OnWindows8OrLater, User32MustOfferSuspendResumeNotification) {
    RUN_ONLY_ON_BRANCH(L"win8", L"win10");
    ASSERT_TRUE(IsWindows8OrLater());
    ASSERT_FALSE(IsWindowsXP());
    TopLevelWindow window;
    CUser32Wrapper stubUser(StubPath().c_str());
    EXPECT_FALSE(stubUser.IsLoaded());
    EXPECT_EQ(stubUser.Initialize(), 120u);
    EXPECT_FALSE(stubUser.ShutdownBlockReasonCreate(window.Get(), L"refresh"));
    EXPECT_EQ(GetModuleHandleW(L"wrapper_stubs.dll"), nullptr);

    CUser32Wrapper user;
    EXPECT_TRUE(user.IsLoaded());
}

TEST(OnWindows8OrLater, ToastLibraryShowsToastsFromTheProgramDirectory) {
    RUN_ONLY_ON_BRANCH(L"win8", L"win10");
    ASSERT_TRUE(IsWindows8OrLater());
    EXPECT_EQ(DisplayModeOfLibrary(), KX_NTF_MODE_DESKTOP);
    ReportWindow reports;
    TopLevelWindow window;
    CToastLibrary toast;
    EXPECT_FALSE(toast.IsToastMode());
    ASSERT_EQ(toast.InitializeToast(), S_OK);
    EXPECT_EQ(toast.InitializeToast(), E_FAIL); // loaded already: not again
    EXPECT_TRUE(toast.IsToastMode());

    const KX_NTF_TOAST_CMN_INF info = MakeToastCommonInfo(reports.Get());
    ASSERT_EQ(toast.InitToastCommonInfo(&info), S_OK);
    const wchar_t text[] = L"バッテリのリフレッシュ＆診断が完了しました。";
    const KX_NTF_TOAST_REQUEST request = MakeToastRequest(7, text);
    ASSERT_EQ(toast.DisplayToast(&request), S_OK);
    std::vector<HWND> popups = FindToastPopups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(WindowText(popups[0]), text);

    PostMessageW(popups[0], WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
    ASSERT_TRUE(PumpUntil([&] { return reports.Count(TOAST_MSG_ACTIVATED, 7) == 1; }, 5000));
    EXPECT_TRUE(SUCCEEDED(toast.SwitchToDesktop(window.Get())));

    // A toast still up at the end goes with the library.
    ASSERT_EQ(toast.DisplayToast(&request), S_OK);
    toast.FinalizeToast();
    EXPECT_TRUE(FindToastPopups().empty());
    EXPECT_FALSE(toast.IsLoaded());
    EXPECT_FALSE(toast.IsToastMode());
    EXPECT_EQ(toast.DisplayToast(&request), E_FAIL);
    EXPECT_EQ(GetModuleHandleW(L"KX_NTF.dll"), nullptr);
}

TEST(OnWindows8OrLater, WithoutAWorkingToastLibraryBalloonsAreUsed) {
    RUN_ONLY_ON_BRANCH(L"win8", L"win10");
    CToastLibrary missing;
    EXPECT_EQ(missing.InitializeToast((testenv::BinDir() + L"none\\KX_NTF.dll").c_str()), E_FAIL);
    EXPECT_FALSE(missing.IsToastMode());
    EXPECT_EQ(missing.SwitchToDesktop(GetDesktopWindow()), E_FAIL);

    // A library without KX_NTF_Initialize does not start and is not kept.
    CToastLibrary broken;
    EXPECT_EQ(broken.InitializeToast(StubPath().c_str()), E_FAIL);
    EXPECT_FALSE(broken.IsLoaded());
    EXPECT_FALSE(broken.IsToastMode());
    EXPECT_EQ(GetModuleHandleW(L"wrapper_stubs.dll"), nullptr);
}

} // namespace
