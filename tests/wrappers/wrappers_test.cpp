// The optional-function wrappers on the running system, and with libraries
// that lack some or all of the functions.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "common/help.h"
#include "common/wrappers.h"
#include "support/suite_env.h"
#include "wrappers/wrapper_test_support.h"

namespace {

using namespace wrappertest;

const GUID kStubScheme = {
    0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
const GUID kAcDcPowerSource = {
    0x5d3e9a59, 0xe9d5, 0x4b00, {0xa6, 0xbd, 0xff, 0x34, 0xff, 0x51, 0x65, 0x48}};

std::wstring SystemFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH] = {};
    GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\" + name;
}

// With the trace log switched on, so the wrappers' failure lines can be read.
class WrapperLogTest : public testenv::SuiteStateTest {
protected:
    void SetUp() override {
        SuiteStateTest::SetUp();
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZEL\\VADOvur\\Refresh", 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const DWORD on = 1;
        RegSetValueExW(key, L"Log", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof(on));
        RegCloseKey(key);
    }

    static bool TraceHas(const std::wstring& function, const std::wstring& message) {
        for (const std::wstring& line : testenv::ReadLogLines(L"vadovur_refresh.log"))
            if (line.find(L"[" + function + L"]") != std::wstring::npos &&
                line.find(message) != std::wstring::npos)
                return true;
        return false;
    }
};

// Every PowrProf member of a wrapper whose functions are all absent.
void ExpectEveryPowrProfCallNotImplemented(CPowrProfWrapper& power) {
    GUID scheme = kStubScheme;
    GUID* active = &scheme; // must not survive as if it were an identifier
    UCHAR buffer[8] = {};
    DWORD size = sizeof(buffer);
    DWORD index = 7;
    EXPECT_EQ(power.PowerGetActiveScheme(nullptr, &active), 120u);
    EXPECT_EQ(active, nullptr);
    EXPECT_EQ(power.PowerImportPowerScheme(nullptr, L"C:\\refreshplan", &active), 120u);
    EXPECT_EQ(power.PowerEnumerate(nullptr, nullptr, nullptr, ACCESS_SCHEME, 0, buffer, &size),
              120u);
    EXPECT_EQ(power.PowerWriteDescription(nullptr, &scheme, nullptr, nullptr, buffer, 2), 120u);
    EXPECT_EQ(power.PowerDeleteScheme(nullptr, &scheme), 120u);
    EXPECT_EQ(power.PowerDuplicateScheme(nullptr, &scheme, &active), 120u);
    EXPECT_EQ(power.PowerSetActiveScheme(nullptr, &scheme), 120u);
    EXPECT_EQ(power.PowerReadFriendlyName(nullptr, &scheme, nullptr, nullptr, buffer, &size), 120u);
    EXPECT_EQ(power.PowerWriteFriendlyName(nullptr, &scheme, nullptr, nullptr, buffer, 2), 120u);
    EXPECT_EQ(power.PowerReadACValueIndex(nullptr, &scheme, nullptr, nullptr, &index), 120u);
    EXPECT_EQ(power.PowerReadDCValueIndex(nullptr, &scheme, nullptr, nullptr, &index), 120u);
    EXPECT_EQ(power.PowerWriteACValueIndex(nullptr, &scheme, nullptr, nullptr, 1), 120u);
    EXPECT_EQ(power.PowerWriteDCValueIndex(nullptr, &scheme, nullptr, nullptr, 1), 120u);
    EXPECT_EQ(index, 7u);
}

TEST_F(WrapperLogTest, PowerManagerWithoutTheFunctionsAnswersNotImplemented) {
    ASSERT_FALSE(IsWindowsXP());
    // kernel32 stands in for a power manager that has none of the functions.
    CPowrProfWrapper power(SystemFile(L"kernel32.dll").c_str());
    EXPECT_FALSE(power.IsLoaded());
    EXPECT_TRUE(TraceHas(L"CPowrProfWrapper::Initialize",
                         L"Fail to Initialize necessary functions of PowrProf.dll: 00000078."));
    EXPECT_TRUE(
        TraceHas(L"CPowrProfWrapper::CPowrProfWrapper", L"Fail to Initialize(): 00000078."));
    ExpectEveryPowrProfCallNotImplemented(power);
    EXPECT_EQ(power.Initialize(), 120u);
    EXPECT_FALSE(power.IsLoaded());
}

TEST_F(WrapperLogTest, MissingLibraryIsLoggedAndEveryCallIsNeutral) {
    CPowrProfWrapper power((testenv::BinDir() + L"no_such_dir\\PowrProf.dll").c_str());
    EXPECT_FALSE(power.IsLoaded());
    const DWORD error = power.Initialize();
    EXPECT_TRUE(error == ERROR_MOD_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    EXPECT_TRUE(
        TraceHas(L"CPowrProfWrapper::Initialize", L"Fail to LoadLibrary of PowrProf.dll: "));
    ExpectEveryPowrProfCallNotImplemented(power);

    CUser32Wrapper user((testenv::BinDir() + L"no_such_dir\\user32.dll").c_str());
    EXPECT_TRUE(TraceHas(L"CUser32Wrapper::Initialize", L"Fail to LoadLibrary of user32.dll: "));
    EXPECT_FALSE(user.ShutdownBlockReasonCreate(GetDesktopWindow(), L"x"));
    EXPECT_EQ(user.RegisterPowerSettingNotification(GetDesktopWindow(), &kAcDcPowerSource, 0),
              nullptr);
    CComCtrl32Wrapper controls((testenv::BinDir() + L"no_such_dir\\comctl32.dll").c_str());
    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof(config);
    EXPECT_EQ(controls.TaskDialogIndirect(&config, nullptr, nullptr, nullptr), S_FALSE);
}

TEST(PowrProfWrapperTest, OptionalFunctionMayBeAbsentAndCallsGoThrough) {
    ASSERT_FALSE(IsWindowsXP());
    {
        CPowrProfWrapper power(StubPath().c_str());
        ASSERT_TRUE(power.IsLoaded()); // PowerWriteDCValueIndex is not required
        EXPECT_NE(GetModuleHandleW(L"wrapper_stubs.dll"), nullptr);

        GUID* active = nullptr;
        ASSERT_EQ(power.PowerGetActiveScheme(nullptr, &active), 0u);
        ASSERT_NE(active, nullptr);
        EXPECT_TRUE(IsEqualGUID(*active, kStubScheme));
        LocalFree(active);
        DWORD index = 0;
        EXPECT_EQ(power.PowerReadACValueIndex(nullptr, &kStubScheme, nullptr, nullptr, &index), 0u);
        EXPECT_EQ(index, 42u);
        EXPECT_EQ(power.PowerDeleteScheme(nullptr, &kStubScheme), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(power.PowerWriteDCValueIndex(nullptr, &kStubScheme, nullptr, nullptr, 1), 120u);

        // Unloaded, the same object answers like an absent library.
        EXPECT_EQ(power.Uninitialize(), 0u);
        EXPECT_EQ(power.Uninitialize(), 0u);
        EXPECT_EQ(GetModuleHandleW(L"wrapper_stubs.dll"), nullptr);
        active = const_cast<GUID*>(&kStubScheme);
        EXPECT_EQ(power.PowerGetActiveScheme(nullptr, &active), 120u);
        EXPECT_EQ(active, nullptr);
        EXPECT_EQ(power.Initialize(), 0u);
        EXPECT_EQ(power.PowerDeleteScheme(nullptr, &kStubScheme), DWORD(ERROR_ACCESS_DENIED));
    }
    // The destructor gives the library back.
    EXPECT_EQ(GetModuleHandleW(L"wrapper_stubs.dll"), nullptr);
}

TEST(User32WrapperTest, SystemLibraryAndOneShotFormsReachUser32) {
    ASSERT_FALSE(IsWindowsXP());
    const HWND window = CreateWindowExW(0, L"STATIC", L"power", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                        nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    CUser32Wrapper user;
    ASSERT_TRUE(user.IsLoaded());
    const HPOWERNOTIFY notify = user.RegisterPowerSettingNotification(window, &kAcDcPowerSource,
                                                                      DEVICE_NOTIFY_WINDOW_HANDLE);
    EXPECT_NE(notify, nullptr);
    EXPECT_TRUE(user.UnregisterPowerSettingNotification(notify));

    const HPOWERNOTIFY once = zb::RegisterPowerSettingNotification(window, &kAcDcPowerSource,
                                                                   DEVICE_NOTIFY_WINDOW_HANDLE);
    EXPECT_NE(once, nullptr);
    EXPECT_TRUE(zb::UnregisterPowerSettingNotification(once));
    EXPECT_TRUE(zb::ChangeWindowMessageFilter(0x8402, MSGFLT_ADD));
    DestroyWindow(window);
}

TEST(ComCtl32WrapperTest, TaskDialogComesFromTheCommonControls) {
    ASSERT_FALSE(IsWindowsXP());
    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof(config);
    config.dwCommonButtons = TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = L"wrapper";
    config.pszContent = L"closes itself";
    config.pfCallback = PressOkWhenCreated;
    int button = 0;
    CComCtrl32Wrapper controls;
    ASSERT_TRUE(controls.IsLoaded());
    EXPECT_EQ(controls.TaskDialogIndirect(&config, &button, nullptr, nullptr), S_OK);
    EXPECT_EQ(button, IDOK);
    button = 0;
    EXPECT_EQ(zb::TaskDialogIndirect(&config, &button, nullptr, nullptr), S_OK);
    EXPECT_EQ(button, IDOK);
}

// The build puts the help file beside the programs and tests: the case
// without it runs in a copy of this program in a folder of its own.
TEST(HelpTest, MissingHelpFileDoesNothing) {
    if (testenv::ReadFileBytes(testenv::BinDir() + L"VADOvur.chm").empty()) {
        EXPECT_EQ(OpenHelp(GetDesktopWindow(), 10000), nullptr);
        return;
    }
    wchar_t temp[MAX_PATH] = {};
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::wstring folder = std::wstring(temp) + L"zb_no_help\\";
    const std::wstring copy = folder + L"test_wrappers_no_help.exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE)) << GetLastError();
    std::wstring command = L"\"" + copy + L"\" --gtest_filter=HelpTest.*";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    DWORD code = 1;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 30000));
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
    EXPECT_EQ(0u, code);
}

} // namespace
